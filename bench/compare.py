"""Whole-run benchmark: vellumshaper-cli against its peers on real trees.

Run through bench/compare, which sees that Debian's python3 is there.

For every corpus and workload, each command is first run once on a fresh
copy of the tree and checked (the occurrences are gone, the replacements
and the changed files are what they must be, nothing else changed); then
all of the workload's commands are timed interleaved (each round runs
every command once, in a random order, through hyperfine), each run on a
fresh, warm copy. One markdown table per workload gives each
command's median and its ratio to the reference (the `rg -c` scan, or
`find -name` for names). A memory check, a growth check and the targets
follow. Everything goes to standard output and to --out.

    bench/compare                       # every corpus and workload
    bench/compare --tiny                # a small synthetic tree (CI)
    bench/compare --corpus kernel --workloads common,names --runs 3
    bench/compare --corpus kernel --workloads common --flags=--json \
        --flags=--diff --unchecked-flags='--exclude drivers/'

Installs what it needs through bench/install-deps (as root or with sudo),
builds vellumshaper-cli in build/, and keeps its corpora in --cache.
"""

import argparse
import datetime
import json
import os
import platform
import random
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))
sys.dont_write_bytecode = True  # no __pycache__ in the work tree
import make_tree  # noqa: E402

KERNEL_TARBALL = Path("/usr/src/linux-source-6.1.tar.xz")
WORKLOAD_NAMES = ["absent", "rare", "common", "names", "pattern", "memory"]
CORPUS_NAMES = ["kernel", "synthetic-10k", "synthetic-100k"]
# The targets, as ratios of medians.
ABSENT_LIMIT = 1.1
PATTERN_LIMIT = 1.2
NAMES_LIMIT = 1.5
MEMORY_LIMIT_KIB = 64 * 1024
GROWTH_SLACK = 1.2  # 10x the files may cost at most 12x the time
# The machine counts as quiet below this share of busy CPU time.
QUIET_SHARE = 0.1

# Commands run in a plain, predictable locale, as a user's would.
ENV = dict(os.environ, LC_ALL="C.UTF-8")
ENV.pop("LANGUAGE", None)


@dataclass
class Workload:
    name: str
    find: str
    replace: str
    # The find text is a regular expression, and the run a dry one: how
    # fast a pattern is looked for, against rg's count.
    regex: bool = False

    @property
    def names_only(self):
        return self.name == "names"


@dataclass
class Corpus:
    name: str
    synthetic: dict = None  # make_tree arguments, or None for the kernel
    workloads: dict = field(default_factory=dict)
    # Timed runs per command unless --runs says otherwise. A small tree's
    # runs are short, and its medians noisy: it gets more of them.
    runs: int = 5


def synthetic_workloads():
    return {
        "absent": Workload("absent", make_tree.ABSENT_TEXT, "VsNewText"),
        "rare": Workload("rare", make_tree.RARE_TEXT, "VsRareNew"),
        "common": Workload("common", make_tree.COMMON_TEXT, "VsCommonNew"),
        "names": Workload("names", make_tree.NAME_TEXT, "VsRenamed"),
    }


CORPORA = {
    # About 78,600 files in 5,100 folders, 1.3 GB. The common text occurs
    # some 18,400 times in 3,227 files, the rare one 113 times in 45, and
    # "clk-" is in 596 file names and no folder's.
    "kernel": Corpus("kernel", None, {
        "absent": Workload("absent", "VsAbsentText", "VsNewText"),
        "rare": Workload("rare", "BUILD_BUG_ON_ZERO", "BUILD_BUG_ON_NIL"),
        "common": Workload("common", "EXPORT_SYMBOL_GPL", "EXPORT_SYMBOL_VS"),
        "names": Workload("names", "clk-", "vsclock-"),
        "pattern": Workload("pattern", r"EXPORT_SYMBOL(_GPL)?\(",
                            "EXPORT_SYMBOL_VS(", regex=True),
    }),
    "synthetic-10k": Corpus(
        "synthetic-10k", dict(files=10000, size=10240, share=0.04),
        synthetic_workloads(), runs=15),
    "synthetic-100k": Corpus(
        "synthetic-100k", dict(files=100000, size=10240, share=0.04),
        synthetic_workloads()),
    "tiny": Corpus(
        "tiny", dict(files=300, size=2048, share=0.1), synthetic_workloads(),
        runs=2),
}


class CheckFailed(Exception):
    pass


def log(message):
    print(message, file=sys.stderr, flush=True)


def run(args, **kwargs):
    """Runs a command, failing loudly if it fails."""
    kwargs.setdefault("env", ENV)
    return subprocess.run(args, check=True, **kwargs)


def sh(command, **kwargs):
    """Runs a shell command line the way hyperfine does; returns the
    completed process, whatever its exit status."""
    kwargs.setdefault("env", ENV)
    return subprocess.run(["sh", "-c", command], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, **kwargs)


def q(text):
    return shlex.quote(str(text))


