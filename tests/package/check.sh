#!/usr/bin/env bash
# The packages as a user receives them: the .deb's files, its computed dependencies, lintian's
# verdict and systemd's on the user unit; the Windows ZIP's files, the manifest and version resource of each Windows binary, and the
# name each .scr gives Windows' Screen Saver Settings (string 1).
#   check.sh DEB ZIP
set -uo pipefail
deb=$1 zip=$2
failed=0
fail() { echo "FAIL: $*"; failed=1; }

files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for name in tovixtiles tovixquads; do
    for path in usr/libexec/xscreensaver/$name usr/bin/$name usr/share/xscreensaver/config/$name.xml \
        usr/share/man/man6/$name.6.gz; do
        grep -qx "./$path" <<<"$files" || fail "the .deb has no /$path"
    done
done
for path in usr/bin/tovix-idle usr/share/man/man1/tovix-idle.1.gz usr/lib/systemd/user/tovix-idle.service; do
    grep -qx "./$path" <<<"$files" || fail "the .deb has no /$path"
done
grep -qx './usr/share/doc/tovix/copyright' <<<"$files" || fail "the .deb has no copyright file"
# dpkg-shlibdeps' work: the libraries the programs link, with versions it found.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libsdl2-2.0-0 libx11-6 libxext6 libegl1 libwayland-client0 libxkbcommon0 libsystemd0; do
    [[ $depends =~ (^|, )$library( \(|,|$) ]] || fail "Depends lacks $library: $depends"
done
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/xscreensaver/config/tovixtiles.xml |
    python3 -c 'import sys, xml.dom.minidom as x; x.parse(sys.stdin)' || fail "tovixtiles.xml is not well-formed"
lintian --fail-on error "$deb" || fail "lintian finds errors"
# The user unit as systemd reads it, starting the package's own tovix-idle: silent about every line.
unpacked=$(mktemp -d)
dpkg-deb -x "$deb" "$unpacked"
mkdir -m 700 "$unpacked/run"
sed "s|^ExecStart=tovix-idle |ExecStart=$unpacked/usr/bin/tovix-idle |" "$unpacked/usr/lib/systemd/user/tovix-idle.service" \
    >"$unpacked/tovix-idle.service"
said=$(XDG_RUNTIME_DIR=$unpacked/run systemd-analyze --user verify --man=no "$unpacked/tovix-idle.service" 2>&1) &&
    [[ -z $said ]] || fail "systemd finds fault with the user unit: $said"
rm -rf "$unpacked"

listed=$(unzip -Z1 "$zip")
dir=tovix-$(basename "$zip" -win64.zip | sed 's/^tovix-//')-win64
for file in tovixtiles.exe tovixtiles.scr tovixquads.exe tovixquads.scr README.txt; do
    grep -qx "$dir/$file" <<<"$listed" || fail "the ZIP has no $dir/$file"
done
for file in tovixtiles.exe tovixtiles.scr tovixquads.exe tovixquads.scr; do
    unzip -p "$zip" "$dir/$file" >"$file"
    manifest=$(wrestool -x --raw --type=24 "$file")
    grep -q '<dpiAwareness[^>]*>PerMonitorV2' <<<"$manifest" || fail "$file declares no per-monitor DPI awareness (v2)"
    grep -q '<dpiAware[^>]*>true/pm' <<<"$manifest" || fail "$file lacks the older dpiAware fallback"
    version=$(wrestool -x --raw --type=16 "$file" | strings -el | tr '\n' '|')
    for field in '\|ProductName\|Tovix\|' '\|FileDescription\|Tovix (tiles|quads): ' "\|OriginalFilename\|$file\|" \
        '\|FileVersion\|[0-9]+\.[0-9]+\.[0-9]+\|'; do
        grep -Eq "$field" <<<"$version" || fail "$file: no $field in its version resource"
    done
done
# String 1, the second of block 1's counted UTF-16 strings.
for pair in tovixtiles.scr:'Tovix Tiles' tovixquads.scr:'Tovix Quads'; do
    name=$(wrestool -x --raw --type=6 --name=1 "${pair%%:*}" | python3 -c 'import sys; d = sys.stdin.buffer.read()
n = 2 + 2 * int.from_bytes(d[:2], "little"); print(d[n + 2:n + 2 + 2 * int.from_bytes(d[n:n + 2], "little")].decode("utf-16-le"))')
    [[ $name == "${pair#*:}" ]] || fail "${pair%%:*}: string 1 is '$name', not '${pair#*:}'"
done
exit $failed
