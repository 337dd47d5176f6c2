#!/usr/bin/env bash
# Checks the artwork in res/: remakes it with scripts/make-art.py in a temporary folder and
# compares it byte for byte with the files in git, then checks that every file is what its
# readers expect: ImageMagick reads each one, the icon and bitmap have the layout Windows
# loads, windres takes them into a resource script and, where Wine and the cross compiler
# are at hand, LoadIcon and LoadImage in a Windows program return the right images.
# Exits 1 with a message for each fault. KS_ART_WINE=0 leaves out the Wine step; with
# KS_ART_STRICT=1 (the test command, which installs the tools first) a step whose tool is
# missing is a fault, not a skip.
set -euo pipefail
cd "$(dirname "$0")/.."

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
loaded=" (not loaded under Wine)"
fail() {
  echo "FAILED: $*"
  status=1
}
skip() {
  if [ "${KS_ART_STRICT:-0}" = 1 ]; then fail "$* (the test command provides it)"; else echo "skipped: $*"; fi
}

# 1. The files in git are the ones the script draws.
python3 scripts/make-art.py --out "$tmp"
made=$(cd "$tmp" && find res -type f | sort)
kept=$( (ls res/KeyScout.ico res/KeyScout.bmp 2>/dev/null; find res/icons -type f 2>/dev/null) | sort)
for f in $made; do
  if [ ! -f "$f" ]; then
    fail "$f is missing: run 'python3 scripts/make-art.py' and commit what it writes"
  elif ! cmp -s "$tmp/$f" "$f"; then
    fail "$f differs from what scripts/make-art.py draws: run 'python3 scripts/make-art.py'" \
      "and commit the result (or, if the script was not changed, find why its output changed)"
  fi
done
for f in $kept; do
  [ -f "$tmp/$f" ] || fail "$f is not made by scripts/make-art.py: remove it"
done

# 2. ImageMagick reads every image at its size: the icon's nine images in directory order.
ico_sizes=$(identify -format '%wx%h ' res/KeyScout.ico 2>&1 || true)
[ "$ico_sizes" = "48x48 48x48 48x48 32x32 32x32 32x32 16x16 16x16 16x16 " ] ||
  fail "identify res/KeyScout.ico: expected 3 images each of 48, 32 and 16 px, got: $ico_sizes"
bmp=$(identify -format '%m %wx%h %[opaque]' res/KeyScout.bmp 2>&1 || true)
[ "${bmp,,}" = "bmp3 160x320 true" ] ||
  fail "identify res/KeyScout.bmp: expected 'BMP3 160x320 True', got: $bmp"
for n in 16 32 48 64 128 256; do
  f=res/icons/hicolor/${n}x${n}/apps/keyscout.png
  got=$(identify -format '%m %wx%h %[channels]' "$f" 2>&1 || true)
  [ "$got" = "PNG ${n}x${n} srgba" ] || fail "identify $f: expected 'PNG ${n}x${n} srgba', got: $got"
done

# 3. The layout Windows reads, field by field.
python3 - res <<'EOF' || status=1
import struct, sys, zlib, xml.etree.ElementTree as ET

res = sys.argv[1]
faults = []
def fault(msg):
    faults.append(msg)

STD16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]

# The icon: a directory of nine DIB images, each BITMAPINFOHEADER with the height doubled,
# the palette, the colour bits and a 1-bpp AND mask, bottom-up.
ico = open(res + '/KeyScout.ico', 'rb').read()
reserved, kind, count = struct.unpack_from('<HHH', ico)
want = [(s, b) for s in (48, 32, 16) for b in (32, 8, 4)]
if (reserved, kind, count) != (0, 1, len(want)):
    fault('KeyScout.ico: header %r, expected (0, 1, 9)' % ((reserved, kind, count),))
