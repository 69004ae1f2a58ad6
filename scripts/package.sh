#!/usr/bin/env bash
# Builds the Debian package from build/ (configured and built by setup.sh) and checks it without
# touching the running system: its control data, its file list, and its files unpacked into a
# throw-away root, where the menu entry and the software-centre metadata are validated.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/need-packages.sh dpkg-dev file fakeroot desktop-file-utils appstream
scripts/setup.sh

build_dir=${BUILD_DIR:-build}
app_id=org.velmarixon.velmarixon
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$build_dir" && cpack -G DEB -B "$out/cpack" >/dev/null)
debs=("$out"/cpack/velmarixon_*.deb)
[ -f "${debs[0]}" ] || { echo "package.sh: no .deb was built" >&2; exit 1; }
deb=${debs[0]}
echo "Built $(basename "$deb") ($(stat -c %s "$deb") bytes)"
mkdir -p "$build_dir/package"
cp "$deb" "$build_dir/package/"

fail() {
    echo "package.sh: $*" >&2
    exit 1
}

# Control data: name, version, and dependencies computed by dpkg-shlibdeps from the programs.
info=$(dpkg-deb --info "$deb")
echo "$info" | sed -n '/^ [A-Z][A-Za-z-]*: /,$p'
grep -q '^ Package: velmarixon$' <<<"$info" || fail "package name"
grep -q '^ Version: ' <<<"$info" || fail "no version"
depends=$(grep '^ Depends: ' <<<"$info") || fail "no Depends line"
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6serialport6 libc6 libstdc++6; do
    grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib"
done

# File list: the programs, the menu entry, the icon and the metadata, nothing from the build tree.
contents=$(dpkg-deb --contents "$deb")
for path in usr/bin/velmarixon usr/bin/velmarixon-device-sim \
    "usr/share/applications/$app_id.desktop" \
    "usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
    "usr/share/metainfo/$app_id.metainfo.xml"; do
    grep -q " \./$path\$" <<<"$contents" || fail "missing $path"
done
if [ -f src/cli/CMakeLists.txt ]; then
    grep -q ' \./usr/bin/velmarixon-send$' <<<"$contents" || fail "missing usr/bin/velmarixon-send"
fi
! grep -q -e '/build' -e '\.a$' -e '/tst_' <<<"$contents" || fail "build files in the package"

# Unpacked into a throw-away root: the programs are executables for this machine, and the
# desktop files pass their validators.
root="$out/root"
dpkg-deb -x "$deb" "$root"
for program in "$root"/usr/bin/*; do
    file -b "$program" | grep -q 'ELF .* executable' || fail "$program is not an executable"
done
desktop-file-validate "$root/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml"
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/$app_id.svg" || fail "icon is no SVG"
echo "package.sh: $(basename "$deb") is complete and valid"