def sed_escape(text):
    return re.sub(r"([][\\/.*^$&])", r"\\\1", text)


# --- setting up ------------------------------------------------------------

def install_deps(kernel):
    command = [str(HERE / "install-deps")] + (["--kernel"] if kernel else [])
    if os.geteuid() != 0:
        command = ["sudo"] + command
    run(command, stdout=sys.stderr)


@dataclass
class Cli:
    """One build of vellumshaper-cli to time."""
    label: str   # how the tables name it
    path: Path
    origin: str  # where it came from, for the report


def build_work_tree(micro):
    """Builds the work tree's vellumshaper-cli in build/, as run.sh does."""
    build_dir = ROOT / "build"
    run(["cmake", "-S", str(ROOT), "-B", str(build_dir), "-G", "Ninja",
         "-DCMAKE_BUILD_TYPE=RelWithDebInfo"], stdout=sys.stderr)
    targets = ["vellumshaper-cli"]
    if micro:
        targets.append("vellumshaper_bench")
    run(["cmake", "--build", str(build_dir), "--target"] + targets,
        stdout=sys.stderr)
    return build_dir


def build_commit(revision, cache):
    """Builds vellumshaper-cli as committed in `revision`, outside the
    work tree, once; returns (its path, the commit's short id)."""
    sha = run(["git", "-C", str(ROOT), "rev-parse", "--verify",
               revision + "^{commit}"], stdout=subprocess.PIPE,
              text=True).stdout.strip()
    short = sha[:10]
    place = cache / "builds" / sha
    binary = place / "build" / "cli" / "vellumshaper-cli"
    if binary.exists():
        return binary, short
    shutil.rmtree(place, ignore_errors=True)
    (place / "src").mkdir(parents=True)
    archive = subprocess.Popen(["git", "-C", str(ROOT), "archive", sha],
                               stdout=subprocess.PIPE)
    run(["tar", "-x", "-C", str(place / "src")], stdin=archive.stdout)
    if archive.wait() != 0:
        raise RuntimeError("git archive %s failed" % sha)
    run(["cmake", "-S", str(place / "src"), "-B", str(place / "build"),
         "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
         "-DBUILD_TESTING=OFF"], stdout=sys.stderr)
    run(["cmake", "--build", str(place / "build"), "--target",
         "vellumshaper-cli"], stdout=sys.stderr)
    return binary, short


