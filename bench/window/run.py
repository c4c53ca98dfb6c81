#!/usr/bin/env python3
"""Times the window's interactive check against pairwell-cli on the same tree.

Makes a tree of 100,000 small files (the target lacks 10 %, has 10 % older and
5 % surplus; the project deletes surplus files), then, with a warm cache and
best of N, times:
  cli     pairwell-cli --config X check bench           (the whole process)
  window  bench-window: the action " 检查 " to the results page and its notice
and prints one table with both times, the ratio window/cli (target <= 1.2) and
the time to fill the three memos with the plan (target < 1 s).

Usage: bench/window/run.py [--bin build/bin] [--work bench/work/window] [--files N]
                           [--repeat N] [--fresh] [--keep]
"""

import argparse
import importlib.util
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def load_tree_maker():
    """The tree generator of the sync benchmark, so both measure the same kind of tree."""
    spec = importlib.util.spec_from_file_location("bench_sync", os.path.join(ROOT, "bench", "sync", "run.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module.generate_pair


def write_config(path, src, dst):
    with open(path, "wb") as f:
        f.write(("[project_bench]\r\nsource=%s\r\ntarget=%s\r\nFileDelete=True\r\n" % (src, dst)).encode())


def make_tree(work, files, folders, fresh):
    """The tree under work/tree, reused while it was made with the same sizes."""
    tree = os.path.join(work, "tree")
    marker = os.path.join(work, "tree.made")
    wanted = "%d %d\n" % (files, folders)
    if not fresh and os.path.exists(marker):
        with open(marker) as f:
            if f.read() == wanted:
                print("reusing the tree under %s" % tree, flush=True)
                return tree
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    print("generating %d files in %d folders under %s ..." % (files, folders, tree), flush=True)
    load_tree_maker()(tree, files, folders)
    with open(marker, "w") as f:
        f.write(wanted)
    return tree


def plan_counts(lines):
    counts = {"new": 0, "update": 0, "delete": 0}
    for line in lines:
        kind = line.split("\t", 1)[0]
        if kind in counts:
            counts[kind] += 1
    return counts


def time_cli(cli, config):
    start = time.perf_counter()
    subprocess.run([cli, "--config", config, "check", "bench"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def run_window(harness, config, src, dst, repeat, engine):
    """One harness process; returns its "key value" lines as a dict of lists."""
    command = [harness, "--config", config, "--project", "bench", "--source", src, "--target", dst,
               "--repeat", str(repeat)]
    if engine:
        command.append("--engine")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    done = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        sys.exit("bench-window failed (%d):\n%s%s" % (done.returncode, done.stdout, done.stderr))
    values = {}
    for line in done.stdout.splitlines():
        key, _, value = line.partition(" ")
        values.setdefault(key, []).append(value)
    return values


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", default=os.path.join(ROOT, "build", "bin"))
    parser.add_argument("--work", default=os.path.join(ROOT, "bench", "work", "window"))
    parser.add_argument("--files", type=int, default=100_000)
    parser.add_argument("--folders", type=int, default=1_000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--fresh", action="store_true", help="make the tree again even when one is there")
    parser.add_argument("--keep", action="store_true", help="keep the tree for the next run")
    parser.add_argument("--engine", action="store_true",
                        help="also time the engine's check alone inside the harness")
    args = parser.parse_args()
    cli = os.path.join(os.path.abspath(args.bin), "pairwell-cli")
    harness = os.path.join(os.path.abspath(args.bin), "bench-window")
    for program in (cli, harness):
        if not os.access(program, os.X_OK):
            sys.exit("build %s first (cmake --build build --target pairwell-cli bench-window), or pass --bin"
                     % os.path.basename(program))

    work = os.path.abspath(args.work)
    tree = make_tree(work, args.files, args.folders, args.fresh)
    src, dst = os.path.join(tree, "src"), os.path.join(tree, "dst")
    config = os.path.join(work, "pairwell.ini")
    write_config(config, src, dst)

    # Both read the same plan; the check changes nothing, so one tree serves every sample.
    expected = plan_counts(subprocess.run([cli, "--config", config, "check", "bench"], check=True,
                                          stdout=subprocess.PIPE, text=True).stdout.splitlines())
    time_cli(cli, config)  # warm the cache
    cli_times = [time_cli(cli, config) for _ in range(args.repeat)]

    window_times, fill_times, paint_times, engine_times = [], [], [], []
    for run in range(args.repeat):
        values = run_window(harness, config, src, dst, 1, args.engine and run == 0)
        got = dict(zip(("new", "update", "delete"),
                       (int(part.split("=")[1]) for part in values["plan"][0].split())))
        if got != expected:
            sys.exit("the window's plan %s differs from the cli's %s" % (got, expected))
        if values["results_page"][0] != "1":
            sys.exit("the notice came before the results page showed")
        window_times += [float(v) for v in values["check_s"]]
        fill_times += [float(v) for v in values["memo_fill_s"]]
        paint_times += [float(v) for v in values["memo_paint_s"]]
        engine_times += [float(v) for v in values.get("engine_check_s", [])]

    cli_best, window_best, fill_best = min(cli_times), min(window_times), min(fill_times)
    ratio = window_best / cli_best
    print()
    print("tree: %d files, plan new %d, update %d, delete %d; warm cache, best of %d"
          % (args.files, expected["new"], expected["update"], expected["delete"], args.repeat))
    print("%-34s %9s  %s" % ("measure", "seconds", "target"))
    print("%-34s %9.3f" % ("pairwell-cli check (process)", cli_best))
    print("%-34s %9.3f" % ("window check (action to notice)", window_best))
    print("%-34s %9.2f  <= 1.2 %s" % ("ratio window / cli", ratio, "ok" if ratio <= 1.2 else "MISSED"))
    print("%-34s %9.3f  < 1 s %s" % ("memo fill (3 x SetMemoLines)", fill_best,
                                      "ok" if fill_best < 1.0 else "MISSED"))
    print("%-34s %9.3f" % ("first repaint of the filled page", min(paint_times)))
    if engine_times:
        print("%-34s %9.3f" % ("engine RunCheck alone (in harness)", min(engine_times)))
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
