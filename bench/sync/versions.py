#!/usr/bin/env python3
"""Times what keeping versions costs a sync, in one run: each round, on fresh
copies of the same generated tree (10 % missing in the target, 10 % older,
5 % surplus: 15 % of the files are kept as versions), pairwell-cli sync
without versions (and, with --baseline-cli, the same sync by another build),
pairwell-cli sync with Versioning=True, and rsync -rt --delete --backup-dir.

Prints the cost of versions off against the baseline build (target: no worse),
of versions on against off, and of versions on against rsync --backup-dir.

Usage: bench/sync/versions.py [--cli build/bin/pairwell-cli] [--baseline-cli OTHER-BUILD]
                              [--work DIR] [--files N] [--folders N] [--repeat N]
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def generate_pair(base, files, folders):
    """Source tree of `files` small files; the target lacks 10 %, has 10 % older and 5 % surplus."""
    src, dst = os.path.join(base, "src"), os.path.join(base, "dst")
    rng = random.Random(42)
    stamp = 1_600_000_000
    for i in range(files):
        folder = "d%04d/e%02d" % (i % folders, (i // folders) % 4)
        name = "file%06d.dat" % i
        data = b"x" * rng.randint(10, 2000)
        s = os.path.join(src, folder, name)
        os.makedirs(os.path.dirname(s), exist_ok=True)
        with open(s, "wb") as f:
            f.write(data)
        os.utime(s, (stamp, stamp))
        kind = i % 20
        if kind < 2:  # 10 % missing in the target
            continue
        d = os.path.join(dst, folder, name)
        os.makedirs(os.path.dirname(d), exist_ok=True)
        with open(d, "wb") as f:
            f.write(data)
        older = stamp - 3600 if kind < 4 else stamp  # 10 % older
        os.utime(d, (older, older))
    for i in range(files // 20):  # 5 % surplus
        d = os.path.join(dst, "d%04d/surplus%06d.dat" % (i % folders, i))
        os.makedirs(os.path.dirname(d), exist_ok=True)
        with open(d, "wb") as f:
            f.write(b"surplus")
    return src, dst


def write_config(path, src, dst, extra=""):
    with open(path, "wb") as f:
        f.write(("[project_bench]\r\nsource=%s\r\ntarget=%s\r\nFileDelete=True\r\n%s" % (src, dst, extra)).encode())


def timed(cmd, durable=False):
    """Seconds a command takes from a clean page cache state; with durable, until its writes reach the disk."""
    subprocess.run(["sync"], check=True)
    start = time.perf_counter()
    subprocess.run(cmd, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if durable:
        subprocess.run(["sync"], check=True)
    return time.perf_counter() - start


def best(samples):
    return min(samples)


def fresh_copy(pristine, work):
    shutil.rmtree(work, ignore_errors=True)
    subprocess.run(["cp", "-a", pristine, work], check=True)
    subprocess.run(["sync"], check=True)


def ensure_rsync():
    if shutil.which("rsync"):
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(sudo + ["apt-get", "install", "-y", "-q", "rsync"], check=True, env=env,
                   stdout=subprocess.DEVNULL)


def versions_only(args, cli, pristine, work, src, dst, config):
    """Each round times, on fresh copies, the sync without versions (and by the
    baseline build), the sync keeping versions, and rsync --backup-dir."""
    kept_ours, kept_rsync = os.path.join(args.work, "versions"), os.path.join(args.work, "rsync-versions")
    versioned_config = os.path.join(args.work, "versioned.ini")
    write_config(versioned_config, src, dst, "Versioning=True\r\nVersionFolder=%s\r\n" % kept_ours)
    off, baseline, on, rsync = [], [], [], []
    for _ in range(args.repeat):
        fresh_copy(pristine, work)
        off.append(timed([cli, "--config", config, "sync", "bench"]))
        if args.baseline_cli:
            fresh_copy(pristine, work)
            baseline.append(timed([os.path.abspath(args.baseline_cli), "--config", config, "sync", "bench"]))
        fresh_copy(pristine, work)
        shutil.rmtree(kept_ours, ignore_errors=True)
        on.append(timed([cli, "--config", versioned_config, "sync", "bench"]))
        fresh_copy(pristine, work)
        shutil.rmtree(kept_rsync, ignore_errors=True)
        rsync.append(timed(["rsync", "-rt", "--delete", "--backup", "--backup-dir=" + kept_rsync,
                            src + "/", dst + "/"]))
    if baseline:
        print("versions off: pairwell %.3f s, baseline build %.3f s, ratio %.2f (medians %.3f / %.3f s)"
              % (best(off), best(baseline), best(off) / best(baseline), median(off), median(baseline)))
    print("versions on:  pairwell %.3f s, %.2f x without versions (medians %.3f / %.3f s)"
          % (best(on), best(on) / best(off), median(on), median(off)))
    print("versions:     pairwell %.3f s, rsync -rt --delete --backup-dir %.3f s, ratio %.2f"
          % (best(on), best(rsync), best(on) / best(rsync)))


def median(samples):
    ordered = sorted(samples)
    return ordered[len(ordered) // 2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "bin", "pairwell-cli"))
    parser.add_argument("--baseline-cli")
    parser.add_argument("--work", default="/var/tmp/pairwell-bench-versions")
    parser.add_argument("--files", type=int, default=5_000)
    parser.add_argument("--folders", type=int, default=50)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    ensure_rsync()
    cli = os.path.abspath(args.cli)
    if not os.access(cli, os.X_OK):
        sys.exit("build pairwell-cli first (cmake --build build), or pass --cli")
    shutil.rmtree(args.work, ignore_errors=True)
    pristine = os.path.join(args.work, "pristine")
    print("generating %d files in %d folders under %s ..." % (args.files, args.folders, args.work), flush=True)
    generate_pair(pristine, args.files, args.folders)
    work = os.path.join(args.work, "run")
    src, dst = os.path.join(work, "src"), os.path.join(work, "dst")
    config = os.path.join(args.work, "pairwell.ini")
    write_config(config, src, dst)
    versions_only(args, cli, pristine, work, src, dst, config)
    shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    main()
