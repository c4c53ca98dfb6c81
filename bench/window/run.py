#!/usr/bin/env python3
"""Times the window's interactive check against pairwell-cli on the same tree.

Makes a tree of 100,000 small files (the target lacks 10 %, has 10 % older and
5 % surplus; the project deletes surplus files), then, with a warm cache and
best of N, times:
  cli     pairwell-cli --config X check bench           (the whole process)
  window  bench-window: the action " 检查 " to the results page and its notice
and prints one table with both times, the ratio window/cli (target <= 1.2) and
the time to fill the three memos with the plan (target < 1 s).

Each harness run also times the engine's check alone in its process, and the
phases of the window's check, so the window's own share shows.

Usage: bench/window/run.py [--bin build/bin] [--work bench/work/window] [--files N]
                           [--repeat N] [--fresh] [--keep]
"""

import argparse
import os
import resource
import runpy
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def load_tree_maker():
    """The tree generator of the sync benchmark, so both measure the same kind of tree."""
    return runpy.run_path(os.path.join(ROOT, "bench", "sync", "run.py"))["generate_pair"]


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


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def time_cli(cli, config):
    """Wall seconds and CPU seconds (all threads) of one pairwell-cli check."""
    cpu = children_cpu()
    start = time.perf_counter()
    subprocess.run([cli, "--config", config, "check", "bench"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start, children_cpu() - cpu


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
    run_window(harness, config, src, dst, 1, False)

    # Interleaved, so a change in the machine's load hits both alike. Each
    # harness run also times the engine's check alone in its own process, so
    # the window's share shows apart from the engine's.
    cli_times, cli_cpu, runs = [], [], []
    for _ in range(args.repeat):
        wall, cpu = time_cli(cli, config)
        cli_times.append(wall)
        cli_cpu.append(cpu)
        values = run_window(harness, config, src, dst, 1, True)
        got = dict(zip(("new", "update", "delete"),
                       (int(part.split("=")[1]) for part in values["plan"][0].split())))
        if got != expected:
            sys.exit("the window's plan %s differs from the cli's %s" % (got, expected))
        if values["results_page"][0] != "1":
            sys.exit("the notice came before the results page showed")
        runs.append({key: float(value[0]) for key, value in values.items() if key not in ("plan",)})

    def best(key):
        return min(run[key] for run in runs)

    cli_best, window_best, fill_best = min(cli_times), best("check_s"), best("memo_fill_s")
    ratio = window_best / cli_best
    quickest = min(runs, key=lambda run: run["check_s"])
    print()
    print("tree: %d files, plan new %d, update %d, delete %d; warm cache, best of %d"
          % (args.files, expected["new"], expected["update"], expected["delete"], args.repeat))

    def line(measure, value, target=""):
        print(("%-44s %8s  %s" % (measure, value, target)).rstrip())

    line("measure", "seconds", "target")
    line("pairwell-cli check (whole process)", "%.3f" % cli_best)
    line("window check (action to notice)", "%.3f" % window_best)
    line("ratio window / cli", "%.2f" % ratio, "<= 1.2 " + ("ok" if ratio <= 1.2 else "MISSED"))
    line("CPU: pairwell-cli check (all threads)", "%.3f" % min(cli_cpu))
    line("CPU: window check (all threads)", "%.3f" % best("cpu_s"))
    line("CPU ratio window / cli (less hit by load)", "%.2f" % (best("cpu_s") / min(cli_cpu)))
    line("memo fill (3 x SetMemoLines, 2nd fill)", "%.3f" % fill_best,
         "< 1 s " + ("ok" if fill_best < 1.0 else "MISSED"))
    line("  of it: plan lines to text", "%.3f" % best("memo_convert_s"))
    line("  of it: text into the memos", "%.3f" % best("memo_settext_s"))
    line("first repaint of the filled results page", "%.3f" % best("memo_paint_s"))
    line("engine RunCheck alone (in the harness)", "%.3f" % best("engine_check_s"))
    line("engine on a worker thread, no progress", "%.3f" % best("engine_worker_silent_check_s"))
    line("engine on a worker, progress window shown", "%.3f" % best("engine_worker_check_s"))
    line("window minus engine alone (best of each)", "%.3f" % (window_best - best("engine_check_s")))
    print("phases of the quickest window check (from the action):")
    for key, text in (("phase_progress_shown_s", "progress window shown"),
                      ("phase_memo1_filled_s", "check done, new-file memo filled"),
                      ("phase_memo3_filled_s", "all three memos filled"),
                      ("phase_main_shown_s", "main window back"),
                      ("check_s", "completion notice shown")):
        if key in quickest:
            line("  " + text, "%.3f" % quickest[key])
    line("  window thread CPU during the check", "%.3f" % quickest["ui_cpu_s"])
    line("  progress window paints", "%d" % quickest["progress_paints"])
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
