#!/usr/bin/env python3
"""Kills vellumshaper-cli with SIGKILL at random moments, many times over,
while it works on a generated tree, and checks the tree after every kill:

- every file is present under exactly one of its old and its new name;
- its bytes are either all old or all new: never empty, cut or mixed;
- its permission bits are the ones it had;
- a file without the find text is the very same file (inode, mtime);
- links keep their targets, and nothing outside the tree changes, not even
  a file hard-linked into the tree or one a link in the tree points at;
- nothing else appears in the tree but temporary files a killed run left
  beside a file: .vellumshaper-NAME.tmp or .vellumshaper-NAME.N.tmp, where
  NAME is the file's old or new name (no later run lists them). Such a
  file may hold nothing, or any prefix of the file's new content up to
  all of it, or the file's whole old content (the run was killed just
  after the new content took its place), but never anything else.

After the kills of a round one uninterrupted run must finish the work:
every file new and under its new name. Only Debian's python3 is needed.

    crash_consistency.py CLI [--kills N] [--seconds S] [--seed N]
"""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

FIND = b"old"
# Holds none of the letters of FIND, so a replacement never makes a new
# occurrence and a finished file has nothing left to change.
REPLACE = b"NEW-text"
TEMP_NAME = re.compile(rb"^\.vellumshaper-(.*?)(?:\.[0-9]+)?\.tmp$")

WORDS = [b"alpha", b"beta", b"gamma", b"old", b"bold", b"olden", b"o", b"ld",
         b"delta", b"\xc3\xa9t\xc3\xa9", b"\t", b"\r", b"x" * 40]


class Expected:
    """One entry of the generated tree and what a run must make of it."""

    def __init__(self, folder, name, kind, old=b"", mode=0o644, target=b""):
        self.folder = folder          # relative to the tree, bytes
        self.name = name
        self.new_name = name.replace(FIND, REPLACE)
        self.kind = kind              # "file" or "link"
        self.old = old
        self.new = old.replace(FIND, REPLACE) if kind == "file" else old
        self.mode = mode
        self.target = target
        self.inode = None
        self.mtime_ns = None

    def path(self, tree, name):
        return os.path.join(tree, self.folder, name)


def random_text(rng, size):
    """Lines of words, LF or CR LF ended, about `size` bytes."""
    lines = []
    total = 0
    while total < size:
        line = b" ".join(rng.choice(WORDS) for _ in range(rng.randint(0, 12)))
        if rng.random() < 0.05:
            line += FIND  # right before the line end
        line += rng.choice([b"\n", b"\n", b"\r\n"])
        lines.append(line)
        total += len(line)
    if rng.random() < 0.3 and lines:
        lines[-1] = lines[-1].rstrip(b"\r\n")  # no line end at the end
    return b"".join(lines)


def large_text(rng, pieces, size):
    """About `size` bytes of text made of pieces, numbered lines between
    them so no two files are alike."""
    parts = []
    total = 0
    while total < size:
        part = rng.choice(pieces) + b"%d\n" % total
        parts.append(part)
        total += len(part)
    return b"".join(parts)


