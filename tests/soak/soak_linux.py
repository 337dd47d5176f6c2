"""A soak of device changes on a umockdev test bed, against the live Linux machine reader:

    soak_linux.py list|window PROGRAM CHANGES SECONDS

Run under umockdev-wrapper (and, for the window, inside a D-Bus session with $DISPLAY set:
the window is read through the accessibility tree, from outside). The bed has a root hub
with four ports; the flash drive on port 1 stays, and the storm plugs drives into ports 2
to 4 and pulls them out again, CHANGES arrivals and removals in all, spread over SECONDS,
each with its udev event. PROGRAM runs meanwhile: keyscout-list --watch --json ("list"), or
keyscout, the window ("window").

Afterwards: what the program shows (the last list it printed; the window's list, its
selection and its serial field) is the bed as it is; its resident memory has grown by at
most 2 MiB since the warm-up (the first tenth of the changes); it has as many open file
descriptors as after the warm-up; and no scan runs any more once the storm has settled: the
bed's bus folder, which every scan reads first, is opened by nobody for QUIET seconds
(inotify on the bed's folder, seen from outside the program). Prints the figures, one
"soak:" line each, and ends with "N passed, N failed".
"""

import ctypes
import json
import os
import random
import struct
import subprocess
import sys
import threading
import time

import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import UMockdev  # noqa: E402

TARGET, PROGRAM = sys.argv[1], sys.argv[2]
CHANGES, SECONDS = int(sys.argv[3]), float(sys.argv[4])
QUIET = 5.0  # s without a scan that counts as settled: past the watch's 1 s bound on a burst
SETTLE_LIMIT = 60.0  # s at most for the program to show the bed after the storm
MEMORY_LIMIT = 2 * 1024 * 1024
passed = failed = 0


def check(what, ok, detail=""):
    global passed, failed
    if ok:
        passed += 1
        print("ok: " + what, flush=True)
    else:
        failed += 1
        print("FAILED: " + what + ("\n  " + detail if detail else ""), flush=True)


def figure(text):
    print("soak: " + text, flush=True)


ROOT = "/devices/pci0000:00/0000:00:14.0/usb1"
ROOT_HUB = (
    "P: " + ROOT + "\nN: bus/usb/001/001\n"
    "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/bus/usb/001/001\n"
    "A: busnum=1\\n\nA: devnum=1\\n\nA: maxchild=4\\n\nA: speed=480\\n\n"
    "H: descriptors=12010002090000406b1d020000010302010109021900010100e0000904000001090000000705"
    "8103040000ff\n")


def device(port):
    """A flash drive on root port `port`: serial SER<port>, product "Kestrel Flash <port>"."""
    return ("P: %s/1-%d\nN: bus/usb/001/%03d\n"
            "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/bus/usb/001/%03d\n"
            "A: devnum=%d\\n\nA: speed=480\\n\nA: serial=SER%d\\n\n"
            "A: product=Kestrel Flash %d\\n\n"
            "H: descriptors=12010002000000401a2e%02x10000100020301\n"
            % (ROOT, port, port + 1, port + 1, port + 1, port, port, port))


def sys_path(port):
    return "/sys" + ROOT + "/1-%d" % port


class ScanCounter:
    """Counts the opens of the bed's bus folder (each scan reads it first), from outside."""
    IN_OPEN = 0x20

    def __init__(self, folder):
        libc = ctypes.CDLL("libc.so.6", use_errno=True)
        self.fd = libc.inotify_init1(os.O_CLOEXEC)
        if self.fd < 0 or libc.inotify_add_watch(self.fd, folder.encode(), self.IN_OPEN) < 0:
            raise OSError(ctypes.get_errno(), "inotify on " + folder)
        self.count = 0
        self.last = time.monotonic()
        threading.Thread(target=self.run, daemon=True).start()

    def run(self):
        while True:
            data = os.read(self.fd, 65536)
            at = 0
            while at + 16 <= len(data):
                _, mask, _, length = struct.unpack_from("iIII", data, at)
                if mask & self.IN_OPEN and length == 0:
                    self.count += 1
                    self.last = time.monotonic()
                at += 16 + length