def git_describe():
    result = subprocess.run(["git", "-C", str(ROOT), "describe", "--always",
                             "--dirty"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    return result.stdout.strip() or "?"


def clis_to_time(args, cache):
    """The builds asked for; the work tree's, built in build/, if none."""
    clis = []
    for revision in args.commit or []:
        path, short = build_commit(revision, cache)
        clis.append(Cli("vellumshaper-cli @" + short, path,
                        "commit %s, built in %s" % (short, path.parent)))
    for path in args.cli or []:
        path = path.resolve()
        clis.append(Cli("vellumshaper-cli @" + str(path), path, str(path)))
    build_dir = None
    if not clis:
        build_dir = build_work_tree(args.micro)
        path = build_dir / "cli" / "vellumshaper-cli"
        clis.append(Cli("vellumshaper-cli", path,
                        "the work tree at %s, built in build/"
                        % git_describe()))
    if len(clis) == 1:
        clis[0].label = "vellumshaper-cli"
    return clis, build_dir


def prepare_corpus(corpus, cache):
    """The pristine tree of `corpus`, made once and kept in the cache."""
    corpora = cache / "corpora"
    corpora.mkdir(parents=True, exist_ok=True)
    tree = corpora / corpus.name
    stamp = corpora / (corpus.name + ".json")
    if corpus.synthetic is None:
        info = KERNEL_TARBALL.stat()
        wanted = {"tarball": str(KERNEL_TARBALL), "size": info.st_size,
                  "mtime": int(info.st_mtime)}
    else:
        wanted = dict(corpus.synthetic, generator=1)
    if tree.is_dir() and stamp.exists() and \
            json.loads(stamp.read_text()) == wanted:
        return tree
    log("making the %s corpus in %s" % (corpus.name, tree))
    shutil.rmtree(tree, ignore_errors=True)
    stamp.unlink(missing_ok=True)
    staging = corpora / (corpus.name + ".partial")
    shutil.rmtree(staging, ignore_errors=True)
    if corpus.synthetic is None:
        staging.mkdir()
        run(["tar", "-xJf", str(KERNEL_TARBALL), "-C", str(staging)])
        (staging / "linux-source-6.1").rename(tree)
        staging.rmdir()
    else:
        make_tree.make_tree(str(staging), **corpus.synthetic)
        staging.rename(tree)
    stamp.write_text(json.dumps(wanted))
    return tree


def restore_command(pristine, work):
    """Puts back a fresh copy of the tree, lets the copy's writes reach
    the disk, and reads the whole copy so its pages are cached."""
    return ("rsync -a --delete {p}/ {w}/ && sync && "
            "tar -cf - -C {w} . | cat > /dev/null"
            .format(p=q(pristine), w=q(work)))


def restore(pristine, work):
    result = sh(restore_command(pristine, work))
    if result.returncode != 0:
        raise RuntimeError("restoring %s failed: %s"
                           % (work, result.stderr.decode(errors="replace")))


# --- what a tree holds ------------------------------------------------------

def rg_counts(tree, text, *flags, regex=False):
    """{relative path: count} from `rg FLAGS` over `tree`."""
    result = subprocess.run(
        ["rg"] + ([] if regex else ["-F"]) +
        ["--no-ignore", "--hidden", "--null"] + list(flags) +
        ["--", text], cwd=tree, stdout=subprocess.PIPE, env=ENV)
    if result.returncode not in (0, 1):
        raise RuntimeError("rg failed in %s" % tree)
    counts = {}
    for line in result.stdout.split(b"\n"):
        if line:
            path, _, count = line.partition(b"\0")
            counts[path.decode(errors="surrogateescape")] = int(count)
    return counts


def walk_names(tree):
    """(relative paths of everything but folders, of folders)."""
    others, folders = [], []
    stack = [""]
    while stack:
        rel = stack.pop()
        with os.scandir(os.path.join(tree, rel)) as entries:
            for entry in entries:
                path = os.path.join(rel, entry.name)
                if entry.is_dir(follow_symlinks=False):
                    folders.append(path)
                    stack.append(path)
                else:
                    others.append(path)
    return others, folders


@dataclass
class Expected:
    """What a workload's commands must find and do in the pristine tree."""
    files: set = field(default_factory=set)  # files holding the text
    lines: int = 0          # lines holding it
    occurrences: int = 0
    new_before: int = 0     # occurrences of the replacement text
    renames: dict = field(default_factory=dict)  # old path: new path
    find_matches: int = 0   # entries `find -name` lists, folders too
    renamed_before: int = 0  # names already holding the replacement


def expectations(tree, workload):
    expected = Expected()
    if workload.names_only:
        others, folders = walk_names(tree)
        for path in others:
            folder, name = os.path.split(path)
            if workload.find in name:
                expected.renames[path] = os.path.join(
                    folder, name.replace(workload.find, workload.replace))
            if workload.replace in name:
                expected.renamed_before += 1
        expected.find_matches = len(expected.renames) + sum(
            workload.find in os.path.basename(f) for f in folders)
        return expected
    lines = rg_counts(tree, workload.find, "-c", regex=workload.regex)
    expected.files = set(lines)
    expected.lines = sum(lines.values())
    if workload.regex:
        return expected
    expected.occurrences = sum(
        rg_counts(tree, workload.find, "--count-matches").values())
    expected.new_before = sum(
        rg_counts(tree, workload.replace, "--count-matches").values())
    if workload.find in workload.replace:
        raise RuntimeError("a replacement holding the find text cannot "
                           "be checked")
    return expected


def tree_changes(pristine, work):
    """(paths that differ or are missing in `work`, paths only in `work`),
    relative; folders whose times alone changed are left out."""
    result = subprocess.run(
        ["rsync", "-a", "-n", "-i", "--delete", "%s/" % pristine,
         "%s/" % work], stdout=subprocess.PIPE, check=True, env=ENV)
    changed, extra = set(), set()
    for line in result.stdout.decode(errors="surrogateescape").splitlines():
        code, path = line[:11], line[12:]
        if code.startswith("*deleting"):
            extra.add(path.rstrip("/"))
        elif code[1] == "d" and code[0] == ".":
            continue
        else:
            changed.add(path.rstrip("/"))
    return changed, extra


# --- the commands -----------------------------------------------------------

@dataclass
class Command:
    name: str
    line: str
    # "cli", "reference" or "peer"; "variant" for a cli with --flags
    # (the tree checked, not its output), "unchecked" for one with
    # --unchecked-flags (its exit status alone checked).
    role: str


def variants_for(workload, work, clis, flags, unchecked_flags):
    """Each cli again with each set of extra options, after the plain
    ones: what an option costs shows in one run."""
    if workload.regex:
        return []
    t, n, w = workload.find, workload.replace, q(work)
    names = " --no-text" if workload.names_only else ""
    return [
        Command("%s%s %s" % (cli.label, names, extra),
                "%s%s %s --find %s --replace %s %s"
                % (q(cli.path), names, extra, q(t), q(n), w), role)
        for role, sets in (("variant", flags), ("unchecked", unchecked_flags))
        for extra in sets for cli in clis
    ]


def commands_for(workload, work, clis):
    t, n, w = workload.find, workload.replace, q(work)
    if workload.names_only:
        return [
            Command("find -name (reference)",
                    "find %s -name %s" % (w, q("*%s*" % t)), "reference"),
        ] + [
            Command(cli.label + " --no-text",
                    "%s --no-text --find %s --replace %s %s"
                    % (q(cli.path), q(t), q(n), w), "cli")
            for cli in clis
        ] + [
            Command("find | file-rename",
                    "find %s -name %s -not -type d -print0 | "
                    "file-rename -0 -d %s"
                    % (w, q("*%s*" % t),
                       q("s/\\Q%s\\E/%s/g" % (t, n.replace("\\", "\\\\")))),
                    "peer"),
        ]
    if workload.regex:
        return [
            Command("rg -c (reference)",
                    "rg -c --no-ignore --hidden -- %s %s || test $? -eq 1"
                    % (q(t), w), "reference"),
        ] + [
            Command(cli.label + " -e --dry-run",
                    "%s -e --dry-run --find %s --replace %s %s"
                    % (q(cli.path), q(t), q(n), w), "cli")
            for cli in clis
        ]
    rg_files = "rg -lF --no-ignore --hidden -0 -- %s %s" % (q(t), w)
    return [
        Command("rg -c (reference)",
                # rg says 1 when nothing matched.
                "rg -F -c --no-ignore --hidden -- %s %s || test $? -eq 1"
                % (q(t), w), "reference"),
    ] + [
        Command(cli.label,
                "%s --find %s --replace %s %s" % (q(cli.path), q(t), q(n), w),
                "cli")
        for cli in clis
    ] + [
        Command("rg -l | xargs sed -i",
                "%s | xargs -0 -r sed -i %s"
                % (rg_files, q("s/%s/%s/g" % (sed_escape(t), sed_escape(n)))),
                "peer"),
        Command("rg -l | xargs sd -s",
                "%s | xargs -0 -r sd -s -- %s %s" % (rg_files, q(t), q(n)),
                "peer"),
    ]


def check_command(command, workload, expected, pristine, work):
    """Runs `command` once on a fresh copy of the tree and checks that it
    did the whole of its work and nothing else."""
    restore(pristine, work)
    result = sh(command.line)
    out = result.stdout.decode(errors="surrogateescape")

    def need(condition, what):
        if not condition:
            raise CheckFailed("%s: %s" % (command.name, what))

    need(result.returncode == 0, "exit status %d: %s" % (
        result.returncode, result.stderr.decode(errors="replace")[-500:]))
    if command.role == "unchecked":
        return
    changed, extra = tree_changes(pristine, work)
    listed = [l for l in out.splitlines() if l and not l.startswith("\t")]
    entries = [l for l in out.splitlines() if l.startswith("\t")]
    prefix = str(work) + "/"

    if workload.names_only:
        if command.role == "reference":
            need(len(listed) == expected.find_matches,
                 "listed %d names, not %d" % (len(listed),
                                              expected.find_matches))
            need(not changed and not extra, "changed the tree")
            return
        need(changed == set(expected.renames),
             "%d of %d names changed, and %d others" % (
                 len(changed & set(expected.renames)), len(expected.renames),
                 len(changed - set(expected.renames))))
        need(extra == set(expected.renames.values()),
             "new names are not the expected ones")
        if command.role == "cli":
            renamed = [e for e in entries
                       if e.startswith("\tChanged File Name to: ")]
            need(len(renamed) == len(expected.renames) == len(entries),
                 "reported %d renames and %d other entries, for %d names"
                 % (len(renamed), len(entries) - len(renamed),
                    len(expected.renames)))
        return

    if workload.regex:
        # A dry run: the tree stays, and the listing says what would change.
        need(not changed and not extra, "changed the tree")
        if command.role == "cli":
            need(set(listed) == {prefix + f for f in expected.files},
                 "listed %d files, not the %d matching" % (
                     len(listed), len(expected.files)))
            need(len(entries) == expected.lines,
                 "reported %d entries for %d matching lines"
                 % (len(entries), expected.lines))
        return

    if command.role == "reference":
        counted = 0
        for line in listed:
            counted += int(line.rsplit(":", 1)[1])
        need(counted == expected.lines,
             "counted %d lines, not %d" % (counted, expected.lines))
        need(not changed and not extra, "changed the tree")
        return
    need(not extra, "left files behind: %s" % sorted(extra)[:3])
    need(changed == expected.files,
         "changed %d of the %d files holding the text, and %d others" % (
             len(changed & expected.files), len(expected.files),
             len(changed - expected.files)))
    left = sum(rg_counts(work, workload.find, "--count-matches").values())
    need(left == 0, "%d occurrences left" % left)
    new = sum(rg_counts(work, workload.replace, "--count-matches").values())
    need(new == expected.new_before + expected.occurrences,
         "%d replacements, not %d" % (new - expected.new_before,
                                      expected.occurrences))
    if command.role == "cli":
        need(set(listed) == {prefix + f for f in expected.files},
             "listed %d files, not the %d holding the text" % (
                 len(listed), len(expected.files)))
        changed_lines = [e for e in entries if e.startswith("\tLine ")]
        need(len(changed_lines) == expected.lines == len(entries),
             "reported %d changed lines and %d other entries, for %d lines"
             % (len(changed_lines), len(entries) - len(changed_lines),
                expected.lines))


# --- timing -----------------------------------------------------------------

def time_workload(commands, pristine, work, runs, json_path):
    """Times every command `runs` times, interleaved: each round runs each
    command once, in a fresh random order, so that whatever drifts while
    a workload is timed (the machine, the caches, the file system's state
    after many restores) falls on every command alike rather than on the
    ones timed last."""
    times = {command.name: [] for command in commands}
    for round_number in range(1, runs + 1):
        log("  round %d of %d" % (round_number, runs))
        order = commands[:]
        random.shuffle(order)
        args = ["hyperfine", "--runs", "1",
                "--prepare", restore_command(pristine, work),
                "--export-json", str(json_path)]
        if not sys.stderr.isatty():
            args += ["--style", "basic"]
        for command in order:
            args += ["--command-name", command.name, command.line]
        run(args, stdout=subprocess.DEVNULL)
        results = json.loads(Path(json_path).read_text())["results"]
        for command, result in zip(order, results):
            times[command.name] += result["times"]
    timings = {name: {"median": statistics.median(t), "min": min(t),
                      "max": max(t), "times": t}
               for name, t in times.items()}
    Path(json_path).write_text(json.dumps(
        {"results": [dict(command=name, **t)
                     for name, t in timings.items()]}, indent=1))
    return timings


def seconds(value):
    if value >= 10:
        return "%.1f s" % value
    if value >= 1:
        return "%.2f s" % value
    return "%.0f ms" % (value * 1000) if value >= 0.01 else \
        "%.1f ms" % (value * 1000)


def cell(command_name):
    """A command's name as a table cell: code, its pipes escaped."""
    return "`%s`" % command_name.replace("|", "\\|")


def workload_table(title, commands, timings, failures):
    reference = next(c for c in commands if c.role == "reference")
    ref_median = timings[reference.name]["median"] if reference.name in \
        timings else None
    rows = ["### %s" % title, "",
            "| command | median | min … max | ratio to %s |"
            % cell(reference.name.replace(" (reference)", "")),
            "|---|---:|---:|---:|"]
    for command in commands:
        if command.name in failures:
            rows.append("| %s | failed its check | | |" % cell(command.name))
            continue
        t = timings[command.name]
        ratio = "%.2f" % (t["median"] / ref_median) if ref_median else "?"
        rows.append("| %s | %s | %s … %s | %s |" % (
            cell(command.name), seconds(t["median"]), seconds(t["min"]),
            seconds(t["max"]), ratio))
    return "\n".join(rows)


# --- the memory check -------------------------------------------------------

def peak_rss(command, timeout):
    """(exit status, peak resident KiB, wall seconds) of `command`."""
    with tempfile.NamedTemporaryFile("r") as report:
        try:
            status = subprocess.run(
                ["/usr/bin/time", "-v", "-o", report.name] + command,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                env=ENV, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return None, None, None
        text = report.read()
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)",
                        text).group(1))
    clock = re.search(r"Elapsed \(wall clock\) time.*: (\S+)", text).group(1)
    wall = 0.0
    for part in clock.split(":"):
        wall = wall * 60 + float(part)
    return status, rss, wall


