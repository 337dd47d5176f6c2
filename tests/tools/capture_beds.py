"""keyscout-list --capture on the live Linux backend, on umockdev test beds: the capture of
each bed, taken inside it, replays outside it (with --machine) to the same text and JSON.

    capture_beds.py KEYSCOUT_LIST BEDS_FOLDER

BEDS_FOLDER holds testbeds.py, which builds the beds.
"""

import os
import subprocess
import sys
import tempfile

TOOL = sys.argv[1]
sys.path.insert(0, sys.argv[2])
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import list_schema  # noqa: E402
import testbeds  # noqa: E402

WORK = tempfile.mkdtemp(prefix="ks-capture-beds-")
passed = failed = 0


def check(what, ok, detail=""):
    global passed, failed
    if ok:
        passed += 1
        print("ok: " + what)
    else:
        failed += 1
        print("FAILED: " + what + ("\n  " + detail if detail else ""))


def run(args, bed=None):
    cmd = ["umockdev-run", "-d", bed, "--"] + args if bed else args
    p = subprocess.run(cmd, capture_output=True, timeout=120)
    return p.returncode, p.stdout, p.stderr


beds = dict(testbeds.BEDS)
beds["many"] = testbeds.bed_many
for name, make in beds.items():
    bed = os.path.join(WORK, name + ".umockdev")
    with open(bed, "w") as f:
        f.write(make().text())
    for form in ([], ["--json"]):
        what = "%s%s" % (name, " (JSON)" if form else "")
        capture = os.path.join(WORK, "%s%s.capture.json" % (name, "-json" if form else ""))
        rc, live, err = run([TOOL] + form + ["--capture", capture], bed)
        check("%s: the listing with --capture succeeds on the bed" % what, rc == 0, err[-300:])
        if form:
            found = list_schema.problems(live)
            check("%s: the JSON follows the schema" % what, not found, "; ".join(found[:5]))
        rc, replay, err = run([TOOL] + form + ["--machine", capture])
        check("%s: the capture replays" % what, rc == 0, err.decode(errors="replace")[-300:])
        check("%s: to the same output" % what, live == replay and len(live) > 20,
              "live:\n%s\nreplay:\n%s" % (live.decode(errors="replace")[:600],
                                          replay.decode(errors="replace")[:600]))

print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
