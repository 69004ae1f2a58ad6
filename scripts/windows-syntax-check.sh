#!/usr/bin/env bash
# Compiles every source of the programs (src/) as Windows would, with Debian's MinGW-w64 g++
# and -fsyntax-only against Qt 6's headers from Debian: the Windows branches (#ifdef Q_OS_WIN,
# the *_windows.cpp files) are checked for errors and warnings without a Windows machine or a
# Windows build of Qt. The list and the flags come from the compile database of a configure
# without pseudo-terminals, so a new source is checked as soon as CMake knows it; a file
# name_posix.cpp stands for its sibling name_windows.cpp, and name_xcb.cpp (X11 only) for
# name_none.cpp, which Windows compiles instead.
# Nothing is linked or run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/need-packages.sh cmake g++ make pkg-config libgl-dev qt6-base-dev qt6-serialport-dev qt6-svg-dev \
    g++-mingw-w64-x86-64-posix python3

build_dir=${BUILD_DIR:-build-windows-check}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DVELMARIXON_WERROR=ON \
    -DVELMARIXON_HAVE_PTY=OFF -DVELMARIXON_MANUAL_PAGES=OFF >/dev/null

python3 - "$build_dir/compile_commands.json" "$PWD/src" <<'PY'
import json, os, shlex, subprocess, sys
from concurrent.futures import ThreadPoolExecutor

database, sources = sys.argv[1], os.path.realpath(sys.argv[2])
compiler = "x86_64-w64-mingw32-g++-posix"
# Flags of the Linux build that mean nothing to, or mislead, a Windows compile.
dropped = {"-fPIC", "-fPIE", "-pie", "-c"}

jobs = {}
for entry in json.load(open(database)):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    if not path.startswith(sources + os.sep):
        continue  # tests, generated moc files
    # A file for POSIX or for X11 stands for the sibling Windows compiles instead.
    for unix_suffix, windows_suffix in (("_posix.cpp", "_windows.cpp"), ("_xcb.cpp", "_none.cpp")):
        windows_twin = path[: -len(unix_suffix)] + windows_suffix
        if path.endswith(unix_suffix) and os.path.exists(windows_twin):
            path = windows_twin
    words = entry.get("arguments") or shlex.split(entry["command"])
    flags, skip = [], False
    for word in words[1:]:
        if skip:
            skip = False
        elif word == "-o":
            skip = True
        elif word in dropped or os.path.realpath(os.path.join(entry["directory"], word)) in (
                path, os.path.realpath(os.path.join(entry["directory"], entry["file"]))):
            continue
        else:
            flags.append(word)
    jobs[path] = ([compiler, "-fsyntax-only", *flags, path], entry["directory"])

def check(path):
    command, directory = jobs[path]
    done = subprocess.run(command, cwd=directory, capture_output=True, text=True)
    return path, done.returncode, done.stderr

failed = 0
with ThreadPoolExecutor(max_workers=os.cpu_count() or 1) as pool:
    for path, code, errors in pool.map(check, sorted(jobs)):
        name = os.path.relpath(path, os.path.dirname(sources))
        print(("ok    " if code == 0 else "FAIL  ") + name, flush=True)
        if code != 0:
            failed += 1
            sys.stderr.write(errors)
print(f"windows-syntax-check: {len(jobs) - failed} passed, {failed} failed")
sys.exit(1 if failed or not jobs else 0)
PY