def make_tree(root, rng, files):
    """Writes the tree (root/tree) and what lies beside it (root/outside);
    returns the tree's entries and the outside files' paths."""
    tree = os.path.join(root, "tree")
    outside = os.path.join(root, "outside")
    os.makedirs(outside)
    folders = [b""]
    for i in range(24):
        parent = rng.choice(folders) if i > 4 else b""
        name = (b"old-dir-%d" if i % 3 == 0 else b"d%d") % i
        folders.append(os.path.join(parent, name) if parent else name)
    for folder in folders:
        os.makedirs(os.path.join(os.fsencode(tree), folder), exist_ok=True)

    pieces = [random_text(rng, 8000) for _ in range(16)]
    entries = []
    for i in range(files):
        folder = rng.choice(folders)
        shape = rng.random()
        if shape < 0.3:
            name = b"old-%d.txt" % i
        elif shape < 0.4:
            name = b"%d-oldold.c" % i
        else:
            name = b"file-%d.txt" % i
        # A few large files keep the rewrite going long enough to be cut.
        if rng.random() < 0.97:
            piece = rng.choice(pieces)
            start = rng.randrange(len(piece))
            text = b"%d " % i + piece[start:start + rng.choice(
                [0, 50, 400, 2000, 6000])]
        else:
            text = large_text(rng, pieces, rng.randint(100_000, 400_000))
        if rng.random() < 0.4:
            text = text.replace(FIND, b"ol d")  # no occurrence at all
        mode = rng.choice([0o644, 0o644, 0o600, 0o755, 0o444, 0o640])
        entries.append(Expected(folder, name, "file", text, mode))

    outside_files = {}
    for name in (b"victim-old.txt", b"hard-old.txt"):
        path = os.path.join(os.fsencode(outside), name)
        with open(path, "wb") as f:
            f.write(b"old outside\r\nold\n")
        os.chmod(path, 0o644)
        outside_files[path] = None
    # In the tree: a link out to a file, a link out to the folder, and a
    # hard link of an outside file.
    entries.append(Expected(b"", b"old-link", "link",
                            target=b"../outside/victim-old.txt"))
    entries.append(Expected(folders[1], b"old-dir-link", "link",
                            target=os.fsencode(outside)))
    hard = Expected(b"", b"hard-old.txt", "file", b"old outside\r\nold\n",
                    0o644)
    entries.append(hard)

    btree = os.fsencode(tree)
    for e in entries:
        path = e.path(btree, e.name)
        if e.kind == "link":
            os.symlink(e.target, path)
        elif e is hard:
            os.link(os.path.join(os.fsencode(outside), b"hard-old.txt"), path)
        else:
            with open(path, "wb") as f:
                f.write(e.old)
            os.chmod(path, e.mode)
        st = os.lstat(path)
        e.inode, e.mtime_ns = st.st_ino, st.st_mtime_ns
    for path in outside_files:
        st = os.lstat(path)
        outside_files[path] = (st.st_ino, st.st_mtime_ns, read(path))
    return entries, outside_files


def read(path):
    with open(path, "rb") as f:
        return f.read()


def listing(tree):
    """Every entry under `tree` by relative path: "dir", "link" or "file"."""
    found = {}
    stack = [b""]
    while stack:
        rel = stack.pop()
        with os.scandir(os.path.join(tree, rel) if rel else tree) as it:
            for d in it:
                r = os.path.join(rel, d.name) if rel else d.name
                if d.is_symlink():
                    found[r] = "link"
                elif d.is_dir(follow_symlinks=False):
                    found[r] = "dir"
                    stack.append(r)
                else:
                    found[r] = "file"
    return found


class Failure(Exception):
    pass


def check(tree, root, entries, outside_files, done):
    """Checks the promises; `done` asks for the finished state. Returns
    (files with new content, temporary files left)."""
    btree = os.fsencode(tree)
    found = listing(btree)
    claimed = set()
    by_name = {}
    new_count = 0
    for e in entries:
        olds = os.path.join(e.folder, e.name) if e.folder else e.name
        news = os.path.join(e.folder, e.new_name) if e.folder else e.new_name
        by_name[(e.folder, e.name)] = e
        by_name[(e.folder, e.new_name)] = e
        present = [p for p in dict.fromkeys([olds, news]) if p in found]
        if len(present) != 1:
            raise Failure("%r: present as %r, wanted one of its names"
                          % (olds, present))
        rel = present[0]
        claimed.add(rel)
        if done and rel != news:
            raise Failure("%r: not renamed to %r" % (olds, news))
        path = os.path.join(btree, rel)
        st = os.lstat(path)
        if e.kind == "link":
            if found[rel] != "link" or os.readlink(path) != e.target:
                raise Failure("%r: no longer the link it was" % rel)
            continue
        data = read(path)
        if data == e.new and e.new != e.old:
            new_count += 1
        elif data != e.old:
            raise Failure("%r: %d bytes, neither all old (%d) nor all new (%d)"
                          % (rel, len(data), len(e.old), len(e.new)))
        elif done and e.new != e.old:
            raise Failure("%r: still old after an uninterrupted run" % rel)
        if st.st_mode & 0o7777 != e.mode:
            raise Failure("%r: mode %o, was %o" % (rel, st.st_mode & 0o7777,
                                                   e.mode))
        if e.new == e.old and (st.st_ino, st.st_mtime_ns) != (e.inode,
                                                              e.mtime_ns):
            raise Failure("%r: has no occurrence, yet was written" % rel)

    temps = 0
    for rel, kind in found.items():
        if rel in claimed or kind == "dir":
            continue
        folder, name = os.path.split(rel)
        m = TEMP_NAME.match(name)
        owner = m and by_name.get((folder, m.group(1)))
        if kind != "file" or not owner or owner.kind != "file":
            raise Failure("%r: appeared in the tree" % rel)
        data = read(os.path.join(btree, rel))
        if not owner.new.startswith(data) and data != owner.old:
            raise Failure("%r: temporary file of %d bytes is neither a prefix "
                          "of the new content of %r nor its old content"
                          % (rel, len(data), owner.name))
        temps += 1

    for path, (inode, mtime_ns, data) in outside_files.items():
        st = os.lstat(path)
        if (st.st_ino, st.st_mtime_ns) != (inode, mtime_ns) or \
                read(path) != data:
            raise Failure("%r outside the tree was touched" % path)
    beside = sorted(os.listdir(root))
    if beside != ["outside", "tree"]:
        raise Failure("beside the tree: %r" % beside)
    return new_count, temps