def memory_check(cache, clis, size):
    """Rewrites a file of `size` bytes on one line, its one occurrence at
    the end, and measures each command's peak resident memory."""
    find, replace = "VsMemoryEnd", "VsMemoryNew"
    pristine = cache / "memory" / ("one-line-%d.txt" % size)
    if not pristine.exists() or pristine.stat().st_size != size:
        pristine.parent.mkdir(parents=True, exist_ok=True)
        chunk = (b"the quick brown fox jumps over the lazy dog; " * 23000)
        body = size - len(find) - 1
        with open(pristine, "wb") as out:
            while body > 0:
                out.write(chunk[:body])
                body -= min(body, len(chunk))
            out.write(find.encode() + b"\n")
    work_dir = cache / "work" / "memory"
    work = work_dir / "one-line.txt"
    commands = [(cli.label, [str(cli.path), "--find", find, "--replace",
                             replace, str(work_dir)]) for cli in clis]
    commands += [
        ("sed -i", ["sed", "-i", "s/%s/%s/g" % (find, replace), str(work)]),
        ("sd -s", ["sd", "-s", find, replace, str(work)]),
    ]
    rows = ["### Memory: one line of %s, its occurrence at the end"
            % human_bytes(size), "",
            "| command | peak resident | wall time |", "|---|---:|---:|"]
    cli_rss, failures = {}, []
    for name, command in commands:
        shutil.rmtree(work_dir, ignore_errors=True)
        work_dir.mkdir(parents=True)
        run(["cp", str(pristine), str(work)])
        run(["sync"])
        status, rss, wall = peak_rss(command, timeout=600)
        if status is None:
            rows.append("| %s | gave up after 600 s | |" % cell(name))
            continue
        ok = status == 0 and work.stat().st_size == \
            size - len(find) + len(replace)
        if ok:
            with open(work, "rb") as f:
                f.seek(-len(replace) - 1, os.SEEK_END)
                ok = f.read() == replace.encode() + b"\n"
        if not ok:
            failures.append("memory: %s did not rewrite the file" % name)
            rows.append("| %s | failed its check | |" % cell(name))
            continue
        if name in (cli.label for cli in clis):
            cli_rss[name] = rss
        rows.append("| %s | %.1f MiB | %s |" % (cell(name), rss / 1024,
                                                seconds(wall)))
    shutil.rmtree(work_dir, ignore_errors=True)
    return "\n".join(rows), cli_rss, failures


