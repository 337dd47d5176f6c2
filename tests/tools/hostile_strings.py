"""keyscout-list on devices whose strings a display must not trust (strings-hostile.json):
the text output carries no character that acts on a terminal, the JSON is valid and carries
the devices' own values, and a printable serial number is printed byte for byte.

    hostile_strings.py KEYSCOUT_LIST DATA_DIR [RUNNER]   (RUNNER: wine for the Windows build)
"""
import json
import re
import subprocess
import sys

tool, data = sys.argv[1], sys.argv[2]
runner = sys.argv[3:] if len(sys.argv) > 3 and sys.argv[3] else []
fixture = data + "/strings-hostile.json"
failures = 0


def check(name, ok, detail=""):
    global failures
    print(("ok: " if ok else "FAILED: ") + name + ("" if ok else "\n  " + detail))
    failures += 0 if ok else 1


def run(*args):
    out = subprocess.run(runner + [tool, *args, "--machine", fixture], capture_output=True,
                         timeout=120).stdout
    return out.replace(b"\r\n", b"\n")  # the Windows console's line ends


# The text output is in the ANSI code page: 932 for the Windows build, UTF-8 here.
text = run().decode("cp932" if runner else "utf-8", errors="replace")
acting = re.findall("[\x00-\x09\x0b-\x1f\x7f-\x9f\u2028\u2029\u202a-\u202e\u200e\u200f"
                    "\u2066-\u2069\u061c]", text)
check("the text output has no character that acts on a terminal", not acting, repr(acting[:5]))
check("the escape sequence of a serial number is shown, not obeyed",
      "AB\\x1B[31mC\\x0DD\\x0AE\\x09F\\x7FG" in text, repr(text[:400]))
check("a device name's line break is shown as an escape, on one line",
      "Drive\\x0D\\x0ASecond line\n" in text)
check("the printable serial number is printed as the device gives it",
      "Serial:     0123456789-ABCdef_\\\\/\n" in text)  # a backslash is doubled in text

raw = run("--json")
try:
    doc = json.loads(raw.decode("utf-8"))
    valid = True
except (UnicodeDecodeError, json.JSONDecodeError) as e:
    valid, doc = False, {"devices": []}
    print("  " + str(e))
check("the JSON is valid", valid)
check("... python3 -m json.tool accepts it",
      subprocess.run([sys.executable, "-m", "json.tool"], input=raw, capture_output=True)
      .returncode == 0)
serials = [d["serial"] for d in doc["devices"]]
check("... it carries the serial numbers as the devices give them",
      serials[:1] == ["AB\x1b[31mC\rD\nE\tF\x7fG"] and serials[2:3] == ["0123456789-ABCdef_\\/"],
      repr(serials))
# The UTF-16 serial number with a lone surrogate and a NUL: cut at the NUL, the surrogate a
# default character.
check("... a serial number with a lone surrogate and a NUL is cut at the NUL",
      serials[1:2] == ["XY?Z"], repr(serials))
check("... and no raw acting character stands in it",
      re.search(rb"\x7f|\xc2[\x80-\x9f]|\xe2\x80[\xa8-\xae]", raw) is None)

sys.exit(1 if failures else 0)
