#!/usr/bin/env python3
"""Times pairwell-cli on an sftp:// target against rsync, rclone and sftp over ssh, in one run.

Starts an sshd of its own on 127.0.0.1 and a free port (a host key and an authorized key made
for the run, an ssh configuration and known_hosts of its own), generates the 30,000-file source
tree of bench/sync and prints one line per case with its ratio and target:
  sync N   = pairwell-cli sync to sftp:// / rsync -rt --delete -e "ssh -F cfg"    (target <= 1.0)
             rclone sync --sftp-disable-hashcheck / pairwell-cli sync            (target >= 5)
  check N  = pairwell-cli check, unchanged tree / rsync -rtn --delete -e ssh     (target <= 1.5)
  copy     = pairwell throughput / sftp -b "put" throughput, one file            (target >= 0.9)
  memory   = peak RSS of the N-file pairwell-cli sync (from wait4)
  cpu      = the sync's CPU on this side (the command and its ssh) and on the server's side (the bench's
             sshd and the sessions it reaped: sshd, sftp-server, rsync's far end), from /proc

Every sample of a first sync writes into an empty folder of its own on the server. The rounds are
interleaved (rsync, pairwell, rclone, rsync, pairwell, ...) and each ratio is the median of the
rounds' ratios. Times are until the command returns; "on disk" adds a sync(1) after it, which
matters because pairwell-cli flushes every file it writes on the server (fsync@openssh.com) and
the peers flush none. The load average is printed at the start and the end: other work on the
machine slows every case.

Usage: bench/remote/run.py [--cli build/bin/pairwell-cli] [--work DIR] [--files N] [--big-mib N]
                           [--repeat N] [--only sync,check,copy] [--no-rclone] [--jobs N]
"""

import argparse
import os
import random
import shutil
import socket
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
HOST = "pairwell-bench"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def accepts(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


class Sshd:
    """A real sshd of the run's own, and the ssh configuration that reaches it."""

    def __init__(self, folder):
        self.dir = folder
        os.makedirs(folder)
        os.makedirs("/run/sshd", exist_ok=True)  # privilege separation wants it when run as root
        for key in ("host_key", "user_key"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", self.path(key)], check=True)
        self.port = free_port()
        self.user = os.environ.get("USER") or ("root" if os.geteuid() == 0 else str(os.geteuid()))
        shutil.copy(self.path("user_key.pub"), self.path("authorized_keys"))
        self.write("sshd_config",
                   "ListenAddress 127.0.0.1\nPort %d\nHostKey %s\nAuthorizedKeysFile %s\nUsePAM no\n"
                   "StrictModes no\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                   "PermitRootLogin prohibit-password\nPidFile none\nLogLevel ERROR\nMaxStartups 100\n"
                   "MaxSessions 100\nSubsystem sftp /usr/lib/openssh/sftp-server\n"
                   % (self.port, self.path("host_key"), self.path("authorized_keys")))
        with open(self.path("host_key.pub")) as f:
            self.write("known_hosts", "[127.0.0.1]:%d %s" % (self.port, f.read()))
        self.write("ssh_config",
                   "Host %s\n  HostName 127.0.0.1\n  Port %d\n  User %s\n  IdentityFile %s\n"
                   "  IdentitiesOnly yes\n  UserKnownHostsFile %s\n  GlobalKnownHostsFile /dev/null\n"
                   "  StrictHostKeyChecking yes\n  LogLevel ERROR\n"
                   % (HOST, self.port, self.user, self.path("user_key"), self.path("known_hosts")))
        self.log = open(self.path("sshd.log"), "wb")
        self.proc = subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f", self.path("sshd_config")],
                                     stdout=self.log, stderr=self.log)
        for _ in range(200):
            if accepts(self.port):
                break
            time.sleep(0.025)
        else:
            self.stop()
            sys.exit("sshd did not start: see %s" % self.path("sshd.log"))
        self.ssh = "ssh -F " + self.path("ssh_config")

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text)

    def rclone_env(self, work):
        """An SFTP remote named "bench" for rclone, from environment variables alone."""
        env = dict(os.environ, RCLONE_CONFIG=os.path.join(work, "rclone.conf"))
        for key, value in (("TYPE", "sftp"), ("HOST", "127.0.0.1"), ("PORT", str(self.port)), ("USER", self.user),
                           ("KEY_FILE", self.path("user_key")), ("KNOWN_HOSTS_FILE", self.path("known_hosts"))):
            env["RCLONE_CONFIG_BENCH_" + key] = value
        return env

    def cpu(self):
        """CPU seconds of this sshd and of every session it has reaped (sshd, sftp-server, rsync's far end)."""
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return sum(int(value) for value in fields[11:15]) / os.sysconf("SC_CLK_TCK")  # utime .. cstime

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait()
        self.log.close()


