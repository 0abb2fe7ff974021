#!/usr/bin/env python3
"""Rerun benchmark: what IsOverwrite=Update costs when little or nothing changed.

    python3 bench/rerun.py [folder] [--vellum build/vellum] [--threads 2]

The folder (default: ../shared/corpus) is copied into a temporary folder, so that the decks can be touched,
and converted three times by vellum in console mode with IsOverwrite=Update, a record of its own (a data
folder of the bench's) and ThreadsCount workers:
  1. the first run: every deck is converted (or fails);
  2. the same again, nothing changed: every PDF is up to date and every failed deck is left out, so no office
     should even start; the target is at most 5 % of the first run's time and CPU;
  3. after touching three decks that converted: exactly those three are converted again.
For each run it prints the wall time, the CPU time of the program with its offices (from wait4), the CPU time
of the office processes alone (sampled from /proc while they run) and the run's summary line. The exit code
is 1 when the third run did not convert exactly three decks or the second converted any.
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TICK = os.sysconf("SC_CLK_TCK")


class OfficeCpu:
    """Samples the CPU time of the office processes whose command line names the marker folder, five times a
    second; each process counts with the last value seen."""

    def __init__(self, marker):
        self.marker, self.seen, self.stop = marker.encode(), {}, threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)

    def sample(self):
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    cmd = f.read()
                if self.marker not in cmd or b"soffice" not in cmd:
                    continue
                with open(f"/proc/{pid}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                self.seen[pid] = (int(fields[11]) + int(fields[12])) / TICK
            except OSError:
                pass

    def run(self):
        while not self.stop.is_set():
            self.sample()
            self.stop.wait(0.2)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        self.thread.join()

    def seconds(self):
        return sum(self.seen.values())


def run_vellum(vellum, folder, out, threads, env, marker):
    options = (f"-P:Source={folder}/*.ppt?;Subdir=True;Target={out};PureConsole=True;IsOverwrite=Update;"
               f"ThreadsCount={threads}")
    with OfficeCpu(marker) as offices:
        start = time.monotonic()
        proc = subprocess.Popen([vellum, options], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        stdout = proc.stdout.read().decode(errors="replace")
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"vellum ended with {os.waitstatus_to_exitcode(status)}")
    summary = stdout.strip().splitlines()[-1]
    found = re.match(r"(\d+) listed, (\d+) converted, (\d+) skipped, (\d+) failed", summary)
    if not found:
        raise RuntimeError(f"no summary in vellum's output: {summary}")
    converted = [line.split(" Success ", 1)[1].split(" => ")[0] for line in stdout.splitlines()
                 if " Success " in line and "(skipped" not in line]
    return wall, usage.ru_utime + usage.ru_stime, offices.seconds(), summary, int(found.group(2)), converted


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder", nargs="?", default=os.path.join(ROOT, "..", "shared", "corpus"))
    parser.add_argument("--vellum", default=os.environ.get("VELLUM_BINARY", os.path.join(ROOT, "build", "vellum")))
    parser.add_argument("--threads", type=int, default=2)
    args = parser.parse_args()
    ok = True
    with tempfile.TemporaryDirectory(prefix="vellum-rerun-") as work:
        folder = os.path.join(work, "decks")
        shutil.copytree(os.path.realpath(args.folder), folder)
        out = os.path.join(work, "pdf")
        tmp = os.path.join(work, "tmp")
        os.makedirs(tmp)
        env = dict(os.environ, TMPDIR=tmp, XDG_DATA_HOME=os.path.join(work, "data"))
        rows = []
        first = run_vellum(args.vellum, folder, out, args.threads, env, tmp)
        rows.append(("first run", first))
        again = run_vellum(args.vellum, folder, out, args.threads, env, tmp)
        rows.append(("unchanged", again))
        touched = sorted(first[5])[:3]
        now = time.time()
        for deck in touched:
            os.utime(deck, (now, now))
        third = run_vellum(args.vellum, folder, out, args.threads, env, tmp)
        rows.append(("3 touched", third))

        decks = len(glob.glob(os.path.join(folder, "**", "*.ppt*"), recursive=True))
        print(f"{decks} presentations from {os.path.realpath(args.folder)}, IsOverwrite=Update, "
              f"ThreadsCount={args.threads}")
        for label, (wall, cpu, office, summary, converted, _) in rows:
            print(f"  {label:10s}: {wall:7.2f} s wall ({wall / first[0] * 100:5.1f} %), {cpu:7.2f} CPU-s with "
                  f"offices ({cpu / first[1] * 100:5.1f} %), offices {office:6.2f} CPU-s "
                  f"({office / max(first[2], 1e-9) * 100:5.1f} %)  [{summary}]")
        if again[4] != 0:
            print(f"  CHECK FAILED: the unchanged rerun converted {again[4]} decks")
            ok = False
        if third[4] != 3 or sorted(third[5]) != touched:
            print(f"  CHECK FAILED: after touching {len(touched)} decks, {third[4]} were converted: {third[5]}")
            ok = False
        for label, row, limit in (("unchanged", again, 0.05),):
            if row[0] > limit * first[0] or row[1] > limit * first[1]:
                print(f"  NOTE: the {label} rerun took more than {limit * 100:.0f} % of the first run")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
