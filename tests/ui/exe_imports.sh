#!/usr/bin/env bash
# KeyScout.exe is one file that runs on any Windows 7 to 11: a GUI-subsystem i686 program
# whose header names Windows 7 (6.1) as the oldest it runs on, and that imports nothing
# beyond the system's own DLLs, with its manifest and version inside.
#   exe_imports.sh KEYSCOUT_EXE OBJDUMP
set -u
exe=$1
objdump=$2
pass=0 fail=0
check() {  # name expected actual
    if [ "$2" == "$3" ]; then pass=$((pass + 1)); echo "ok: $1"
    else fail=$((fail + 1)); echo "FAILED: $1"; echo "  expected: $2"; echo "  actual:   $3"; fi
}
headers=$(LC_ALL=C "$objdump" -p "$exe")
check "a 32-bit program" "pei-i386" "$(grep -o 'file format [a-z0-9-]*' <<<"$headers" | awk '{print $3}')"
check "of the GUI subsystem" "(Windows GUI)" "$(grep -o '(Windows GUI)' <<<"$headers" | head -n 1)"
field() { awk -v f="$1" '$1 == f {print $2}' <<<"$headers"; }
check "made for Windows 7 and later (subsystem 6.1)" "6.1" "$(field MajorSubsystemVersion).$(field MinorSubsystemVersion)"
check "... as its OS version says too" "6.1" "$(field MajorOSystemVersion).$(field MinorOSystemVersion)"
# The DLLs every Windows has in its system folder.
system="ADVAPI32.DLL COMCTL32.DLL GDI32.DLL KERNEL32.DLL MSVCRT.DLL SETUPAPI.DLL USER32.DLL"
others=""
for dll in $(grep 'DLL Name:' <<<"$headers" | awk '{print toupper($3)}' | sort -u); do
    case " $system " in *" $dll "*) ;; *) others="$others $dll" ;; esac
done
check "it imports only system DLLs" "" "$others"
echo "imports: $(grep 'DLL Name:' <<<"$headers" | awk '{print $3}' | sort -u | tr '\n' ' ')"
echo "$pass passed, $fail failed"
[ "$fail" -eq 0 ]
