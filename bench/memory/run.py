#!/usr/bin/env python3
"""Peak memory of pairwell-cli against rsync on a generated tree of many files, in one run.

Generates a nested tree of N empty files (1,000,000 by default), then measures
with /usr/bin/time -v the peak resident set size of
  check     = pairwell-cli check  (a first sync's plan: every file is new)      target <= 160 MiB
  sync      = pairwell-cli sync   into an empty target                         target <= 256 MiB
  unchanged = pairwell-cli check  of the tree against itself, deletion on:
              both indexes and the delete pass, an empty plan                  target <= 160 MiB
and of rsync -rtn --delete and rsync -rt --delete on the same trees, the named peer.

Usage: bench/memory/run.py [--cli build/bin/pairwell-cli] [--work DIR] [--files N] [--keep]
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def ensure_tools():
    missing = [p for p, tool in (("rsync", "rsync"), ("time", "/usr/bin/time")) if not shutil.which(tool)]
    if missing:
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(sudo + ["apt-get", "install", "-y", "-q"] + missing, check=True, env=env,
                       stdout=subprocess.DEVNULL)


def generate_tree(src, files):
    """files empty files, 100 to a folder, ten folders to a parent: src/dNNN/eN/fNNNNNNN.dat."""
    done_mark = os.path.join(os.path.dirname(src), "tree-%d.done" % files)
    if os.path.exists(done_mark):
        return
    shutil.rmtree(src, ignore_errors=True)
    for first in range(0, files, 100):
        folder = os.path.join(src, "d%04d" % (first // 1000), "e%d" % ((first // 100) % 10))
        os.makedirs(folder, exist_ok=True)
        for i in range(first, min(first + 100, files)):
            os.close(os.open(os.path.join(folder, "f%07d.dat" % i), os.O_WRONLY | os.O_CREAT, 0o644))
    open(done_mark, "w").close()


def write_config(path, src, dst):
    with open(path, "wb") as f:
        f.write(("[project_bench]\r\nsource=%s\r\ntarget=%s\r\nFileDelete=True\r\n" % (src, dst)).encode())


def measured(cmd):
    """(peak RSS in MiB, seconds, exit status) of one command under /usr/bin/time -v."""
    start = time.perf_counter()
    run = subprocess.run(["/usr/bin/time", "-v"] + cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seconds = time.perf_counter() - start
    text = run.stderr.decode(errors="replace")
    match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", text)
    if not match:
        sys.exit("no peak RSS from /usr/bin/time for %s:\n%s" % (cmd[0], text[-2000:]))
    return int(match.group(1)) / 1024.0, seconds, run.returncode


def empty_folder(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "bin", "pairwell-cli"))
    parser.add_argument("--work", default="/var/tmp/pairwell-memory")
    parser.add_argument("--files", type=int, default=1_000_000)
    parser.add_argument("--keep", action="store_true", help="keep the generated source tree for the next run")
    args = parser.parse_args()
    ensure_tools()
    cli = os.path.abspath(args.cli)
    if not os.access(cli, os.X_OK):
        sys.exit("build pairwell-cli first (cmake --build build), or pass --cli")

    os.makedirs(args.work, exist_ok=True)
    src, dst = os.path.join(args.work, "src"), os.path.join(args.work, "dst")
    print("generating %d empty files under %s ..." % (args.files, src), flush=True)
    generate_tree(src, args.files)
    config = os.path.join(args.work, "pairwell.ini")
    write_config(config, src, dst)
    same = os.path.join(args.work, "same.ini")
    write_config(same, src, src)
    log = os.path.join(args.work, "log")

    rows = []
    empty_folder(dst)
    rows.append(("check", measured([cli, "--config", config, "check", "bench"]),
                 measured(["rsync", "-rtn", "--delete", src + "/", dst + "/"]), 160))
    shutil.rmtree(log, ignore_errors=True)
    empty_folder(dst)
    ours = measured([cli, "--config", config, "sync", "bench"])
    empty_folder(dst)
    peer = measured(["rsync", "-rt", "--delete", src + "/", dst + "/"])
    rows.append(("sync", ours, peer, 256))
    rows.append(("unchanged", measured([cli, "--config", same, "check", "bench"]),
                 measured(["rsync", "-rtn", "--delete", src + "/", src + "/"]), 160))
    shutil.rmtree(dst, ignore_errors=True)
    shutil.rmtree(log, ignore_errors=True)
    if not args.keep:
        shutil.rmtree(src, ignore_errors=True)
        os.remove(os.path.join(args.work, "tree-%d.done" % args.files))

    print("%d files, %d cores" % (args.files, os.cpu_count()))
    for name, (rss, seconds, status), (peer_rss, peer_seconds, _), target in rows:
        print("%-9s peak RSS: pairwell %6.1f MiB (%.1f s, exit %d), rsync %6.1f MiB (%.1f s), ratio %.2f"
              " (target <= %d MiB)" % (name, rss, seconds, status, peer_rss, peer_seconds, rss / peer_rss, target))


if __name__ == "__main__":
    main()