def check_original(tree, root, entries, outside_files):
    """After every run was undone: each entry is back under its old name,
    the very file it was (same inode and modification time) with its old
    bytes and mode. Temporary files a killed run left stay as they are."""
    btree = os.fsencode(tree)
    found = listing(btree)
    for e in entries:
        rel = os.path.join(e.folder, e.name) if e.folder else e.name
        if rel not in found:
            raise Failure("%r: not back under its old name after the undo"
                          % rel)
        path = os.path.join(btree, rel)
        if e.kind == "link":
            if found[rel] != "link" or os.readlink(path) != e.target:
                raise Failure("%r: no longer the link it was" % rel)
            continue
        st = os.lstat(path)
        if read(path) != e.old:
            raise Failure("%r: not its old bytes after the undo" % rel)
        if (st.st_ino, st.st_mtime_ns) != (e.inode, e.mtime_ns):
            raise Failure("%r: its bytes came back, not the very file" % rel)
        if st.st_mode & 0o7777 != e.mode:
            raise Failure("%r: mode %o after the undo, was %o"
                          % (rel, st.st_mode & 0o7777, e.mode))
    for path, (inode, mtime_ns, data) in outside_files.items():
        st = os.lstat(path)
        if (st.st_ino, st.st_mtime_ns) != (inode, mtime_ns) or \
                read(path) != data:
            raise Failure("%r outside the tree was touched by the undo" % path)


def undo_all(cli, rng, duration):
    """Undoes every run kept, newest first, killing some undos part-way
    and running them again. Returns how many undos were killed."""
    killed = 0
    for _ in range(200):
        proc = subprocess.Popen([cli, "--undo"], stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)
        if rng.random() < 0.5:
            try:
                proc.wait(rng.uniform(0.0, 0.5 * duration))
            except subprocess.TimeoutExpired:
                proc.send_signal(signal.SIGKILL)
                proc.wait()
                killed += 1
                continue
        _, err = proc.communicate()
        if proc.returncode == 2 and b"every run kept was undone" in err:
            return killed
        if proc.returncode != 0:
            raise Failure("undo: status %d\n%s"
                          % (proc.returncode, err.decode(errors="replace")))
    raise Failure("undo: runs still left after 200 undos")


def command(cli, tree):
    return [cli, "--code-page", "1252", "--find", FIND.decode(),
            "--replace", REPLACE.decode(), tree]