images = {}
end = 6 + 16 * count
for i in range(count):
    w, h, colours, zero, planes, bpp, size, off = struct.unpack_from('<BBBBHHII', ico, 6 + 16 * i)
    name = 'KeyScout.ico image %d (%dx%d, %d bpp)' % (i, w, h, bpp)
    if i < len(want) and (w, bpp) != want[i]:
        fault('%s: expected %d px at %d bpp in this place' % ((name,) + want[i]))
    if h != w or zero != 0 or planes != 1 or colours != (16 if bpp == 4 else 0):
        fault('%s: directory entry fields wrong' % name)
    if off != end or off + size > len(ico):
        fault('%s: data at %d+%d, expected right after the previous at %d' % (name, off, size, end))
        continue
    end = off + size
    hdr = struct.unpack_from('<IiiHHIIiiII', ico, off)
    if hdr[:6] != (40, w, 2 * w, 1, bpp, 0):
        fault('%s: BITMAPINFOHEADER %r' % (name, hdr))
        continue
    npal = 1 << bpp if bpp <= 8 else 0
    pal = [(ico[off + 40 + 4 * j + 2], ico[off + 40 + 4 * j + 1], ico[off + 40 + 4 * j])
           for j in range(npal)]
    xor_stride = ((w * bpp + 31) // 32) * 4
    and_stride = ((w + 31) // 32) * 4
    bits = off + 40 + 4 * npal
    masks = bits + xor_stride * w
    if masks + and_stride * w != off + size:
        fault('%s: %d bytes, expected %d' % (name, size, masks + and_stride * w - off))
        continue
    if bpp == 4 and pal != STD16:
        fault('%s: not the standard 16-colour palette' % name)
    px, shown = {}, {}
    for y in range(w):
        row, mrow = bits + (w - 1 - y) * xor_stride, masks + (w - 1 - y) * and_stride
        for x in range(w):
            shown[x, y] = not (ico[mrow + x // 8] >> (7 - x % 8)) & 1
            if bpp == 32:
                b, g, r, a = ico[row + 4 * x:row + 4 * x + 4]
                px[x, y] = (r, g, b, a)
            else:
                v = ico[row + x * bpp // 8]
                v = (v >> 4 if x % 2 == 0 else v & 15) if bpp == 4 else v
                px[x, y] = pal[v] + (255,)
    images[w, bpp] = (px, shown)
    n = sum(shown.values())
    if not 0.15 * w * w < n < 0.9 * w * w:
        fault('%s: the mask shows %d of %d pixels' % (name, n, w * w))
    for (x, y), s in shown.items():
        p = px[x, y]
        if bpp == 32 and s != (p[3] > 0):
            fault('%s: at %d,%d the mask and the alpha disagree' % (name, x, y))
            break
        if not s and p[:3] != (0, 0, 0):
            # Screen AND 1 XOR colour: anything but black would show through.
            fault('%s: at %d,%d a masked pixel is not black' % (name, x, y))
            break
if end != len(ico):
    fault('KeyScout.ico: %d bytes after the last image' % (len(ico) - end))
for s in (48, 32, 16):
    if (s, 32) not in images or (s, 8) not in images:
        continue
    (p32, _), (p8, m8) = images[s, 32], images[s, 8]
    if any(m8[k] != (p32[k][3] >= 128) for k in m8):
        fault('KeyScout.ico %d px: the 8-bpp mask does not follow the 32-bpp alpha' % s)
    diff = [abs(p8[k][c] - p32[k][c]) for k in m8 if m8[k] for c in range(3)]
    if diff and sum(diff) / len(diff) > 4:
        fault('KeyScout.ico %d px: the 8-bpp colours stray from the 32-bpp image by %.1f'
              % (s, sum(diff) / len(diff)))

# The bitmap: BITMAPFILEHEADER, BITMAPINFOHEADER, 32 bpp, BI_RGB, bottom-up, opaque. Its
# last columns lie under the dialog's controls: there it must be plain dialog grey.
bmp = open(res + '/KeyScout.bmp', 'rb').read()
magic, fsize, _, _, offbits = struct.unpack_from('<2sIHHI', bmp)
hdr = struct.unpack_from('<IiiHHIIiiII', bmp, 14)
if (magic, fsize, offbits) != (b'BM', len(bmp), 54) or hdr[:7] != (40, 160, 320, 1, 32, 0,
                                                                   160 * 320 * 4):
    fault('KeyScout.bmp: headers %r %r' % ((magic, fsize, offbits), hdr))
elif len(bmp) != 54 + 160 * 320 * 4:
    fault('KeyScout.bmp: %d bytes' % len(bmp))
else:
    if any(bmp[i] != 255 for i in range(57, len(bmp), 4)):
        fault('KeyScout.bmp: not every pixel is opaque')
    for y in range(320):
        for x in range(146, 160):
            i = 54 + (y * 160 + x) * 4
            if bmp[i:i + 3] != b'\xf0\xf0\xf0':
                fault('KeyScout.bmp: pixel %d,%d under the controls is not #F0F0F0' % (x, 319 - y))
                break
        else:
            continue
        break

# The desktop icons: valid chunks, 8-bit RGBA, data of the right length.
for n in (16, 32, 48, 64, 128, 256):
    name = 'icons/hicolor/%dx%d/apps/keyscout.png' % (n, n)
    data = open(res + '/' + name, 'rb').read()
    pos, idat, ihdr = 8, b'', None
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        fault(name + ': no PNG signature')
        continue
    while pos + 12 <= len(data):
        ln, kind = struct.unpack_from('>I4s', data, pos)
        body = data[pos + 4:pos + 8 + ln]
        if struct.unpack_from('>I', data, pos + 8 + ln)[0] != zlib.crc32(body):
            fault('%s: bad CRC in %r' % (name, kind))
        if kind == b'IHDR':
            ihdr = struct.unpack('>IIBBBBB', body[4:])
        elif kind == b'IDAT':
            idat += body[4:]
        pos += 12 + ln
    if ihdr != (n, n, 8, 6, 0, 0, 0):
        fault('%s: IHDR %r' % (name, ihdr))
    elif len(zlib.decompress(idat)) != n * (4 * n + 1):
        fault('%s: image data of the wrong length' % name)

svg = ET.parse(res + '/icons/hicolor/scalable/apps/keyscout.svg').getroot()
if svg.tag != '{http://www.w3.org/2000/svg}svg' or svg.get('viewBox') != '0 0 256 256':
    fault('keyscout.svg: root %s viewBox %s' % (svg.tag, svg.get('viewBox')))

for f in faults:
    print('FAILED: ' + f)
sys.exit(1 if faults else 0)
EOF

# 4. windres takes the icon and the bitmap.
windres=$(command -v i686-w64-mingw32-windres || true)
if [ -n "$windres" ]; then
  printf '128 ICON "%s"\n130 BITMAP "%s"\n' "$PWD/res/KeyScout.ico" "$PWD/res/KeyScout.bmp" >"$tmp/art.rc"
  "$windres" -i "$tmp/art.rc" -o "$tmp/art.o" 2>"$tmp/windres.log" ||
    fail "windres does not take the artwork: $(cat "$tmp/windres.log")"
else
  skip "windres (i686-w64-mingw32-windres not installed)"
fi

# 5. A Windows program loads them: LoadIcon, and LoadImage at each size, give the images in
# the file; LoadImage gives the bitmap at its size.
cxx=$(command -v i686-w64-mingw32-g++-posix || command -v i686-w64-mingw32-g++ || true)
if [ "${KS_ART_WINE:-1}" = 0 ]; then
  echo "skipped: Wine load (KS_ART_WINE=0)"
elif [ -z "$cxx" ] || [ -z "$windres" ] || ! command -v wine >/dev/null; then
  skip "Wine load (needs wine and the i686 mingw-w64 compiler)"
elif [ -f "$tmp/art.o" ]; then
  cat >"$tmp/load.cpp" <<'EOF'
#include <windows.h>

#include <cstdio>
#include <initializer_list>

// Prints, for each size, the loaded icon's width, height and the sum of its colour bits where
// the mask shows the pixel; then the bitmap's size, depth and the sum of its pixels.
static unsigned long SumIcon(HICON hIcon, int* pcx, int* pcy) {
    ICONINFO ii{};
    if (!hIcon || !GetIconInfo(hIcon, &ii)) return 0;
    BITMAP bm{};
    GetObjectA(ii.hbmColor, sizeof(bm), &bm);
    *pcx = bm.bmWidth;
    *pcy = bm.bmHeight;
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), bm.bmWidth, -bm.bmHeight, 1, 32, BI_RGB};
    static unsigned char colour[256 * 256 * 4], mask[256 * 256 * 4];
    HDC hdc = GetDC(nullptr);
    GetDIBits(hdc, ii.hbmColor, 0, bm.bmHeight, colour, &bi, DIB_RGB_COLORS);
    GetDIBits(hdc, ii.hbmMask, 0, bm.bmHeight, mask, &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, hdc);
    unsigned long sum = 0;
    for (int i = 0; i < bm.bmWidth * bm.bmHeight; ++i) {
        if (mask[i * 4] == 0) sum += colour[i * 4] + colour[i * 4 + 1] + colour[i * 4 + 2];
    }
    DeleteObject(ii.hbmColor);
    DeleteObject(ii.hbmMask);
    return sum;
}

int main() {
    HINSTANCE hInst = GetModuleHandleA(nullptr);
    int cx = 0, cy = 0;
    unsigned long sum = SumIcon(LoadIconA(hInst, MAKEINTRESOURCEA(128)), &cx, &cy);
    std::printf("LoadIcon %dx%d %lu\n", cx, cy, sum);
    for (int n : {48, 32, 16}) {
        cx = cy = 0;
        HICON h = (HICON)LoadImageA(hInst, MAKEINTRESOURCEA(128), IMAGE_ICON, n, n, 0);
        sum = SumIcon(h, &cx, &cy);
        std::printf("icon %d: %dx%d %lu\n", n, cx, cy, sum);
    }
    HBITMAP hbm = (HBITMAP)LoadImageA(hInst, MAKEINTRESOURCEA(130), IMAGE_BITMAP, 0, 0,
                                      LR_CREATEDIBSECTION);
    DIBSECTION ds{};
    unsigned long bsum = 0;
    if (hbm && GetObjectA(hbm, sizeof(ds), &ds) == sizeof(ds) && ds.dsBm.bmBits) {
        const unsigned char* p = static_cast<const unsigned char*>(ds.dsBm.bmBits);
        for (int i = 0; i < ds.dsBm.bmWidth * ds.dsBm.bmHeight * 4; ++i) bsum += p[i];
    }
    std::printf("bitmap: %dx%d %d %lu\n", (int)ds.dsBm.bmWidth, (int)ds.dsBm.bmHeight,
                (int)ds.dsBm.bmBitsPixel, bsum);
    return 0;
}
EOF
  if ! "$cxx" -O1 -static -o "$tmp/load.exe" "$tmp/load.cpp" "$tmp/art.o" -lgdi32 -luser32 \
      2>"$tmp/cxx.log"; then
    fail "the Wine load program does not build: $(cat "$tmp/cxx.log")"
  else
    # The expected lines, from the files themselves: the 32-bpp images (the screen's depth).
    expect=$(python3 - res <<'EOF'
import struct, sys
ico = open(sys.argv[1] + '/KeyScout.ico', 'rb').read()
sums = {}
for i in range(struct.unpack_from('<H', ico, 4)[0]):
    w, _, _, _, _, bpp, size, off = struct.unpack_from('<BBBBHHII', ico, 6 + 16 * i)
    if bpp != 32:
        continue
    bits, masks, total = off + 40, off + 40 + 4 * w * w, 0
    for y in range(w):
        for x in range(w):
            if not (ico[masks + y * ((w + 31) // 32) * 4 + x // 8] >> (7 - x % 8)) & 1:
                total += sum(ico[bits + 4 * (y * w + x):bits + 4 * (y * w + x) + 3])
    sums[w] = total
bmp = open(sys.argv[1] + '/KeyScout.bmp', 'rb').read()
print('LoadIcon 32x32 %d' % sums[32])
for n in (48, 32, 16):
    print('icon %d: %dx%d %d' % (n, n, n, sums[n]))
print('bitmap: 160x320 32 %d' % sum(bmp[54:]))
EOF
)
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    [ -n "${WINEPREFIX:-}" ] || export WINEPREFIX="$tmp/wineprefix"
    got=$(cd "$tmp" && timeout 300 wine load.exe 2>/dev/null | tr -d '\r' || true)
    # A prefix of our own goes with the temporary folder: let its server end first.
    if [ "$WINEPREFIX" = "$tmp/wineprefix" ]; then wineserver -w 2>/dev/null || true; fi
    if [ "$got" != "$expect" ]; then
      fail "what Windows loads differs from the files:"
      diff <(echo "$expect") <(echo "$got") | sed 's/^/  /' || true
    else
      loaded=", and loads under Wine"
    fi
  fi
fi

if [ "$status" -eq 0 ]; then echo "ok: the artwork in res/ is what scripts/make-art.py draws$loaded"; fi
exit $status