def human_bytes(n):
    for unit in ["bytes", "KiB", "MiB", "GiB"]:
        if n < 1024 or unit == "GiB":
            return ("%d %s" % (n, unit)) if n == int(n) else \
                ("%.1f %s" % (n, unit))
        n /= 1024


def tree_size(tree):
    files, size = 0, 0
    for rel in walk_names(tree)[0]:
        st = os.lstat(os.path.join(tree, rel))
        files += 1
        size += st.st_size
    return files, size


# --- the micro-benchmarks, as a smoke check ----------------------------------

def micro_smoke(build_dir):
    binary = build_dir / "bench" / "vellumshaper_bench"
    if not binary.exists():
        log("micro-benchmarks not built (no Google Benchmark); skipped")
        return []
    result = subprocess.run(
        [str(binary), "--benchmark_min_time=0.001",
         "--benchmark_format=json"], stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL, env=ENV)
    if result.returncode != 0:
        return ["micro-benchmarks: exit status %d" % result.returncode]
    runs = json.loads(result.stdout)["benchmarks"]
    errors = ["micro-benchmark %s: %s" % (b["name"], b.get("error_message"))
              for b in runs if b.get("error_occurred")]
    log("micro-benchmarks: %d ran, %d failed" % (len(runs), len(errors)))
    return errors


