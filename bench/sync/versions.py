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
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import fresh_copy, generate_pair, timed, write_config  # noqa: E402  the same tree, config and timing as the sync benchmark


def best(samples):
    return min(samples)


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
