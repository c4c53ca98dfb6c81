#!/usr/bin/env python3
"""Times pairwell-cli against rsync, cp and cmp on generated trees, in one run.

Prints one line per case with its ratio and target (the machine's core count first):
  sync N (1 worker), sync N (auto) = pairwell-cli sync / rsync -rt --delete    (target <= 0.6)
  check N                         = pairwell-cli check / rsync -rtn --delete   (target: no worse than 0.34)
  copy                            = pairwell throughput / cp throughput, one file   (target >= 0.95)
  CompareContent                  = pairwell check, CompareContent=True, unchanged tree / cmp -s over the pairs (<= 1.1)
  VerifyCopy                      = pairwell sync with VerifyCopy=True / without, 1 file (target <= 2.2)
  memory (with --memory-files N)  = peak RSS of pairwell-cli check and sync of an N-file plan (<= 160 / 256 MiB)

Sync ratios are the median of interleaved pairs, each from a fresh copy of the same tree
(10 % missing in the target, 10 % older, 5 % surplus). The default run takes a few minutes;
--full uses 100,000 files and 1 GiB.

Usage: bench/sync/run.py [--cli build/bin/pairwell-cli] [--work DIR] [--files N] [--big-mib N]
                         [--full] [--memory-files N] [--repeat N] [--only CASE,...] [--baseline]
(--baseline: a pairwell-cli from before --jobs; its sync runs once, as 1 worker)
"""