# --- the run ----------------------------------------------------------------

def parse_args():
    parser = argparse.ArgumentParser(
        prog="bench/compare",
        description="Times vellumshaper-cli against rg, sed, sd and "
        "file-rename on real and synthetic trees.")
    parser.add_argument("--tiny", action="store_true",
                        help="a tiny synthetic tree and 2 runs, to check "
                        "that everything works (CI)")
    parser.add_argument("--corpus", action="append", metavar="NAME",
                        help="kernel, synthetic-10k or synthetic-100k; may "
                        "be repeated or comma-separated (default: all)")
    parser.add_argument("--workloads", metavar="LIST",
                        help="comma-separated, from %s (default: all)"
                        % ",".join(WORKLOAD_NAMES))
    parser.add_argument("--runs", type=int,
                        help="timed runs per command (default 5; 15 on "
                        "synthetic-10k; 2 with --tiny)")
    parser.add_argument("--memory-size", type=int, metavar="BYTES",
                        help="the one-line file's size (default 1 GiB; "
                        "16 MiB with --tiny)")
    parser.add_argument("--cache", type=Path,
                        default=Path(os.environ.get("VS_BENCH_CACHE") or
                                     Path(os.environ.get("XDG_CACHE_HOME") or
                                          Path.home() / ".cache") /
                                     "vellumshaper-bench"),
                        help="where corpora and working copies are kept "
                        "(default $VS_BENCH_CACHE, else "
                        "$XDG_CACHE_HOME/vellumshaper-bench)")
    parser.add_argument("--out", type=Path,
                        help="where the report and hyperfine's data go "
                        "(default CACHE/results/DATE)")
    parser.add_argument("--commit", action="append", metavar="REV",
                        help="time vellumshaper-cli as committed in REV, "
                        "built in the cache; may be repeated to set builds "
                        "side by side")
    parser.add_argument("--cli", action="append", type=Path, metavar="PATH",
                        help="time this vellumshaper-cli; may be repeated")
    parser.add_argument("--flags", action="append", default=[],
                        metavar="OPTIONS",
                        help="time each vellumshaper-cli also with these "
                        "extra options, which must leave the same tree "
                        "(--json, --diff, --no-undo); may be repeated")
    parser.add_argument("--unchecked-flags", action="append", default=[],
                        metavar="OPTIONS",
                        help="as --flags, for options that change what a "
                        "run does (--exclude drivers/, -i): only the exit "
                        "status is checked")
    parser.add_argument("--wait-quiet", type=int, default=0,
                        metavar="SECONDS",
                        help="before timing a workload, wait up to SECONDS "
                        "for the CPUs to be idle (other work on the machine "
                        "skews the ratios)")
    parser.add_argument("--no-install", action="store_true",
                        help="do not run bench/install-deps")
    args = parser.parse_args()

    if args.tiny:
        corpora = ["tiny"]
    else:
        corpora = []
        for value in args.corpus or [",".join(CORPUS_NAMES)]:
            corpora += [c for c in value.split(",") if c]
        for name in corpora:
            if name not in CORPUS_NAMES:
                parser.error("unknown corpus %r" % name)
    args.corpora = corpora
    args.workload_list = WORKLOAD_NAMES if not args.workloads else \
        [w for w in args.workloads.split(",") if w]
    for name in args.workload_list:
        if name not in WORKLOAD_NAMES:
            parser.error("unknown workload %r" % name)
    if args.runs is not None and args.runs < 1:
        parser.error("--runs must be at least 1")
    args.memory_size = args.memory_size or \
        ((16 << 20) if args.tiny else (1 << 30))
    args.micro = args.tiny
    root_real = ROOT.resolve()
    cache_real = args.cache.resolve()
    if cache_real == root_real or root_real in cache_real.parents:
        parser.error("--cache must be outside the repository")
    return args


