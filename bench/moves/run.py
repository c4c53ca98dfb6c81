#!/usr/bin/env python3
"""Times moves: a renamed top folder against the first sync, and the check with moves on and off.

Prints:
  rename  = sync after renaming the source's top folder / first sync, each pairwell-cli sync in a
            fresh process ending with its flush; with the bytes each wrote (the process's write_bytes,
            from wait4) less the day's log file it rewrites, and a check that every target file kept its
            inode; a sync with nothing changed for comparison   (target: < 0.05, no file data written)
  check N = pairwell-cli check --moves of N files with nothing moved, DetectMoves=True / False
            (median of interleaved pairs, each first in turn)   (target: <= 1.05)

Usage: bench/moves/run.py [--cli build/bin/pairwell-cli] [--work DIR] [--files 10000] [--mib 1024]
                          [--check-files 100000] [--repeat 5] [--first-repeat 3]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def write_config(path, src, dst, extra=""):
    with open(path, "wb") as f:
        f.write(("[project_bench]\r\nsource=%s\r\ntarget=%s\r\nFileDelete=True\r\nEditTime=2\r\n%s"
                 % (src, dst, extra)).encode())


def run(cmd):
    """Seconds and bytes written (the child's write_bytes) of one command, which must succeed."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if proc.returncode not in (0, 1):
        sys.exit("failed (%d): %s\n%s" % (proc.returncode, " ".join(cmd), err))
    return seconds, usage.ru_oublock * 512


def make_tree(top, files, total_bytes, folders=100):
    size = max(1, total_bytes // files)
    block = os.urandom(size)
    for i in range(files):
        folder = os.path.join(top, "d%03d" % (i % folders))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%06d.dat" % i), "wb") as f:
            f.write(block[: size - 8] + i.to_bytes(8, "little"))


def inodes(top):
    """Path below top ("." for top itself) -> inode of every file and folder."""
    found = {".": os.lstat(top).st_ino}
    for folder, dirs, files in os.walk(top):
        for name in dirs + files:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, top)] = os.lstat(path).st_ino
    return found


def log_bytes(base):
    """What a run's log close writes: it rewrites the day's log file as a whole."""
    folder = os.path.join(base, "log")
    return sum(os.path.getsize(os.path.join(folder, name)) for name in os.listdir(folder) if name.endswith(".xml"))


def bench_rename(cli, work, files, mib, repeat, first_repeat):
    base = os.path.join(work, "rename")
    src, dst = os.path.join(base, "src"), os.path.join(base, "dst")
    make_tree(os.path.join(src, "Photos"), files, mib << 20)
    config = os.path.join(base, "pairwell.ini")
    write_config(config, src, dst)
    sync = [cli, "--config", config, "sync", "bench"]
    # Each sync is a fresh process; the first ends with the flush of the target's file system as every
    # sync does, so that the tree just made is on the disk before it starts and it waits for its own copies.
    # The first sync depends most on what else the machine does: the median of a few, each into an empty
    # target with an empty log folder.
    firsts = []
    for _ in range(first_repeat):
        shutil.rmtree(dst, ignore_errors=True)
        shutil.rmtree(os.path.join(base, "log"), ignore_errors=True)
        subprocess.run(["sync"], check=True)
        firsts.append(run(sync))
    first, first_bytes = sorted(firsts)[len(firsts) // 2]
    names = ["Photos", "Photos 2024"]
    renamed, unchanged, written, logged = [], [], [], []
    for i in range(repeat):
        old, new = names[i % 2], names[(i + 1) % 2]
        before = inodes(os.path.join(dst, old))
        os.rename(os.path.join(src, old), os.path.join(src, new))
        seconds, wrote = run(sync)
        renamed.append(seconds)
        written.append(wrote)
        logged.append(log_bytes(base))
        if os.path.exists(os.path.join(dst, old)) or inodes(os.path.join(dst, new)) != before:
            sys.exit("the renamed folder was not renamed in the target: its files were written again")
        unchanged.append(run(sync)[0])
    second = statistics.median(renamed)
    besides_log = max(max(0, w - l) for w, l in zip(written, logged))
    print("rename %d files, %d MiB: first sync %.2f s (median of %d; %.0f MiB written); after the rename %.3f s "
          "(median of %d; every target file and folder kept its inode; at most %d bytes written besides "
          "the day's log file, %d with it); a sync with nothing changed %.3f s; ratio %.4f (target < 0.05)"
          % (files, mib, first, first_repeat, first_bytes / 2**20, second, repeat, besides_log, max(written),
             statistics.median(unchanged), second / first))
    shutil.rmtree(base)


def bench_check(cli, work, files, repeat):
    base = os.path.join(work, "check")
    src, dst = os.path.join(base, "src"), os.path.join(base, "dst")
    make_tree(src, files, files * 16, folders=1000)
    on, off = os.path.join(base, "on.ini"), os.path.join(base, "off.ini")
    write_config(on, src, dst)
    write_config(off, src, dst, "DetectMoves=False\r\n")
    run([cli, "--config", on, "sync", "bench"])
    ratios = []
    for i in range(repeat):
        # Each goes first in turn: whatever the first run of a pair leaves warm, both get it as often.
        configs = [on, off] if i % 2 == 0 else [off, on]
        seconds = {config: run([cli, "--config", config, "check", "--moves", "bench"])[0] for config in configs}
        ratios.append(seconds[on] / seconds[off])
    print("check %d files, nothing moved: DetectMoves=True / False = %.3f (median of %d; target <= 1.05)"
          % (files, statistics.median(ratios), repeat))
    shutil.rmtree(base)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", default=os.path.join(ROOT, "build/bin/pairwell-cli"))
    parser.add_argument("--work", default=None, help="a folder on the disk to measure (default: a temporary one)")
    parser.add_argument("--files", type=int, default=10000)
    parser.add_argument("--mib", type=int, default=1024)
    parser.add_argument("--check-files", type=int, default=100000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--first-repeat", type=int, default=3, help="first syncs to take the median of")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="pairwell-moves-", dir=args.work or os.path.join(ROOT, "build"))
    try:
        print("cores: %d" % os.cpu_count())
        bench_rename(args.cli, work, args.files, args.mib, args.repeat, args.first_repeat)
        bench_check(args.cli, work, args.check_files, args.repeat)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
