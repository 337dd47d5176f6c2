#!/usr/bin/env python3
"""A stand-in X display that turns connections away, for the window tests:

    x_turnaway.py NUMBER PLAN

Listens at /tmp/.X11-unix/X<NUMBER> and passes connections on to the X server of $DISPLAY.
PLAN says what becomes of each connection that begins the X handshake, in order: "p" passes
it on, "d" closes it unanswered (as an X server does with the connections it has not yet
answered when it resets itself after its last client has left); its last letter holds for
all that follow ("dp": the first is turned away, the rest pass; "pd": only the first
passes). A connection that ends without a byte (a check that the socket answers) is passed
over and not counted.
Prints "ready" once it listens; ends on SIGTERM, or after 120 s.
"""

import os
import signal
import socket
import sys
import threading

number, plan = int(sys.argv[1]), sys.argv[2]
path = "/tmp/.X11-unix/X%d" % number
display = os.environ["DISPLAY"]
target = "/tmp/.X11-unix/X" + display.rsplit(":", 1)[1].split(".")[0]
seen = 0
lock = threading.Lock()


def relay(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    for s in (src, dst):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def serve(client):
    global seen
    client.settimeout(10)
    try:
        first = client.recv(65536)
    except OSError:
        first = b""
    if not first:
        client.close()
        return
    with lock:
        turn_away = plan[min(seen, len(plan) - 1)] == "d"
        seen += 1
    if turn_away:
        client.close()
        return
    client.settimeout(None)
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.connect(target)
    server.sendall(first)
    threading.Thread(target=relay, args=(server, client), daemon=True).start()
    relay(client, server)


def end(*_):
    try:
        os.unlink(path)
    except OSError:
        pass
    os._exit(0)


signal.signal(signal.SIGTERM, end)
signal.signal(signal.SIGALRM, end)
signal.alarm(120)
# A socket file that nobody listens at is what an ended stand-in left behind.
probe = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
try:
    probe.connect(path)
    sys.exit("x_turnaway.py: %s is in use" % path)
except ConnectionRefusedError:
    os.unlink(path)
except FileNotFoundError:
    pass
probe.close()
listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
listener.bind(path)
listener.listen(16)
print("ready", flush=True)
while True:
    conn, _ = listener.accept()
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
