#!/usr/bin/env bash
# Builds everything as Release with Debian's hardening flags into build-release/, makes the
# Debian package there (build-release/package/) and checks it without touching the running
# system: its control data and file list, lintian (no error and no warning), the hardening of
# its programs, and its files unpacked into a throw-away root, where the menu entry and the
# software-centre metadata are validated and `man` finds each program's manual page.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/need-packages.sh dpkg-dev file fakeroot desktop-file-utils appstream lintian help2man \
    devscripts man-db

build_dir=${BUILD_DIR:-build-release}
app_id=org.velmarixon.velmarixon

# The release date and the changelog's date are the last commit's, so that the same sources
# make the same package.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH

# Debian's hardening: fortified libc calls, stack protector, read-only relocations bound at
# start (relro, bind-now), position-independent executables.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
echo "package.sh: CXXFLAGS $cxxflags"
echo "package.sh: LDFLAGS  $ldflags"
# Everything is built here, so cpack need not walk every target again before it installs.
BUILD_DIR=$build_dir BUILD_TYPE=Release scripts/setup.sh -DVELMARIXON_MANUAL_PAGES=ON \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON

# The suites of pure logic, at Release's optimisation.
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build_dir" --output-on-failure \
    --parallel "$(nproc)" -L '^pure$' --no-tests=error

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$build_dir" && cpack -G DEB -B "$out/cpack" >/dev/null)
debs=("$out"/cpack/velmarixon_*.deb)
[ -f "${debs[0]}" ] || { echo "package.sh: no .deb was built" >&2; exit 1; }
deb=${debs[0]}
echo "Built $(basename "$deb") ($(stat -c %s "$deb") bytes)"
mkdir -p "$build_dir/package"
rm -f "$build_dir"/package/velmarixon_*.deb
cp "$deb" "$build_dir/package/"

fail() {
    echo "package.sh: $*" >&2
    exit 1
}

# Control data: name, version, and dependencies computed by dpkg-shlibdeps from the programs.
info=$(dpkg-deb --info "$deb")
echo "$info" | sed -n '/^ [A-Z][A-Za-z-]*: /,$p'
grep -q '^ Package: velmarixon$' <<<"$info" || fail "package name"
version=$(sed -n 's/^ Version: //p' <<<"$info")
[ -n "$version" ] || fail "no version"
depends=$(grep '^ Depends: ' <<<"$info") || fail "no Depends line"
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6serialport6 libqt6svg6 libc6 \
    libstdc++6; do
    grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib"
done

# File list: the programs with their manual pages, the menu entry, the icon, the metadata and
# Debian's documents; nothing from the build tree.
programs=(velmarixon velmarixon-send velmarixon-trend velmarixon-device-sim)
contents=$(dpkg-deb --contents "$deb")
for path in "${programs[@]/#/usr/bin/}" "${programs[@]/#/usr/share/man/man1/}" \
    "usr/share/applications/$app_id.desktop" \
    "usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
    "usr/share/metainfo/$app_id.metainfo.xml" \
    usr/share/doc/velmarixon/copyright usr/share/doc/velmarixon/changelog.gz; do
    case "$path" in */man1/*) path="$path.1.gz" ;; esac
    grep -q " \./$path\$" <<<"$contents" || fail "missing $path"
done
! grep -q -e '/build' -e '\.a$' -e '/tst_' <<<"$contents" || fail "build files in the package"

# lintian at its default level must find nothing; the informational tags are shown as well.
# Tags that cannot be mended carry an override with its reason in the package.
lintian --info --display-info --fail-on error,warning "$deb" || fail "lintian found errors or warnings"
echo "package.sh: lintian passed"

# Unpacked into a throw-away root: the programs are hardened executables for this machine,
# each has a manual page of this version that man finds, and the desktop files pass their
# validators.
root="$out/root"
dpkg-deb -x "$deb" "$root"
for program in "${programs[@]}"; do
    file -b "$root/usr/bin/$program" | grep -q 'ELF .* executable' || fail "$program is no executable"
done
# Fortify leaves no trace in these programs: each libc call it could guard is either proven safe
# at compile time or has a size the compiler cannot know (memcpy and the like inside Qt's and
# the C++ library's inline code), so no checked variant is called. That every compile had the
# flag is checked on the compile commands instead. Control-flow protection is not among Debian
# 12's flags.
commands=$(grep -c '"command":' "$build_dir/compile_commands.json")
fortified=$(grep -c '"command":.*-D_FORTIFY_SOURCE=2 .*-fstack-protector-strong' "$build_dir/compile_commands.json")
[ "$commands" -gt 0 ] && [ "$fortified" = "$commands" ] ||
    fail "only $fortified of $commands compiles had -D_FORTIFY_SOURCE=2 and the stack protector"
hardening-check --nofortify --nocfprotection "${programs[@]/#/$root/usr/bin/}" ||
    fail "a program lacks Debian's hardening"
echo "package.sh: hardening-check passed; all $commands compiles fortified"
for program in "${programs[@]}"; do
    page=$(MANPATH="$root/usr/share/man" man -w "$program") || fail "man does not find $program"
    MANPATH="$root/usr/share/man" MANWIDTH=80 man -P cat "$program" 2>/dev/null >"$out/page.txt"
    grep -q "^NAME" "$out/page.txt" && grep -q "$version" "$out/page.txt" ||
        fail "the manual page of $program ($page) lacks its name or version $version"
done
echo "package.sh: man finds the manual pages of ${programs[*]}"
desktop-file-validate "$root/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml"
grep -q "<release version=\"$version\" date=\"$(date -u -d "@$SOURCE_DATE_EPOCH" +%F)\"" \
    "$root/usr/share/metainfo/$app_id.metainfo.xml" || fail "the metadata's release is not this build's"
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/$app_id.svg" || fail "icon is no SVG"
echo "package.sh: $(basename "$deb") is complete and valid"