def generate_source(src, files, folders):
    """The source half of bench/sync's tree: the same names, sizes (10 to 2,000 bytes) and times."""
    rng = random.Random(42)
    stamp = 1_600_000_000
    for i in range(files):
        path = os.path.join(src, "d%04d/e%02d" % (i % folders, (i // folders) % 4), "file%06d.dat" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(b"x" * rng.randint(10, 2000))
        os.utime(path, (stamp, stamp))


def random_file(path, mib):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        chunk = os.urandom(1 << 20)
        for _ in range(mib):
            f.write(chunk)


def write_config(path, src, dst, ssh):
    with open(path, "wb") as f:
        f.write(("[project_bench]\r\nsource=%s\r\ntarget=%s\r\nFileDelete=True\r\nSshCommand=%s\r\n"
                 % (src, dst, ssh)).encode())


class Sample:
    def __init__(self, seconds, on_disk, rss_mib, cpu_here=0.0, cpu_server=0.0):
        self.seconds, self.on_disk, self.rss_mib = seconds, on_disk, rss_mib
        self.cpu_here, self.cpu_server = cpu_here, cpu_server


def timed(cmd, env=None, stdin=None, server=None):
    """Seconds until the command returns and until its writes are on disk, its peak RSS (wait4), the CPU
    it and its children (ssh) used, and with server the CPU of the server's side (sshd, sftp-server)."""
    subprocess.run(["sync"], check=True)
    server_before = server.cpu() if server else 0.0
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, env=env, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = proc.stderr.read()
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    proc.stderr.close()
    proc.returncode = os.waitstatus_to_exitcode(status)
    subprocess.run(["sync"], check=True)
    on_disk = time.perf_counter() - start
    if proc.returncode not in (0, 1) or (proc.returncode == 1 and "pairwell" not in cmd[0]):
        sys.exit("failed (%d): %s\n%s" % (proc.returncode, " ".join(cmd), err.decode(errors="replace")[-3000:]))
    cpu_server = 0.0
    if server:
        time.sleep(0.5)  # the sessions' processes end and are reaped just after the client
        cpu_server = server.cpu() - server_before
    return Sample(seconds, on_disk, usage.ru_maxrss / 1024, usage.ru_utime + usage.ru_stime, cpu_server)


def median(samples, field="seconds"):
    return statistics.median(getattr(s, field) for s in samples)


def ratio(top, bottom, field="seconds"):
    """The median of the rounds' ratios."""
    return statistics.median(getattr(t, field) / getattr(b, field) for t, b in zip(top, bottom))


def count_files(folder):
    return sum(len(files) for _, _, files in os.walk(folder))


class Bench:
    def __init__(self, args, sshd):
        self.args = args
        self.sshd = sshd
        self.cli = os.path.abspath(args.cli)
        self.work = args.work
        self.lines = []

    def report(self, text):
        print(text, flush=True)
        self.lines.append(text)

    def pairwell(self, config, command):
        cmd = [self.cli, "--config", config, command, "bench"]
        if command == "sync" and self.args.jobs:
            cmd += ["--jobs", str(self.args.jobs)]
        return cmd

    def small_files(self):
        a, ssh = self.args, self.sshd.ssh
        src = os.path.join(self.work, "src")
        dst = os.path.join(self.work, "dst")  # the server's folder: this machine's, through sshd
        print("generating %d files in %d folders ..." % (a.files, a.folders), flush=True)
        generate_source(src, a.files, a.folders)
        config = os.path.join(self.work, "pairwell.ini")
        write_config(config, src, "sftp://%s%s" % (HOST, dst), ssh)
        rclone_env = self.sshd.rclone_env(self.work)

        def empty_target():
            shutil.rmtree(dst, ignore_errors=True)
            os.makedirs(dst)

        if "sync" in a.only:
            samples = {"rsync": [], "pairwell": [], "rclone": []}
            for r in range(a.repeat):
                for name in ("rsync", "pairwell", "rclone") if a.rclone else ("rsync", "pairwell"):
                    # Each sample writes into a folder of its own, all removed at the end: files
                    # created right after a tree was deleted cost ext4's allocator a scan past
                    # every freed inode (see bench/sync), for any program.
                    target = os.path.join(self.work, "dst_%d_%s" % (r, name))
                    os.makedirs(target)
                    ini = os.path.join(self.work, "sync_%d.ini" % r)
                    write_config(ini, src, "sftp://%s%s" % (HOST, target), ssh)
                    cmd, env = {"rsync": (["rsync", "-rt", "--delete", "-e", ssh, src + "/",
                                           "%s:%s/" % (HOST, target)], None),
                                "pairwell": (self.pairwell(ini, "sync"), None),
                                "rclone": (["rclone", "sync", "--sftp-disable-hashcheck", src, "bench:" + target],
                                           rclone_env)}[name]
                    samples[name].append(timed(cmd, env, server=self.sshd))
                    if count_files(target) != a.files:
                        sys.exit("%s left %d files in the target, not %d" % (name, count_files(target), a.files))
                    print("  round %d %-8s %7.2f s (on disk %.2f s)"
                          % (r + 1, name, samples[name][-1].seconds, samples[name][-1].on_disk), flush=True)
            ours, theirs = samples["pairwell"], samples["rsync"]
            self.report("sync %d: pairwell %.2f s (on disk %.2f s), rsync -rt -e ssh %.2f s (on disk %.2f s), "
                        "ratio %.2f (target <= 1.0; on disk %.2f)"
                        % (a.files, median(ours), median(ours, "on_disk"), median(theirs),
                           median(theirs, "on_disk"), ratio(ours, theirs), ratio(ours, theirs, "on_disk")))
            if a.rclone:
                slow = samples["rclone"]
                self.report("sync %d: rclone sync --sftp-disable-hashcheck %.2f s / pairwell %.2f s = %.1f x "
                            "(target >= 5)" % (a.files, median(slow), median(ours), ratio(slow, ours)))
            self.report("memory, sync %d: pairwell peak RSS %.0f MiB (median; rsync %.0f MiB on this side)"
                        % (a.files, median(ours, "rss_mib"), median(theirs, "rss_mib")))
            # What the server's side costs: SFTP's requests each pass ssh, sshd and sftp-server, whatever
            # the client does; on one machine the two sides share its cores.
            self.report("cpu, sync %d: pairwell %.2f s here (with ssh) + %.2f s server side (sshd, sftp-server); "
                        "rsync %.2f s + %.2f s (median)"
                        % (a.files, median(ours, "cpu_here"), median(ours, "cpu_server"),
                           median(theirs, "cpu_here"), median(theirs, "cpu_server")))

        if "check" in a.only:
            empty_target()
            timed(self.pairwell(config, "sync"))  # the target now equals the source
            check_rsync = ["rsync", "-rtn", "--delete", "-e", ssh, src + "/", "%s:%s/" % (HOST, dst)]
            ours, theirs = [], []
            for _ in range(a.repeat):
                theirs.append(timed(check_rsync))
                ours.append(timed(self.pairwell(config, "check")))
            self.report("check %d unchanged: pairwell %.2f s, rsync -rtn -e ssh %.2f s, ratio %.2f (target <= 1.5)"
                        % (a.files, median(ours), median(theirs), ratio(ours, theirs)))
        shutil.rmtree(src, ignore_errors=True)
        shutil.rmtree(dst, ignore_errors=True)

    def big_file(self):
        a = self.args
        mib = a.big_mib
        src = os.path.join(self.work, "big")
        dst = os.path.join(self.work, "bigdst")
        local = os.path.join(src, "big.bin")
        random_file(local, mib)
        config = os.path.join(self.work, "big.ini")
        write_config(config, src, "sftp://%s%s" % (HOST, dst), self.sshd.ssh)
        batch = os.path.join(self.work, "put.batch")
        with open(batch, "w") as f:
            f.write('put "%s" "%s/big.bin"\n' % (local, dst))
        sftp = ["sftp", "-q", "-F", self.sshd.path("ssh_config"), "-b", batch, HOST]
        ours, theirs = [], []
        for _ in range(a.repeat):
            for cmd, samples in ((sftp, theirs), (self.pairwell(config, "sync"), ours)):
                shutil.rmtree(dst, ignore_errors=True)
                os.makedirs(dst)
                samples.append(timed(cmd))
                if os.path.getsize(os.path.join(dst, "big.bin")) != mib << 20:
                    sys.exit("%s did not copy the whole file" % cmd[0])
        self.report("copy %d MiB: pairwell %.0f MiB/s (%.0f on disk), sftp put %.0f MiB/s (%.0f on disk), "
                    "throughput ratio %.2f (target >= 0.9; on disk %.2f)"
                    % (mib, mib / median(ours), mib / median(ours, "on_disk"), mib / median(theirs),
                       mib / median(theirs, "on_disk"), ratio(theirs, ours), ratio(theirs, ours, "on_disk")))
        shutil.rmtree(src, ignore_errors=True)
        shutil.rmtree(dst, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "bin", "pairwell-cli"))
    parser.add_argument("--work", default="/var/tmp/pairwell-bench-remote")
    parser.add_argument("--files", type=int, default=30_000)
    parser.add_argument("--folders", type=int, default=1_000)
    parser.add_argument("--big-mib", type=int, default=1024)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--jobs", type=int, default=0, help="pairwell-cli sync --jobs N (default: its own)")
    parser.add_argument("--no-rclone", dest="rclone", action="store_false", help="leave rclone out (it is slow)")
    parser.add_argument("--only", default="sync,check,copy", help="comma-separated cases: sync, check, copy")
    args = parser.parse_args()
    args.only = set(args.only.split(","))
    needed = ["rsync", "sftp", "ssh-keygen", "/usr/sbin/sshd"] + (["rclone"] if args.rclone else [])
    missing = [tool for tool in needed if not shutil.which(tool)]
    if missing:
        sys.exit("missing: %s (scripts/install-deps.sh installs them)" % ", ".join(missing))
    if not os.access(args.cli, os.X_OK):
        sys.exit("build pairwell-cli first (cmake --build build), or pass --cli")

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    sshd = Sshd(os.path.join(args.work, "ssh"))
    cores = os.cpu_count()
    print("cores: %d; load average %.1f at the start (other work on the machine slows every case)"
          % (cores, os.getloadavg()[0]), flush=True)
    try:
        bench = Bench(args, sshd)
        if args.only & {"sync", "check"}:
            bench.small_files()
        if "copy" in args.only:
            bench.big_file()
    finally:
        sshd.stop()
    print("\nsummary (%d cores, load average %.1f at the end, medians of %d interleaved rounds):"
          % (cores, os.getloadavg()[0], args.repeat))
    for line in bench.lines:
        print("  " + line)
    shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    main()
