"""keyscout-list as scripts read it: on every machine fixture of the suite, the JSON document
follows docs/keyscout-list.schema.json and ends with a newline, the text list ends with a
newline, and a fixture that cannot be used fails with exit code 1, a message on stderr and
nothing on stdout; the live machine, --capture and --watch likewise.

    list_schema.py KEYSCOUT_LIST DATA_DIR [RUNNER]   (RUNNER: wine for the Windows build)
"""
import glob
import os
import selectors
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import list_schema  # noqa: E402

tool, data = sys.argv[1], sys.argv[2]
runner = sys.argv[3:] if len(sys.argv) > 3 and sys.argv[3] else []
work = tempfile.mkdtemp(prefix="ks-list-schema-")
passed = failed = 0


def check(what, ok, detail=""):
    global passed, failed
    if ok:
        passed += 1
        print("ok: " + what)
    else:
        failed += 1
        print("FAILED: " + what + ("\n  " + detail if detail else ""))


def run(*args):
    p = subprocess.run(runner + [tool, *args], capture_output=True, timeout=120)
    return p.returncode, p.stdout.replace(b"\r\n", b"\n"), p.stderr


def ends_with_newline(out):
    return out == b"" or out.endswith(b"\n")


# Every fixture of the suite, the malformed ones included.
fixtures = sorted(glob.glob(os.path.join(data, "*.json")) +
                  glob.glob(os.path.join(data, "fragments", "*.json")))
fixtures = [f for f in fixtures if not f.endswith(".list.json")]
listed = refused = 0
for fixture in fixtures:
    name = os.path.relpath(fixture, data)
    rc, out, err = run("--json", "--machine", fixture)
    if rc == 1:
        refused += 1
        check("%s: refused with a message and no document" % name, out == b"" and len(err) > 0,
              "stdout %r, stderr %r" % (out[:100], err[:200]))
        continue
    listed += 1
    found = list_schema.problems(out) if rc == 0 else ["exit code %d" % rc]
    check("%s: the JSON follows the schema" % name, not found, "; ".join(found[:5]))
    if runner and listed > 3:
        continue  # under Wine every run costs seconds: the text of a few is enough there
    rc, text, _ = run("--machine", fixture)
    check("%s: the text list ends with a newline" % name, rc == 0 and ends_with_newline(text),
          repr(text[-40:]))
check("most fixtures are listed, not refused", listed > 2 * refused and listed >= 20,
      "%d listed, %d refused" % (listed, refused))

for golden in sorted(glob.glob(os.path.join(data, "*.list.json"))):
    with open(golden, "rb") as f:
        found = list_schema.problems(f.read())
    check("%s: the checked-by-hand document follows the schema" % os.path.basename(golden),
          not found, "; ".join(found[:5]))

# The machine the test runs on (under Wine: no USB host controller at all).
rc, out, _ = run("--json")
found = list_schema.problems(out) if rc == 0 else ["exit code %d" % rc]
check("this machine: the JSON follows the schema", not found, "; ".join(found[:5]))

# A capture is a document too, and its listing is the one of the same scan.
capture = os.path.join(work, "capture.json")
rc, out, _ = run("--json", "--machine", os.path.join(data, "example-small.json"),
                 "--capture", capture)
found = list_schema.problems(out) if rc == 0 else ["exit code %d" % rc]
check("--capture: the JSON follows the schema", not found, "; ".join(found[:5]))
with open(capture, "rb") as f:
    check("--capture: the fixture it writes ends with a newline", ends_with_newline(f.read()))

# --watch: one document per line, each following the schema, until interrupted.
p = subprocess.Popen(runner + [tool, "--watch", "--json", "--machine",
                               os.path.join(data, "example-small.json")],
                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
seen = b""
with selectors.DefaultSelector() as sel:
    sel.register(p.stdout, selectors.EVENT_READ)
    deadline = time.monotonic() + 60  # the first list comes at once
    while b"\n" not in seen and time.monotonic() < deadline:
        if sel.select(timeout=max(0, deadline - time.monotonic())):
            chunk = os.read(p.stdout.fileno(), 65536)
            if not chunk:
                break
            seen += chunk
p.send_signal(signal.SIGINT)
try:
    rest, _ = p.communicate(timeout=60)
except subprocess.TimeoutExpired:
    p.kill()
    rest, _ = p.communicate()
lines = [line + b"\n" for line in (seen + rest).replace(b"\r\n", b"\n").split(b"\n") if line]
check("--watch --json: a list within 60 s", len(lines) > 0, "nothing on stdout")
for i, line in enumerate(lines):
    found = list_schema.problems(line)
    check("--watch --json: line %d follows the schema" % (i + 1), not found, "; ".join(found[:5]))
check("--watch ends with 0 when interrupted", p.returncode == 0, "exit code %s" % p.returncode)

print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
