#!/usr/bin/python3
"""Makes a synthetic source tree for bench/compare.

    bench/make_tree.py --files N [--size BYTES] [--share FRACTION] DEST

The tree holds N files of C-like text, BYTES long on average (each between
a quarter and seven quarters of it), 16 files and up to 16 subfolders to a
folder. The same arguments always make the same bytes. Besides lower-case
text, which never holds a capital letter, it holds:

  COMMON_TEXT  in FRACTION of the files, COMMON_PER_FILE times in each;
  RARE_TEXT    in RARE_FILES files, twice in each;
  NAME_TEXT    in the names of NAME_SHARE of the files, and in no text;
  ABSENT_TEXT  nowhere.
"""

import argparse
import bisect
import os
import random
import sys

COMMON_TEXT = "VsCommonText"
COMMON_PER_FILE = 6
RARE_TEXT = "VsRareText"
RARE_FILES = 30
NAME_TEXT = "VsName"
NAME_SHARE = 0.006
ABSENT_TEXT = "VsAbsentText"

FILES_PER_FOLDER = 16
FAN_OUT = 16


def _line_pool(rng, count):
    """`count` lines ended by LF, 0 to about 100 bytes long."""
    punctuation = ["(", ");", " = ", ", ", " + ", "->", " {", "};"]
    letters = "abcdefghijklmnopqrstuvwxyz_"
    lines = []
    for _ in range(count):
        parts = ["\t" * rng.randrange(3)]
        for _ in range(rng.randrange(9)):
            parts.append("".join(rng.choices(letters, k=rng.randrange(2, 10))))
            parts.append(rng.choice(punctuation))
        parts.append("\n")
        lines.append("".join(parts))
    return lines


def _folder_of(index, depth):
    """The folder of file `index`: base-FAN_OUT digits of its leaf folder."""
    leaf = index // FILES_PER_FOLDER
    digits = []
    for _ in range(depth):
        digits.append("d%x" % (leaf % FAN_OUT))
        leaf //= FAN_OUT
    return "/".join(reversed(digits))


def make_tree(dest, files, size, share, seed=1):
    """Writes the tree into `dest`, which must not exist yet. Returns the
    number of bytes written."""
    rng = random.Random(seed)
    pool = _line_pool(rng, 20000)
    # Lines are taken from the pool in a run that may wrap around, so the
    # pool is laid out twice; `ends` finds where a run of `size` bytes ends.
    lines = pool + pool
    ends = []
    total = 0
    for line in lines:
        total += len(line)
        ends.append(total)

    common = set(rng.sample(range(files), round(files * share)))
    rare = set(rng.sample(range(files), min(RARE_FILES, files)))
    named = set(rng.sample(range(files), round(files * NAME_SHARE)))

    leaves = (files + FILES_PER_FOLDER - 1) // FILES_PER_FOLDER
    depth = 1
    while FAN_OUT ** depth < leaves:
        depth += 1

    os.makedirs(dest)
    written = 0
    for index in range(files):
        target = rng.randint(size // 4, size * 7 // 4)
        start = rng.randrange(len(pool))
        before = ends[start - 1] if start else 0
        stop = bisect.bisect_left(ends, before + target, lo=start) + 1
        body = lines[start:min(stop, start + len(pool))]
        marks = []
        if index in common:
            marks += [COMMON_TEXT] * COMMON_PER_FILE
        if index in rare:
            marks += [RARE_TEXT] * 2
        for mark in marks:
            at = rng.randrange(len(body))
            body[at] = body[at][:-1] + " " + mark + "(x);\n"
        name = "f%06d" % index
        if index in named:
            name += "-" + NAME_TEXT
        name += ".c"
        folder = os.path.join(dest, _folder_of(index, depth))
        os.makedirs(folder, exist_ok=True)
        data = "".join(body).encode("ascii")
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)
        written += len(data)
    return written


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, required=True)
    parser.add_argument("--size", type=int, default=10240,
                        help="mean file size in bytes (default 10240)")
    parser.add_argument("--share", type=float, default=0.04,
                        help="share of files holding %s (default 0.04)"
                        % COMMON_TEXT)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("dest")
    args = parser.parse_args()
    if os.path.lexists(args.dest):
        sys.exit("make_tree.py: %s exists already" % args.dest)
    written = make_tree(args.dest, args.files, args.size, args.share,
                        args.seed)
    print("%d files, %d bytes" % (args.files, written))


if __name__ == "__main__":
    main()
