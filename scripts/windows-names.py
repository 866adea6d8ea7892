#!/usr/bin/env python3
"""Checks file names as Windows will see them, on a Linux machine that would not.

Linux keeps Parlex2.exe and parlex2.exe apart; Windows ignores case, so they
are one file there and one of them is lost. Windows also refuses device names
(CON, NUL, COM1...) whatever their extension, the characters <>:"|?*\\ and
control characters, and names ending in a dot or a blank.

  windows-names.py --zip FILE    the entries of a zip
  windows-names.py --tree DIR    every file and folder under DIR
  windows-names.py --git DIR     the files git keeps in the work tree DIR

Prints one line for each fault and exits 1; prints nothing and exits 0 when
every name is fine. Exits 2 when the list cannot be read.
"""
import os
import re
import subprocess
import sys
import zipfile

DEVICES = {"CON", "PRN", "AUX", "NUL"} | {f"{d}{n}" for d in ("COM", "LPT") for n in "0123456789¹²³"}
FORBIDDEN = re.compile(r'[<>:"|?*\\\x00-\x1f]')
# Room left for the folder a user installs into under MAX_PATH (260).
LONGEST = 200


def zip_names(path):
    with zipfile.ZipFile(path) as archive:
        return archive.namelist()


def tree_names(top):
    names = []
    for folder, dirs, files in os.walk(top):
        rel = os.path.relpath(folder, top)
        for name in dirs + files:
            names.append(name if rel == "." else f"{rel}/{name}")
    return names


def git_names(top):
    out = subprocess.run(["git", "-C", top, "ls-files", "-z"], check=True, capture_output=True)
    return [n for n in out.stdout.decode("utf-8", "surrogateescape").split("\0") if n]


def faults(names):
    """The faults of a list of '/'-separated relative paths, each once."""
    paths = set()
    for name in names:
        parts = [p for p in name.strip("/").split("/") if p not in ("", ".")]
        # Every folder on the way is a name too: a file "docs" and a folder
        # "Docs" collide as much as two files do.
        for i in range(1, len(parts) + 1):
            paths.add("/".join(parts[:i]))
    found = []
    folded = {}
    for path in sorted(paths):
        # Windows compares names by upper-casing each character.
        folded.setdefault(path.upper(), []).append(path)
        leaf = path.rsplit("/", 1)[-1]
        stem = leaf.split(".", 1)[0].rstrip(" ")
        if stem.upper() in DEVICES:
            found.append(f"{path}: {stem} is a device name on Windows")
        if FORBIDDEN.search(leaf):
            found.append(f"{path}: a character Windows does not allow in a file name")
        if leaf.endswith((".", " ")):
            found.append(f"{path}: Windows drops the dot or blank at the end of a name")
        if len(path) > LONGEST:
            found.append(f"{path}: longer than {LONGEST} characters")
    for same in folded.values():
        if len(same) > 1:
            found.append(" and ".join(same) + ": one name on Windows, which ignores case")
    return found


def main(argv):
    readers = {"--zip": zip_names, "--tree": tree_names, "--git": git_names}
    if len(argv) != 3 or argv[1] not in readers:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        names = readers[argv[1]](argv[2])
    except (OSError, zipfile.BadZipFile, subprocess.CalledProcessError) as error:
        print(f"windows-names: cannot list {argv[2]}: {error}", file=sys.stderr)
        return 2
    if not names:
        print(f"windows-names: {argv[2]} lists no names", file=sys.stderr)
        return 2
    found = faults(names)
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
