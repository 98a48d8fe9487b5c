#!/usr/bin/env python3
"""Writes the compile databases the analysers read, from the ones CMake exports.

  analysis_db.py select BUILD_DIR OUT_DIR FOLDER...   the files below the folders, as the build compiles them
  analysis_db.py windows BUILD_DIR OUT_DIR
      app/ and the engine's Windows side, update/windows/, as the mingw-w64 build compiles them, turned
      into clang commands for x86_64-w64-mingw32: clang rejects -fexec-charset=GBK (it only
      knows UTF-8), and it does not find Debian's mingw-w64 C++ headers by itself (the gcc
      folder is named "12-posix"), so the include folders come from the mingw g++ itself.
"""
import json
import os
import shlex
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))


def load(build_dir):
    with open(os.path.join(build_dir, "compile_commands.json")) as f:
        return json.load(f)


def under(entry, *folders):
    path = os.path.relpath(entry["file"], ROOT)
    return any(path.startswith(folder + "/") for folder in folders)


def write(entries, out_dir):
    os.makedirs(out_dir, exist_ok=True)
    with open(os.path.join(out_dir, "compile_commands.json"), "w") as f:
        json.dump(entries, f, indent=1)
    for entry in entries:
        print(os.path.relpath(entry["file"], ROOT))


def include_dirs(gxx, resource_dir):
    """g++'s C++ library folders, clang's own headers, then the C library folders: gcc's own
    headers (its intrinsics) are for gcc only."""
    out = subprocess.run([gxx, "-E", "-x", "c++", "-v", os.devnull], capture_output=True, text=True, check=True).stderr
    lines = out.split("#include <...> search starts here:\n", 1)[1].split("End of search list.", 1)[0]
    dirs = [os.path.normpath(line.strip()) for line in lines.splitlines() if line.strip()]
    cxx = [d for d in dirs if "/include/c++" in d]
    libc = [d for d in dirs if "/gcc/" not in d]
    return cxx + [resource_dir + "/include"] + libc


def windows(build_dir, out_dir):
    entries = []
    resource_dir = subprocess.run(["clang++-14", "-print-resource-dir"], capture_output=True, text=True,
                                  check=True).stdout.strip()
    for entry in load(build_dir):
        if not under(entry, "app", "update/windows"):
            continue
        args = shlex.split(entry["command"])
        includes = []
        for d in include_dirs(args[0], resource_dir):
            includes += ["-isystem", d]
        kept = [a for a in args[1:] if not a.startswith("-fexec-charset=")]
        entries.append({
            "directory": entry["directory"],
            "file": entry["file"],
            "arguments": ["clang++-14", "--target=x86_64-w64-mingw32", "-nostdinc"] + includes + kept,
        })
    write(entries, out_dir)


def select(build_dir, out_dir, folders):
    write([e for e in load(build_dir) if under(e, *folders)], out_dir)


if __name__ == "__main__":
    if sys.argv[1] == "select":
        select(sys.argv[2], sys.argv[3], sys.argv[4:])
    else:
        windows(sys.argv[2], sys.argv[3])