def resident(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0


def descriptors(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


# --- What the program shows ----------------------------------------------------------------

class ListView:
    """keyscout-list --watch --json: one JSON document per line, the last one counts."""

    def __init__(self):
        self.proc = subprocess.Popen([PROGRAM, "--watch", "--json"], stdout=subprocess.PIPE,
                                     text=True)
        self.last = None
        self.lists = 0
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        for line in self.proc.stdout:
            self.last = line
            self.lists += 1

    def shown(self):
        """The serials of the last list printed, in order (None before the first)."""
        if self.last is None:
            return None
        try:
            doc = json.loads(self.last)
        except ValueError:
            return ["<not JSON: %r>" % self.last[:80]]
        devices = doc["devices"] if isinstance(doc, dict) else doc
        return [d.get("serial", "") for d in devices]

    def details(self):
        return "last list printed: %r" % (self.last or "")[:300]


class WindowView:
    """keyscout's window, read through the accessibility tree as a screen reader reads it."""

    def __init__(self):
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi
        self.Atspi = Atspi
        Atspi.get_desktop(0)  # the accessibility bus is up before the program asks for it
        # Into the process's own environment: the bed's folder is there too (umockdev sets
        # it below Python's copy), and the program inherits both.
        os.environ["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        # A copy that ends at once, quietly, found another copy running (one of another
        # test run on this machine): try again while that one lasts, at most 30 s.
        for _ in range(30):
            self.proc = subprocess.Popen([PROGRAM], stderr=subprocess.DEVNULL)
            try:
                if self.proc.wait(1) != 0:
                    break
            except subprocess.TimeoutExpired:
                break
        self.lists = 0
        self.state = None

    def window(self):
        desktop = self.Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            try:
                if app is not None and app.get_process_id() == self.proc.pid:
                    return app
            except Exception:
                pass
        return None

    def read(self):
        """(list lines, selected lines, the three field texts) or None."""
        app = self.window()
        if app is None:
            return None
        lines, selected, fields = [], [], []

        def walk(node):
            role = node.get_role_name()
            if role == "list item":
                lines.append(node.get_name())
                if node.get_state_set().contains(self.Atspi.StateType.SELECTED):
                    selected.append(node.get_name())
            elif role == "text":
                fields.append(self.Atspi.Text.get_text(node, 0, -1))
            if role in ("tree", "list item"):
                return
            for i in range(node.get_child_count()):
                child = node.get_child_at_index(i)
                if child is not None:
                    walk(child)

        try:
            walk(app)
        except Exception as e:  # the window changed under the walk: read again
            return ("<%s>" % e,)
        return lines, selected, fields

    def shown(self):
        self.state = self.read()
        if self.state is None or len(self.state) != 3:
            return None
        lines, selected, fields = self.state
        # Each line names its drive, whose serial is SER<port>.
        return ["SER" + line.rsplit(" ", 1)[-1] for line in lines]

    def details(self):
        return "the window shows (lines, selected, fields): %r" % (self.state,)


def main():
    bed = UMockdev.Testbed.new()
    if not UMockdev.in_mock_environment():
        sys.exit("soak_linux.py: run it under umockdev-wrapper")
    bed.add_from_string(ROOT_HUB)
    bed.add_from_string(device(1))
    present = {1}
    counter = ScanCounter(bed.get_sys_dir() + "/bus/usb/devices")
    view = ListView() if TARGET == "list" else WindowView()
    pid = view.proc.pid
    rng = random.Random(17)
    expected = lambda: ["SER%d" % p for p in sorted(present)]  # noqa: E731

    def settle(what):
        """Waits until the program shows the bed and then scans no more for QUIET s."""
        deadline = time.monotonic() + SETTLE_LIMIT
        while time.monotonic() < deadline:
            if view.shown() == expected() and time.monotonic() - counter.last >= QUIET:
                return True
            time.sleep(0.2)
        check(what + ": the program shows the bed and goes quiet within %d s" % SETTLE_LIMIT,
              False, "bed %s; %s; last scan %.1f s ago" % (expected(), view.details(),
                                                          time.monotonic() - counter.last))
        return False

    def change():
        port = rng.choice((2, 3, 4))
        if port in present:
            bed.uevent(sys_path(port), "remove")
            bed.remove_device(sys_path(port))
            present.discard(port)
        else:
            bed.add_from_string(device(port))
            bed.uevent(sys_path(port), "add")
            present.add(port)

    if not settle("start"):
        if view.proc.poll() is not None:
            print("  the program ended at once with status %d (another copy running?)"
                  % view.proc.returncode)
        view.proc.kill()
        return
    # Warm-up: the first tenth of the changes, quickly; then the figures to hold against.
    warmup = max(1, CHANGES // 10)
    for _ in range(warmup):
        change()
        time.sleep(0.005)
    if not settle("warm-up"):
        view.proc.kill()
        return
    rss0, fds0, scans0, lists0 = resident(pid), descriptors(pid), counter.count, view.lists

    start = time.monotonic()
    peak = rss0
    storm = CHANGES - warmup
    for i in range(storm):
        # Spread evenly over the time, in bursts as a user's hub gives them.
        target = start + SECONDS * (i + 1) / storm
        change()
        delay = target - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        if i % 200 == 0:
            peak = max(peak, resident(pid))
        if view.proc.poll() is not None:
            break
    elapsed = time.monotonic() - start
    check("the program ran through the storm", view.proc.poll() is None,
          "it ended with status %s" % view.proc.returncode)
    settled = settle("after the storm")
    rss1, fds1 = resident(pid), descriptors(pid)
    peak = max(peak, rss1)
    scans = counter.count - scans0
    last_quiet = time.monotonic() - counter.last

    figure("%s: %d changes (%d warm-up, %d in the storm over %.0f s), %d scans in the storm "
           "and its settling%s" % (TARGET, CHANGES, warmup, storm, elapsed, scans,
                                   ", %d lists printed" % (view.lists - lists0)
                                   if TARGET == "list" else ""))
    figure("%s: resident memory %.2f MiB after the warm-up, %.2f MiB at the end (%+.2f MiB), "
           "peak %.2f MiB" % (TARGET, rss0 / 2**20, rss1 / 2**20, (rss1 - rss0) / 2**20,
                              peak / 2**20))
    figure("%s: open file descriptors %d after the warm-up, %d at the end" % (TARGET, fds0, fds1))
    check("what the program shows is the bed as it is (%s)" % " ".join(expected()),
          settled and view.shown() == expected(), view.details())
    if TARGET == "window" and view.state is not None and len(view.state) == 3:
        lines, selected, fields = view.state
        # The drive on port 1 was there all along, first in the list, and selected since the
        # first scan: the selection stays on it, and the fields show it.
        check("the selection stayed on the drive that stayed (port 1), and its fields show it",
              selected == ["Kestrel Flash 1"] and fields[-1:] == ["SER1"],
              "selected %r, fields %r" % (selected, fields))
    check("resident memory grew by at most 2 MiB after the warm-up",
          rss1 - rss0 <= MEMORY_LIMIT, "%d bytes more" % (rss1 - rss0))
    check("as many open file descriptors as after the warm-up", fds1 == fds0,
          "%d then, %d now: %s" % (fds0, fds1, sorted(os.listdir("/proc/%d/fd" % pid))))
    check("no scan once the storm has settled (the bus folder untouched for %.0f s)" % QUIET,
          settled and last_quiet >= QUIET, "last scan %.1f s ago" % last_quiet)
    view.proc.terminate()
    try:
        view.proc.wait(10)
    except subprocess.TimeoutExpired:
        view.proc.kill()


main()
print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