import argparse
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def ensure_tools():
    if shutil.which("rsync") and os.path.exists("/usr/bin/time"):
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(sudo + ["apt-get", "install", "-y", "-q", "rsync", "time"], check=True, env=env,
                   stdout=subprocess.DEVNULL)


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
    """Seconds a command takes after a sync; with durable, until its writes reach the disk."""
    subprocess.run(["sync"], check=True)
    start = time.perf_counter()
    subprocess.run(cmd, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if durable:
        subprocess.run(["sync"], check=True)
    return time.perf_counter() - start


def fresh_copy(pristine, work):
    shutil.rmtree(work, ignore_errors=True)
    subprocess.run(["cp", "-a", pristine, work], check=True)
    subprocess.run(["sync"], check=True)


def random_file(path, mib):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        chunk = os.urandom(1 << 20)
        for _ in range(mib):
            f.write(chunk)


def interleaved(repeat, first, second, before=lambda: None, durable=False):
    """Seconds of two commands, timed in turn `repeat` times; `before` runs ahead of each."""
    firsts, seconds = [], []
    for _ in range(repeat):
        for cmd, samples in ((first, firsts), (second, seconds)):
            before()
            samples.append(timed(cmd, durable))
    return firsts, seconds


def peak_rss_mib(cmd):
    """Peak resident memory of a command in MiB, from /usr/bin/time -v."""
    out = subprocess.run(["/usr/bin/time", "-v"] + cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                         text=True, check=False).stderr
    match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", out)
    return int(match.group(1)) / 1024 if match else float("nan")


class Bench:
    def __init__(self, args):
        self.args = args
        self.cli = os.path.abspath(args.cli)
        self.work = args.work
        self.lines = []

    def report(self, text):
        print(text, flush=True)
        self.lines.append(text)

    def sync_and_check(self, files):
        a = self.args
        base = os.path.join(self.work, "tree%d" % files)
        pristine = os.path.join(base, "pristine")
        print("generating %d files in %d folders ..." % (files, a.folders), flush=True)
        generate_pair(pristine, files, a.folders)
        work = os.path.join(base, "run")
        src, dst = os.path.join(work, "src"), os.path.join(work, "dst")
        config = os.path.join(base, "pairwell.ini")
        write_config(config, src, dst)
        ours = [self.cli, "--config", config]

        if "sync" in a.only:
            one, auto, rsync = [], [], []

            def commands(copy):
                """The three sync commands on one copy of the pair, each with its own configuration."""
                ini = copy + ".ini"
                write_config(ini, os.path.join(copy, "src"), os.path.join(copy, "dst"))
                cli = [self.cli, "--config", ini, "sync", "bench"]
                return [(cli + ([] if a.baseline else ["--jobs", "1"]), one),
                        (None if a.baseline else cli, auto),
                        (["rsync", "-rt", "--delete", copy + "/src/", copy + "/dst/"], rsync)]

            def sample(cmd, samples):
                samples.append(one[-1] if cmd is None else timed(cmd))

            if a.fresh:
                for _ in range(a.repeat):  # interleaved: every sample of each comes from the same moment
                    for cmd, samples in commands(work):
                        if cmd is not None:
                            fresh_copy(pristine, work)
                        sample(cmd, samples)
            else:
                # Every sample gets a copy of its own, all made first and then left for longer than
                # ext4 without a journal shields freed inodes (60 s): files created right after a
                # tree was deleted cost its allocator a scan past every freed inode, for any program.
                copies = []
                for r in range(a.repeat):
                    for k in range(3):
                        copy = os.path.join(base, "run%d_%d" % (r, k))
                        subprocess.run(["cp", "-a", pristine, copy], check=True)
                        copies.append(copy)
                subprocess.run(["sync"], check=True)
                time.sleep(65)
                for r in range(a.repeat):
                    for k in range(3):
                        cmd, samples = commands(copies[r * 3 + k])[k]
                        sample(cmd, samples)
            r1 = statistics.median(o / r for o, r in zip(one, rsync))
            ra = statistics.median(o / r for o, r in zip(auto, rsync))
            method = "a fresh copy before each" if a.fresh else "copies made 65 s before"
            self.report("sync %d, 1 worker: pairwell %.3f s, rsync -rt %.3f s, ratio %.2f (target <= 0.6; %s)"
                        % (files, statistics.median(one), statistics.median(rsync), r1, method))
            self.report("sync %d, auto:     pairwell %.3f s, rsync -rt %.3f s, ratio %.2f (target <= 0.6; %s)"
                        % (files, statistics.median(auto), statistics.median(rsync), ra, method))

        if "check" in a.only:
            fresh_copy(pristine, work)
            check_rsync = ["rsync", "-rtn", "--delete", src + "/", dst + "/"]
            timed(ours + ["check", "bench"])
            timed(check_rsync)
            c_ours, c_rsync = interleaved(a.repeat, ours + ["check", "bench"], check_rsync)
            ratio = statistics.median(o / r for o, r in zip(c_ours, c_rsync))
            self.report("check %d: pairwell %.3f s, rsync -rtn %.3f s, ratio %.2f (target <= 0.34)"
                        % (files, statistics.median(c_ours), statistics.median(c_rsync), ratio))
        shutil.rmtree(base, ignore_errors=True)

    def big_file(self):
        a = self.args
        mib = a.big_mib
        base = os.path.join(self.work, "big")
        src = os.path.join(base, "src")
        big_file = os.path.join(src, "big.bin")
        random_file(big_file, mib)
        dst = os.path.join(base, "dst")
        plain, verified = os.path.join(base, "plain.ini"), os.path.join(base, "verified.ini")
        write_config(plain, src, dst)
        write_config(verified, src, dst, "VerifyCopy=True\r\n")

        def fresh_target():
            shutil.rmtree(dst, ignore_errors=True)
            os.makedirs(dst)

        if "copy" in a.only:
            ours, cp = interleaved(a.repeat, [self.cli, "--config", plain, "sync", "bench"],
                                   ["cp", big_file, os.path.join(dst, "big.bin")], fresh_target, durable=True)
            ratio = statistics.median(c / o for o, c in zip(ours, cp))
            self.report("copy %d MiB: pairwell %.0f MiB/s, cp %.0f MiB/s, throughput ratio %.2f (target >= 0.95)"
                        % (mib, mib / statistics.median(ours), mib / statistics.median(cp), ratio))
        if "verify" in a.only:
            plain_t, verify_t = interleaved(a.repeat, [self.cli, "--config", plain, "sync", "bench"],
                                            [self.cli, "--config", verified, "sync", "bench"], fresh_target,
                                            durable=True)
            ratio = statistics.median(v / p for p, v in zip(plain_t, verify_t))
            self.report("VerifyCopy %d MiB: %.3f s, without %.3f s, ratio %.2f (target <= 2.2)"
                        % (mib, statistics.median(verify_t), statistics.median(plain_t), ratio))
        shutil.rmtree(base, ignore_errors=True)

    def compare_content(self):
        """An unchanged tree of 16 equal pairs, big-mib in all, compared by bytes."""
        a = self.args
        base = os.path.join(self.work, "compare")
        src, dst = os.path.join(base, "src"), os.path.join(base, "dst")
        count = 16
        for i in range(count):
            random_file(os.path.join(src, "f%02d.bin" % i), max(1, a.big_mib // count))
        subprocess.run(["cp", "-a", src, dst], check=True)
        config = os.path.join(base, "compare.ini")
        write_config(config, src, dst, "CompareContent=True\r\nEditTime=3\r\n")
        pairs = [(os.path.join(src, n), os.path.join(dst, n)) for n in sorted(os.listdir(src))]

        def cmp_all():
            for s, d in pairs:
                subprocess.run(["cmp", "-s", s, d], check=False)

        def run_cmp():
            subprocess.run(["sync"], check=True)
            start = time.perf_counter()
            cmp_all()
            return time.perf_counter() - start

        ours_cmd = [self.cli, "--config", config, "check", "bench"]
        timed(ours_cmd)  # warm: both read from the page cache
        run_cmp()
        ours, cmp = [], []
        for _ in range(a.repeat):
            ours.append(timed(ours_cmd))
            cmp.append(run_cmp())
        ratio = statistics.median(o / c for o, c in zip(ours, cmp))
        self.report("CompareContent %d MiB unchanged: pairwell check %.3f s, cmp -s %.3f s, ratio %.2f "
                    "(target <= 1.1)" % (a.big_mib, statistics.median(ours), statistics.median(cmp), ratio))
        shutil.rmtree(base, ignore_errors=True)

    def memory(self, files):
        """Peak RSS of a check and a sync whose plan has `files` new files (empty, 1,000 a folder)."""
        base = self.args.memory_work
        src, dst = os.path.join(base, "src"), os.path.join(base, "dst")
        print("generating %d empty files ..." % files, flush=True)
        per = 1000
        for f in range((files + per - 1) // per):
            folder = os.path.join(src, "d%03d" % (f % 100), "e%05d" % f)
            os.makedirs(folder, exist_ok=True)
            for i in range(min(per, files - f * per)):
                open(os.path.join(folder, "file%04d.dat" % i), "wb").close()
        config = os.path.join(base, "memory.ini")
        write_config(config, src, dst)
        check = peak_rss_mib([self.cli, "--config", config, "check", "bench"])
        shutil.rmtree(dst, ignore_errors=True)
        sync = peak_rss_mib([self.cli, "--config", config, "sync", "bench"])
        self.report("memory, %d-file plan: check %.0f MiB (target <= 160), sync %.0f MiB (target <= 256)"
                    % (files, check, sync))
        shutil.rmtree(base, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "bin", "pairwell-cli"))
    parser.add_argument("--work", default="/var/tmp/pairwell-bench")
    parser.add_argument("--files", type=int, default=None, help="files of the sync and check tree")
    parser.add_argument("--folders", type=int, default=1_000)
    parser.add_argument("--big-mib", type=int, default=None, help="size of the single-file and content cases")
    parser.add_argument("--full", action="store_true", help="30,000 and 100,000 files, 1 GiB")
    parser.add_argument("--memory-files", type=int, default=0, help="also measure the peak RSS of an N-file plan")
    parser.add_argument("--memory-work", default="/dev/shm/pairwell-bench-memory" if os.path.isdir("/dev/shm")
                        else "/var/tmp/pairwell-bench-memory",
                        help="where the memory case's tree goes (in memory by default: a million files on a "
                             "disk take long to make; the page cache does not count in a process's RSS)")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--fresh", action="store_true",
                        help="sync samples on a copy made just before each, after deleting the last one")
    parser.add_argument("--baseline", action="store_true", help="the binary has no --jobs")
    parser.add_argument("--only", default="sync,check,copy,verify,compare",
                        help="comma-separated cases: sync, check, copy, verify, compare")
    args = parser.parse_args()
    args.only = set(args.only.split(","))
    sizes = [args.files] if args.files else ([30_000, 100_000] if args.full else [30_000])
    if args.big_mib is None:
        args.big_mib = 1024 if args.full else 256
    ensure_tools()
    if not os.access(args.cli, os.X_OK):
        sys.exit("build pairwell-cli first (cmake --build build), or pass --cli")

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    bench = Bench(args)
    cores = os.cpu_count()
    print("cores: %d; load average %.1f at the start (other work on the machine slows every case)"
          % (cores, os.getloadavg()[0]), flush=True)
    for files in sizes:
        if args.only & {"sync", "check"}:
            bench.sync_and_check(files)
    if args.only & {"copy", "verify"}:
        bench.big_file()
    if "compare" in args.only:
        bench.compare_content()
    if args.memory_files:
        bench.memory(args.memory_files)
    print("\nsummary (%d cores, load average %.1f at the end):" % (cores, os.getloadavg()[0]))
    for line in bench.lines:
        print("  " + line)
    shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    main()