def describe_machine(clis):
    def first_line(command):
        try:
            out = subprocess.run(command, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, env=ENV).stdout
            return out.decode(errors="replace").splitlines()[0]
        except (OSError, IndexError):
            return "?"
    lines = ["- machine: %d cores, %s, Linux %s" % (
        os.cpu_count(), platform.machine(), platform.release())]
    for cli in clis:
        lines.append("- `%s`: %s" % (cli.label, cli.origin))
    lines.append("- %s; %s; %s; %s; %s" % (
        first_line(["rg", "--version"]),
        first_line(["sed", "--version"]),
        first_line(["sd", "--version"]),
        first_line(["file-rename", "--version"]).split("/")[-1],
        first_line(["hyperfine", "--version"])))
    return "\n".join(lines)


def busy_share(seconds=2.0):
    """The share of the machine's CPU time spent busy over `seconds`."""
    def sample():
        with open("/proc/stat") as stat:
            fields = [int(v) for v in stat.readline().split()[1:]]
        return sum(fields), fields[3] + fields[4]  # idle and iowait
    total0, idle0 = sample()
    time.sleep(seconds)
    total1, idle1 = sample()
    return 1 - (idle1 - idle0) / max(total1 - total0, 1)


def wait_until_quiet(limit):
    """Waits up to `limit` seconds for other work on the machine to stop,
    so it does not slow the timed runs."""
    waited = 0
    while waited < limit:
        busy = busy_share()
        if busy < QUIET_SHARE:
            return
        log("machine %.0f%% busy; waiting for it to calm down" % (busy * 100))
        time.sleep(15)
        waited += 17
    log("still busy after %d s; timing anyway" % limit)


def main():
    args = parse_args()
    if not args.no_install:
        install_deps("kernel" in args.corpora)
    cache = args.cache.resolve()
    clis, build_dir = clis_to_time(args, cache)
    out_dir = args.out or cache / "results" / \
        datetime.datetime.now().strftime("%Y%m%d-%H%M%S")
    out_dir.mkdir(parents=True, exist_ok=True)

    sections = ["## Vellumshaper against its peers", "",
                describe_machine(clis),
                "- every timed run on a fresh copy of the tree, read once "
                "just before it; runs per command: %s" % (
                    args.runs or ", ".join(
                        "%d on %s" % (CORPORA[c].runs, c)
                        for c in args.corpora)), ""]
    print("\n".join(sections), flush=True)
    failures = []
    if args.micro and build_dir is not None:
        failures += micro_smoke(build_dir)
    results = {}  # (corpus, workload): [(Command, median)], as timed
    sizes = {}

    for corpus_name in args.corpora:
        corpus = CORPORA[corpus_name]
        wanted = [w for w in args.workload_list if w in corpus.workloads]
        if not wanted:
            continue
        pristine = prepare_corpus(corpus, cache)
        work = cache / "work" / corpus.name
        work.mkdir(parents=True, exist_ok=True)
        files, size = tree_size(pristine)
        sizes[corpus.name] = (files, size)
        heading = "## Corpus %s: %d files, %s" % (corpus.name, files,
                                                   human_bytes(size))
        print(heading + "\n", flush=True)
        sections += [heading, ""]
        for workload_name in wanted:
            workload = corpus.workloads[workload_name]
            log("== %s / %s" % (corpus.name, workload.name))
            expected = expectations(pristine, workload)
            commands = commands_for(workload, work, clis) + variants_for(
                workload, work, clis, args.flags, args.unchecked_flags)
            checked, failed = [], []
            for command in commands:
                try:
                    check_command(command, workload, expected, pristine,
                                  work)
                    checked.append(command)
                except CheckFailed as problem:
                    failed.append(command.name)
                    failures.append("%s/%s: %s" % (corpus.name,
                                                   workload.name, problem))
                    log("CHECK FAILED: %s" % problem)
            timings = {}
            if checked and args.wait_quiet:
                wait_until_quiet(args.wait_quiet)
            busy = busy_share()
            if checked:
                timings = time_workload(
                    checked, pristine, work, args.runs or corpus.runs,
                    out_dir / ("%s-%s.json" % (corpus.name, workload.name)))
            results[(corpus.name, workload.name)] = [
                (c, timings[c.name]["median"]) for c in checked]
            what = ("%d names" % len(expected.renames)
                    if workload.names_only else
                    "%d lines in %d files" % (expected.lines,
                                              len(expected.files))
                    if workload.regex else
                    "%d occurrences in %d files" % (expected.occurrences,
                                                    len(expected.files)))
            title = "%s, %s: `%s` → `%s` (%s)" % (
                corpus.name, workload.name, workload.find, workload.replace,
                what)
            table = workload_table(title, commands, timings, failed)
            table += ("\n\nOther work just before timing: %.0f %% of the "
                      "CPUs busy." % (busy * 100))
            print(table + "\n", flush=True)
            sections += [table, ""]
        # The copy is only scratch space; the pristine tree stays.
        restore(pristine, work)

    cli_rss = {}
    if "memory" in args.workload_list:
        log("== memory")
        table, cli_rss, memory_failures = memory_check(
            cache, clis, args.memory_size)
        failures += memory_failures
        print(table + "\n", flush=True)
        sections += [table, ""]

    for text in (growth_table(results, sizes),
                 targets_table(results, cli_rss, args)):
        if text:
            print(text + "\n", flush=True)
            sections += [text, ""]
    if failures:
        text = "## Failed checks\n\n" + "\n".join("- " + f for f in failures)
        print(text + "\n", flush=True)
        sections += [text, ""]
    (out_dir / "report.md").write_text("\n".join(sections))
    log("report and hyperfine data in %s" % out_dir)
    return 1 if failures else 0