def full_run(cli, tree):
    """Runs to the end, which must list no failure: no walk lists a leftover
    temporary file. Returns the run's time."""
    start = time.monotonic()
    run = subprocess.run(command(cli, tree), stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, check=False)
    took = time.monotonic() - start
    if run.returncode not in (0, 1):
        raise Failure("uninterrupted run: status %d\n%s"
                      % (run.returncode, run.stderr.decode(errors="replace")))
    path = b""
    for line in run.stdout.split(b"\n"):
        if not line.startswith(b"\t"):
            path = line
        elif line.startswith(b"\tFailed"):
            raise Failure("uninterrupted run failed: %r %r" % (path, line))
    if run.returncode == 1:
        raise Failure("uninterrupted run: status 1\n%s"
                      % run.stderr.decode(errors="replace"))
    return took


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--kills", type=int, default=40)
    parser.add_argument("--kills-per-round", type=int, default=8)
    parser.add_argument("--seconds", type=float, default=90,
                        help="stop adding rounds after this long")
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    print("seed %d (repeat with --seed %d)" % (seed, seed), flush=True)

    started = time.monotonic()
    kills = mid_run = with_temps = rounds = undo_kills = 0
    duration = None
    while kills < args.kills and time.monotonic() - started < args.seconds:
        rounds += 1
        root = tempfile.mkdtemp(prefix="vellumshaper-crash-")
        # The runs' undo journals go to a state folder of the round's
        # own, never to the real home, nor beside the tree.
        state = tempfile.mkdtemp(prefix="vellumshaper-crash-state-")
        os.environ["XDG_STATE_HOME"] = state
        try:
            tree = os.path.join(root, "tree")
            entries, outside = make_tree(root, rng, args.files)
            changing = sum(1 for e in entries if e.new != e.old)
            if duration is None:
                # The first round measures how long a whole run takes, on
                # a copy, so kills can be spread over that time.
                # Its journal goes to a state folder of its own too.
                shutil.copytree(root, root + "-calibrate", symlinks=True)
                os.environ["XDG_STATE_HOME"] = tempfile.mkdtemp(
                    prefix="vellumshaper-crash-state-")
                try:
                    duration = full_run(
                        args.cli, os.path.join(root + "-calibrate", "tree"))
                finally:
                    shutil.rmtree(root + "-calibrate")
                    shutil.rmtree(os.environ["XDG_STATE_HOME"])
                    os.environ["XDG_STATE_HOME"] = state
                print("an uninterrupted run takes %.2f s" % duration,
                      flush=True)
            left = 1.0  # the share of the rewrites still to do
            for _ in range(args.kills_per_round):
                if kills >= args.kills:
                    break
                proc = subprocess.Popen(command(args.cli, tree),
                                        stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
                # A moment within what is left of the work (less the time
                # a run takes to read the tree again), so that most kills
                # land while files are being rewritten.
                start = time.monotonic()
                try:
                    proc.wait(rng.uniform(0.0, 0.7 * duration * max(left, 0.1)))
                    # Finished before the kill: the round is over, and
                    # runs are quicker than the first one measured.
                    took = time.monotonic() - start
                    duration = min(duration, took / max(left, 0.1))
                    break
                except subprocess.TimeoutExpired:
                    pass
                proc.send_signal(signal.SIGKILL)
                proc.wait()
                kills += 1
                new_count, temps = check(tree, root, entries, outside, False)
                mid_run += 0 < new_count < changing
                with_temps += temps > 0
                left = 1.0 - new_count / changing
            full_run(args.cli, tree)
            check(tree, root, entries, outside, True)
            # Every run of the round, killed or not, undone in turn (some
            # undos killed and run again) gives the tree back.
            undo_kills += undo_all(args.cli, rng, duration)
            check_original(tree, root, entries, outside)
        except Failure as failure:
            print("FAILED in round %d after %d kills (seed %d): %s"
                  % (rounds, kills, seed, failure), flush=True)
            print("the tree is kept in %s, the journals in %s" % (root, state))
            return 1
        shutil.rmtree(root)
        shutil.rmtree(state)

    print("%d kills in %d rounds, %.0f s: %d cut a run part-way through the "
          "rewrites, %d left temporary files" %
          (kills, rounds, time.monotonic() - started, mid_run, with_temps))
    if mid_run == 0:
        print("FAILED: no kill landed while files were being rewritten")
        return 1
    print("%d undos killed and run again" % undo_kills)
    print("every kill left every file whole, and every run was undone")
    return 0


if __name__ == "__main__":
    sys.exit(main())
