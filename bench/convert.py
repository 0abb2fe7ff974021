#!/usr/bin/env python3
"""Conversion benchmark: LibreOffice's own batch conversion against vellum with one and two workers.

    python3 bench/convert.py [corpus-folder] [--vellum build/vellum] [--check]

After one warm-up of each, converts every presentation under the folder (default ../shared/corpus):
  1. `soffice --headless --convert-to pdf` over all files in one process, with a private profile;
  2. vellum in console mode with ThreadsCount=1;
  3. vellum in console mode with ThreadsCount=2.
Prints each wall time, the files converted, the ratio to the soffice run and the peak memory of all
office processes together (proportional set size, so pages the offices share are counted once).

With --check, the ThreadsCount=2 run is also held against SOURCES.tsv in the folder: every file marked
ok must be converted with its page count, every other file must have a failure text, and no office
process may be left. The exit code is 1 when a check fails.
"""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def office_pss_kib(marker):
    """Summed PSS of the office processes whose command line names the marker folder."""
    total = 0
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                cmd = f.read()
            if marker.encode() not in cmd or b"soffice" not in cmd:
                continue
            with open(f"/proc/{pid}/smaps_rollup") as f:
                for line in f:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


class PeakMemory:
    """Samples the offices' memory every 50 ms while a run goes on."""

    def __init__(self, marker):
        self.marker, self.peak, self.stop = marker, 0, threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)

    def run(self):
        while not self.stop.is_set():
            self.peak = max(self.peak, office_pss_kib(self.marker))
            time.sleep(0.05)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        self.thread.join()


def decks(folder):
    files = []
    for pattern in ("*.ppt", "*.pptx", "*.pptm", "*.pps", "*.ppsx"):
        files += glob.glob(os.path.join(folder, "**", pattern), recursive=True)
    return sorted(files)


def run_soffice(files, work, profile):
    out = os.path.join(work, "soffice-out")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    cmd = ["soffice", "-env:UserInstallation=file://" + profile, "--headless", "--norestore",
           "--convert-to", "pdf", "--outdir", out] + files
    with PeakMemory(profile) as mem:
        start = time.monotonic()
        subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
                       timeout=3600)
        wall = time.monotonic() - start
    return wall, len(glob.glob(os.path.join(out, "*.pdf"))), mem.peak


def run_vellum(vellum, folder, work, threads, tmp):
    out = os.path.join(work, f"vellum-{threads}")
    shutil.rmtree(out, ignore_errors=True)
    log = os.path.join(work, f"vellum-{threads}.log")
    options = (f"-P:Source={folder}/*.ppt?;Subdir=True;Target={out};PureConsole=True;"
               f"ThreadsCount={threads};LogFile={log}")
    env = dict(os.environ, TMPDIR=tmp)
    with PeakMemory(tmp) as mem:
        start = time.monotonic()
        subprocess.run([vellum, options], stdout=subprocess.DEVNULL, env=env, timeout=3600, check=True)
        wall = time.monotonic() - start
    with open(log, encoding="utf-8", errors="replace") as f:
        lines = [line.rstrip("\r\n") for line in f if " => " in line]
    converted = sum(1 for line in lines if line.startswith("Success => "))
    return wall, converted, mem.peak, lines, out


def page_count(pdf):
    info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True).stdout
    for line in info.splitlines():
        if line.startswith("Pages:"):
            return int(line.split()[1])
    return -1


def check(folder, lines, out, marker):
    """Holds a run against SOURCES.tsv; returns the list of problems."""
    results = {}
    for line in lines:
        state, source, result = line.split(" => ", 2)
        results[os.path.relpath(source, folder)] = (state, result)
    problems = []
    with open(os.path.join(folder, "SOURCES.tsv"), encoding="utf-8") as f:
        rows = [r.rstrip("\n").split("\t") for r in f][1:]
    for row in rows:
        name, status, pages = row[0], row[4], row[5] if len(row) > 5 else ""
        state, result = results.get(name, (None, None))
        if status == "ok":
            pdf = os.path.join(out, os.path.splitext(name)[0] + ".pdf")
            if state != "Success":
                problems.append(f"{name}: {state} {result}")
            elif page_count(pdf) != int(pages):
                problems.append(f"{name}: {page_count(pdf)} pages, want {pages}")
        elif state != "Failure" or not result:
            problems.append(f"{name}: expected a failure text, got {state} {result}")
    if len(results) != len(rows):
        problems.append(f"{len(results)} items reported for {len(rows)} files")
    if office_pss_kib(marker):
        problems.append("office processes left behind")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder", nargs="?", default=os.path.join(ROOT, "..", "shared", "corpus"))
    parser.add_argument("--vellum", default=os.environ.get("VELLUM_BINARY", os.path.join(ROOT, "build", "vellum")))
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    folder = os.path.realpath(args.folder)
    files = decks(folder)
    if not files:
        sys.exit(f"no presentations under {folder}")

    with tempfile.TemporaryDirectory(prefix="vellum-bench-") as work:
        profile = os.path.join(work, "soffice-profile")
        tmp = os.path.join(work, "tmp")
        os.makedirs(tmp)
        # Warm-up: both make their profiles and fill the disk cache.
        run_soffice(files[:1], work, profile)
        warm = os.path.join(work, "warm")
        os.makedirs(warm)
        shutil.copy(files[0], warm)
        run_vellum(args.vellum, warm, work, 1, tmp)

        base_wall, base_count, base_mem = run_soffice(files, work, profile)
        print(f"{len(files)} presentations in {folder}")
        print(f"soffice --convert-to  : {base_wall:7.2f} s  {base_count:4d} converted  "
              f"peak office memory {base_mem / 1024:7.1f} MiB")
        ok = True
        for threads in (1, 2):
            wall, count, mem, lines, out = run_vellum(args.vellum, folder, work, threads, tmp)
            print(f"vellum ThreadsCount={threads}: {wall:7.2f} s  {count:4d} converted  "
                  f"peak office memory {mem / 1024:7.1f} MiB  {wall / base_wall:5.2f}x soffice's time "
                  f"({base_wall / wall:4.2f}x as fast)")
            if args.check and threads == 2:
                problems = check(folder, lines, out, tmp)
                for p in problems:
                    print("CHECK FAILED: " + p)
                print(f"check: {len(lines)} items, {count} converted, "
                      f"{sum(1 for line in lines if line.startswith('Failure => '))} failed, "
                      f"{len(problems)} problems")
                ok = ok and not problems
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