def growth_table(results, sizes):
    small, large = "synthetic-10k", "synthetic-100k"
    if small not in sizes or large not in sizes:
        return ""
    rows = ["### Growth: %s → %s (%.1f× the files, %.1f× the bytes)" % (
        small, large, sizes[large][0] / sizes[small][0],
        sizes[large][1] / sizes[small][1]), "",
        "| workload | command | 10k | 100k | growth |",
        "|---|---|---:|---:|---:|"]
    for (corpus, workload), timed in results.items():
        if corpus != small:
            continue
        bigger = {c.name: m for c, m in results.get((large, workload), [])}
        for command, median in timed:
            if command.name in bigger:
                rows.append("| %s | %s | %s | %s | %.1f× |" % (
                    workload, cell(command.name), seconds(median),
                    seconds(bigger[command.name]),
                    bigger[command.name] / median))
    return "\n".join(rows) if len(rows) > 4 else ""


def targets_table(results, cli_rss, args):
    rows = ["### Targets", "",
            "| corpus | command | target | measured | met |",
            "|---|---|---|---:|:-:|"]

    def row(corpus, command, target, measured, met):
        rows.append("| %s | %s | %s | %s | %s |" % (
            corpus, cell(command), target, measured,
            "yes" if met else "**no**"))

    for (corpus, workload), timed in results.items():
        by_name = {c.name: m for c, m in timed}
        reference = next((m for c, m in timed if c.role == "reference"),
                         None)
        for command, median in timed:
            if command.role != "cli":
                continue
            if workload == "absent" and reference:
                ratio = median / reference
                row(corpus, command.name, "absent text: ≤ %.1f× `rg -c`"
                    % ABSENT_LIMIT, "%.2f×" % ratio, ratio <= ABSENT_LIMIT)
            elif workload == "pattern" and reference:
                ratio = median / reference
                row(corpus, command.name, "a pattern, looked for: ≤ %.1f× "
                    "`rg -c`" % PATTERN_LIMIT, "%.2f×" % ratio,
                    ratio <= PATTERN_LIMIT)
            elif workload == "names" and reference:
                ratio = median / reference
                row(corpus, command.name, "names: ≤ %.1f× `find -name`"
                    % NAMES_LIMIT, "%.2f×" % ratio, ratio <= NAMES_LIMIT)
            elif workload in ("rare", "common"):
                peers = ["rg -l | xargs sed -i"]
                if workload == "common":
                    peers.append("rg -l | xargs sd -s")
                for peer in peers:
                    if peer in by_name:
                        ratio = median / by_name[peer]
                        row(corpus, command.name, "%s text: faster than %s"
                            % (workload, cell(peer)), "%.2f×" % ratio,
                            ratio < 1)
    for name, rss in cli_rss.items():
        row("memory", name, "one line of %s: ≤ 64 MiB"
            % human_bytes(args.memory_size), "%.1f MiB" % (rss / 1024),
            rss <= MEMORY_LIMIT_KIB)
    for (corpus, workload), timed in results.items():
        if corpus != "synthetic-10k":
            continue
        bigger = {c.name: m for c, m in
                  results.get(("synthetic-100k", workload), [])}
        for command, median in timed:
            if command.role == "cli" and command.name in bigger:
                growth = bigger[command.name] / median
                row("growth", command.name, "%s: 10× the files, ≤ %.0f× "
                    "the time" % (workload, 10 * GROWTH_SLACK),
                    "%.1f×" % growth, growth <= 10 * GROWTH_SLACK)
    return "\n".join(rows) if len(rows) > 4 else ""


if __name__ == "__main__":
    sys.exit(main())
