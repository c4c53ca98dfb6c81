#!/usr/bin/env python3
"""Times the log page (log/index.htm) in headless Chromium on big and tiny days.

Writes day files of 10,000, 100,000 and 1,000,000 file elements with the
program's own log writer (bench-log-day: a refused run, a small clean run and
one big run, as a background run logs them), and a tiny day holding only the
two small runs. Each is opened in headless Chromium, driven over the DevTools
protocol on a pipe (no other package needed), and two times are taken inside
the page, from the start of the navigation:

  summary  the day's items and their counts are in the page and a frame has
           been drawn after that (a mutation observer installed before the
           page's own script notes the moment the day's table and totals
           appear, then waits for two animation frames)
  list     from a click on the newest run's "文件列表" until its first 1,000
           lines (or all of them, on the tiny day) are in the page and drawn

Each sample opens a fresh tab; sizes are interleaved with the tiny day, and
the median of --repeat samples is printed, with the difference and the ratio
against the tiny day. Targets: a day of 1,000,000 elements shows its summary
within 2 s, and an expanded list's first lines within 1 s.

Needs Chromium: apt-get install chromium (Debian 12). --page times another
copy of the page, e.g. the one before a change:
    git show main:data/log/index.htm > /tmp/old.htm
    bench/log/run.py --page /tmp/old.htm

Usage: bench/log/run.py [--bin build/bin] [--work bench/work/log] [--page FILE]
                        [--sizes 10000,100000,1000000] [--repeat 3] [--browser chromium]
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

# Runs before the page's own script: notes when the summary of the day is
# shown, and offers the list expansion to the harness.
PROBE = r"""
(function () {
  function frames() {
    return new Promise(function (done) {
      requestAnimationFrame(function () { requestAnimationFrame(function () { done(); }); });
    });
  }
  function summaryShown() {
    var totals = document.querySelector('details.day summary .totals');
    return totals && /\d+ 项/.test(totals.textContent) && document.querySelector('details.day table');
  }
  window.__bench = { summary: null, list: null, error: null };
  var observer = new MutationObserver(function () {
    if (window.__bench.summary === null && summaryShown()) {
      observer.disconnect();
      frames().then(function () { window.__bench.summary = performance.now(); });
    }
  });
  observer.observe(document, { childList: true, subtree: true, characterData: true });
  window.__benchExpand = function () {
    var summary = document.querySelector('details.day tr.files details > summary');
    if (!summary) {
      window.__bench.error = 'no file list';
      return;
    }
    var details = summary.parentElement;
    var total = Number((/\((\d+)\)/.exec(summary.textContent) || [0, 0])[1]);
    var wanted = Math.min(1000, total);
    var start = performance.now();
    summary.click();
    (function wait() {
      if (details.getElementsByTagName('li').length >= wanted) {
        frames().then(function () { window.__bench.list = performance.now() - start; });
      } else {
        setTimeout(wait, 2);
      }
    })();
  };
})();
"""


class Browser:
    """Headless Chromium on a DevTools pipe (fd 3 commands, fd 4 answers)."""

    def __init__(self, program):
        self.profile = tempfile.mkdtemp(prefix="pairwell-bench-log-")
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()

        def wire():
            # Copies first: a pipe end may itself be fd 3 or 4.
            commands, answers = os.dup(to_browser_r), os.dup(from_browser_w)
            os.dup2(commands, 3)
            os.dup2(answers, 4)

        args = [program, "--headless", "--remote-debugging-pipe", "--user-data-dir=" + self.profile,
                "--allow-file-access-from-files", "--no-first-run", "--no-default-browser-check",
                "--disable-gpu", "--disable-extensions", "--window-size=1280,900", "about:blank"]
        if os.geteuid() == 0:
            args.insert(1, "--no-sandbox")
        self.process = subprocess.Popen(args, preexec_fn=wire, close_fds=False,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser_r)
        os.close(from_browser_w)
        self.next_id = 0
        self.pending = b""
        self.events = []

    def send(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        wanted = self.next_id
        while True:
            answer = self.read()
            if answer.get("id") == wanted:
                if "error" in answer:
                    raise RuntimeError("%s: %s" % (method, answer["error"]))
                return answer.get("result", {})
            self.events.append(answer)

    def read(self):
        while b"\0" not in self.pending:
            chunk = os.read(self.from_browser, 1 << 20)
            if not chunk:
                raise RuntimeError("the browser ended")
            self.pending += chunk
        message, self.pending = self.pending.split(b"\0", 1)
        return json.loads(message)

    def open_tab(self):
        target = self.send("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = self.send("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        self.send("Page.enable", session=session)
        self.send("Page.addScriptToEvaluateOnNewDocument", {"source": PROBE}, session=session)
        return target, session

    def evaluate(self, session, expression):
        result = self.send("Runtime.evaluate", {"expression": expression, "returnByValue": True},
                           session=session)
        if "exceptionDetails" in result:
            raise RuntimeError("page: %s" % result["exceptionDetails"])
        return result["result"].get("value")

    def wait_for(self, session, expression, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = self.evaluate(session, expression)
            if value is not None:
                return value
            time.sleep(0.02)
        raise RuntimeError("no answer to %s within %d s" % (expression, timeout))

    def close(self):
        try:
            self.send("Browser.close")
        except (RuntimeError, OSError):
            pass
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)
        shutil.rmtree(self.profile, ignore_errors=True)


def sample(browser, folder, timeout):
    """Milliseconds to the summary and to the first lines of the expanded list."""
    target, session = browser.open_tab()
    try:
        url = "file://" + os.path.join(folder, "index.htm")
        browser.send("Page.navigate", {"url": url}, session=session)
        summary = browser.wait_for(session, "window.__bench && window.__bench.summary", timeout)
        browser.evaluate(session, "window.__benchExpand()")
        listed = browser.wait_for(session, "window.__bench.error || window.__bench.list", timeout)
        if isinstance(listed, str):
            raise RuntimeError("%s: %s" % (folder, listed))
        return summary, listed
    finally:
        browser.send("Target.closeTarget", {"targetId": target})


def make_day(tool, work, files, page):
    """A log folder holding one day of `files` file elements, shown by `page`."""
    folder = os.path.join(work, "tiny" if files == 0 else str(files))
    marker = os.path.join(folder, "made")
    if not os.path.exists(marker):
        shutil.rmtree(folder, ignore_errors=True)
        print("writing a day of %d file elements ..." % files, flush=True)
        subprocess.run([tool, folder, str(files)], check=True, stdout=subprocess.DEVNULL)
        with open(marker, "w") as f:
            f.write("%d\n" % files)
    shutil.copyfile(page, os.path.join(folder, "index.htm"))
    return folder


def day_size(folder):
    names = [n for n in os.listdir(folder) if n.endswith(".xml") and n != "list.xml"]
    return sum(os.path.getsize(os.path.join(folder, n)) for n in names)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", default=os.path.join(ROOT, "build", "bin"))
    parser.add_argument("--work", default=os.path.join(ROOT, "bench", "work", "log"))
    parser.add_argument("--page", default=os.path.join(ROOT, "data", "log", "index.htm"))
    parser.add_argument("--sizes", default="10000,100000,1000000")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--browser", default=shutil.which("chromium") or "chromium")
    parser.add_argument("--timeout", type=int, default=300, help="seconds allowed for one step")
    args = parser.parse_args()

    tool = os.path.join(args.bin, "bench-log-day")
    if not os.path.exists(tool):
        sys.exit("no %s: cmake --build build --target bench-log-day" % tool)
    if not shutil.which(args.browser) and not os.path.exists(args.browser):
        sys.exit("no Chromium: apt-get install chromium")
    sizes = [int(s) for s in args.sizes.split(",") if s]
    os.makedirs(args.work, exist_ok=True)
    page = os.path.abspath(args.page)
    tiny = make_day(tool, args.work, 0, page)
    days = {n: make_day(tool, args.work, n, page) for n in sizes}

    browser = Browser(args.browser)
    times = {n: {"summary": [], "list": []} for n in [0] + sizes}
    try:
        sample(browser, tiny, args.timeout)  # a first start of the page warms the browser
        for round_number in range(args.repeat):
            for n in sizes:
                for files, folder in ((0, tiny), (n, days[n])):
                    summary, listed = sample(browser, folder, args.timeout)
                    times[files]["summary"].append(summary)
                    times[files]["list"].append(listed)
                    print("  round %d, %s: summary %.0f ms, list %.0f ms"
                          % (round_number + 1, files or "tiny", summary, listed), flush=True)
    finally:
        browser.close()

    def median(files, key):
        return statistics.median(times[files][key])

    print()
    print("page: %s, median of %d, %s" % (page, args.repeat, os.uname().nodename))
    print("%-10s %8s | %9s %9s %8s | %9s %9s %8s" % (
        "elements", "MB", "summary", "- tiny", "x tiny", "list", "- tiny", "x tiny"))
    print("%-10s %8.2f | %7.0fms %9s %8s | %7.0fms %9s %8s" % (
        "tiny", day_size(tiny) / 1e6, median(0, "summary"), "", "", median(0, "list"), "", ""))
    for n in sizes:
        s, l = median(n, "summary"), median(n, "list")
        s0, l0 = median(0, "summary"), median(0, "list")
        print("%-10d %8.2f | %7.0fms %7.0fms %7.1fx | %7.0fms %7.0fms %7.1fx" % (
            n, day_size(days[n]) / 1e6, s, s - s0, s / s0, l, l - l0, l / l0))
    if sizes and max(sizes) >= 1_000_000:
        biggest = max(sizes)
        ok = median(biggest, "summary") <= 2000 and median(biggest, "list") <= 1000
        print("targets (%d elements: summary <= 2000 ms, list <= 1000 ms): %s"
              % (biggest, "met" if ok else "NOT met"))


if __name__ == "__main__":
    main()
