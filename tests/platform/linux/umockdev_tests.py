"""keyscout-list on umockdev test beds, judged by lsusb run on the same bed.

    umockdev_tests.py KEYSCOUT_LIST

On every bed the set of (Vendor ID, Product ID, serial) that keyscout-list --json reports
equals what lsusb -v reports for the non-hub devices. Then what lsusb cannot judge: the
details trees, a device removed between two scans, an interface missing from the bus
folder, and that nothing is opened for writing.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import list_schema  # noqa: E402
import testbeds  # noqa: E402

TOOL = sys.argv[1]
WORK = tempfile.mkdtemp(prefix="ks-beds-")
passed = failed = skipped = 0


def check(what, ok, detail=""):
    global passed, failed
    if ok:
        passed += 1
        print("ok: " + what)
    else:
        failed += 1
        print("FAILED: " + what + ("\n  " + detail if detail else ""))


def write_bed(name, bed):
    path = os.path.join(WORK, name + ".umockdev")
    with open(path, "w") as f:
        f.write(bed.text())
    return path


def under_bed(bed_file, script):
    """Runs a shell script inside the bed; returns (rc, stdout, stderr)."""
    p = subprocess.run(["umockdev-run", "-d", bed_file, "--", "bash", "-c", script],
                       capture_output=True, text=True, timeout=120)
    return p.returncode, p.stdout, p.stderr


def lsusb_devices(text):
    """(vid, pid, serial) of every non-hub device in lsusb -v output."""
    found = set()
    for block in re.split(r"\n(?=Bus \d+ Device \d+)", text):
        m = re.match(r"Bus \d+ Device \d+: ID ([0-9a-f]{4}):([0-9a-f]{4})", block)
        if not m:
            continue
        cls = re.search(r"^\s*bDeviceClass\s+(\d+)", block, re.M)
        if cls and int(cls.group(1)) == 9:
            continue
        ser = re.search(r"^\s*iSerial\s+(\d+)(?: (.*))?$", block, re.M)
        serial = ser.group(2).strip() if ser and int(ser.group(1)) != 0 and ser.group(2) else ""
        found.add((int(m.group(1), 16), int(m.group(2), 16), serial))
    return found


def list_json(bed_file, extra=""):
    rc, out, err = under_bed(bed_file, extra + "'%s' --json" % TOOL)
    if rc == 0:
        found = list_schema.problems(out.encode())
        check("%s: the JSON follows the schema" % os.path.basename(bed_file), not found,
              "; ".join(found[:5]))
    try:
        return rc, json.loads(out)
    except ValueError:
        return rc, {"error": out + err}


def ours(doc):
    return {(d["vendorId"], d["productId"], d["serial"]) for d in doc.get("devices", [])}


def texts(node):
    yield node["text"]
    for c in node["children"]:
        yield from texts(c)


def device(doc, vid, pid):
    for d in doc.get("devices", []):
        if d["vendorId"] == vid and d["productId"] == pid:
            return d
    return None


# --- The peer is the judge --------------------------------------------------------------------
docs = {}
for name, make in testbeds.BEDS.items():
    bed = write_bed(name, make())
    rc, doc = list_json(bed)
    docs[name] = doc
    check("%s: keyscout-list succeeds" % name, rc == 0, str(doc)[:300])
    bed_obj = make()
    check("%s: the (vendor, product, serial) the bed holds" % name, ours(doc) == bed_obj.expected,
          "keyscout-list: %s\n  bed:           %s" % (sorted(ours(doc)), sorted(bed_obj.expected)))
    _, lsusb_out, _ = under_bed(bed, "lsusb -v 2>/dev/null")
    peer = lsusb_devices(lsusb_out)
    check("%s: lsusb sees the bed" % name, len(peer) > 0, lsusb_out[:300])
    if bed_obj.lsusb_expected == bed_obj.expected:
        mine = ours(doc)
    else:
        check("%s: lsusb reads what it reads of values without a newline" % name,
              peer == bed_obj.lsusb_expected, str(sorted(peer)))
        mine = {x for x in ours(doc) if x in peer}
        peer = {x for x in peer if x in bed_obj.expected}
    check("%s: the same (vendor, product, serial) as lsusb" % name, mine == peer,
          "keyscout-list: %s\n  lsusb:         %s" % (sorted(mine), sorted(peer)))

# --- What lsusb does not show -----------------------------------------------------------------
d = device(docs["nested"], 0x3F0C, 0xC31C)
check("nested: the device three hubs deep is listed, in walk order before root port 2",
      d is not None and [x["productId"] for x in docs["nested"]["devices"]] == [0xC31C, 0x6001])

d = device(docs["storage"], 0x2E1A, 0x5567)
tree = list(texts(d["details"])) if d else []
check("storage: the tree holds the interface, the SCSI host, device, disk and partition",
      tree[1:] == ["USB mass storage interface", "SCSI host adapter (host6)",
                   "Kestrel Flash 16GB (6:0:0:0)", "Kestrel Flash 16GB (sdb)", "sdb1"], str(tree))
check("storage: the device on the second controller is listed",
      device(docs["storage"], 0x0BDA, 0x0129) is not None)

d = device(docs["composite"], 0x046D, 0xC31C)
tree = list(texts(d["details"])) if d else []
check("composite: names from the udev database, two HID interfaces with their HID devices",
      tree == ["Larkspur Devices K120 Keyboard", "USB HID interface", "Larkspur Keyboard Combo",
               "USB HID interface", "Larkspur Keyboard Combo"], str(tree))

d = device(docs["bare-hub"], 0x3F0D, 0x2C99)
check("bare-hub: attributes without a newline read whole, behind a hub without strings",
      d is not None and d["serial"] == "PC2303A0047" and d["details"]["text"] ==
      "Pinecrest USB Serial", str(d))

# The hardware database for real: the names shown are those udevadm finds for the same ids
# on this machine, or the device's own strings where it knows none.
def hwdb_names(vid, pid):
    try:
        out = subprocess.run(["udevadm", "hwdb", "--test=usb:v%04Xp%04X" % (vid, pid)],
                             capture_output=True, text=True, timeout=30).stdout
    except OSError:
        return None
    found = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return found.get("ID_VENDOR_FROM_DATABASE", ""), found.get("ID_MODEL_FROM_DATABASE", "")


known = 0
for name, vid, pid, manufacturer, product, _ in testbeds.HWDB_DEVICES:
    names = hwdb_names(vid, pid)
    if names is None:
        check("hwdb: udevadm runs", False, "udevadm is not installed (scripts/install-deps.sh)")
        break
    vendor, model = names[0] or manufacturer, names[1] or product
    known += 1 if names[0] else 0
    want = model if model.startswith(vendor) else vendor + " " + model
    d = device(docs["hwdb"], vid, pid)
    got = d["details"]["text"] if d else None
    check("hwdb: %04x:%04x is named as udevadm hwdb names it" % (vid, pid), got == want,
          "keyscout-list: %r\n  udevadm hwdb:  %r" % (got, want))
check("hwdb: the database knows the well-known ids", known >= 4,
      "%d of %d known: is udev's hwdb.bin built?" % (known, len(testbeds.HWDB_DEVICES)))

# A device removed between two scans: the second scan does not list it, the first did.
bed = write_bed("serials-remove", testbeds.bed_serials())
dev = testbeds.ROOT_PCI + "/usb1/1-2"
rc, out, err = under_bed(bed, "'{0}' --json > first.json; rm -rf /sys{1}; "
                         "rm -f /sys/bus/usb/devices/1-2 /sys/bus/usb/devices/1-2:1.0; "
                         "'{0}' --json".format(TOOL, dev).replace("first.json",
                                                                  WORK + "/first.json"))
with open(WORK + "/first.json") as f:
    first = json.load(f)
second = json.loads(out) if rc == 0 else {}
check("a device removed between two scans is in the first list and not in the second",
      len(first["devices"]) == 4 and len(second.get("devices", [])) == 3 and
      [x["serial"] for x in second["devices"]] == ["", "SN 0001", "LG-2024-000731"], out + err)

# An interface folder missing from /sys/bus/usb/devices: the device tree still has it.
bed = write_bed("composite-nolink", testbeds.bed_composite())
rc, out, err = under_bed(bed, "rm -f /sys/bus/usb/devices/1-1:1.1; '%s' --json" % TOOL)
doc = json.loads(out) if rc == 0 else {}
d = device(doc, 0x046D, 0xC31C)
check("an interface missing from the bus folder is still in the tree",
      d is not None and len(d["details"]["children"]) == 2, out + err)

# Nothing is opened for writing, anywhere.
if shutil.which("strace"):
    bed = write_bed("storage-strace", testbeds.bed_storage())
    # LeakSanitizer cannot run under ptrace: a sanitizer build is traced without it.
    asan = os.environ.get("ASAN_OPTIONS", "")
    env = "ASAN_OPTIONS='%s:detect_leaks=0' " % asan if asan else ""
    rc, out, err = under_bed(bed, "%sstrace -f -e trace=open,openat,creat -o '%s/trace' '%s' "
                             "--json >/dev/null" % (env, WORK, TOOL))
    with open(WORK + "/trace") as f:
        opens = [line for line in f if "open" in line or "creat" in line]
    writes = [line for line in opens if re.search(r"O_WRONLY|O_RDWR|O_CREAT|creat\(", line)]
    check("nothing is opened for writing (strace)", rc == 0 and len(opens) > 10 and not writes,
          "rc %d, %d opens: %s%s" % (rc, len(opens), "".join(writes[:5]), err[-300:]))
else:
    skipped += 1
    print("skipped: strace not installed")

shutil.rmtree(WORK, ignore_errors=True)
print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
# A check that could not run leaves the test skipped (status 77), never passed.
sys.exit(1 if failed else 77 if skipped else 0)
