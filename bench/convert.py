#!/usr/bin/env python3
"""Conversion benchmark: LibreOffice's own batch conversion against vellum with one and two workers.

    python3 bench/convert.py [folder ...] [--vellum build/vellum] [--runs 3] [--check] [--servers]

Data sets (default: ../shared/corpus and the image-heavy set in build/bench-decks, which
tools/make-samples.py --heavy makes with build/bench/bench_photo when it is missing). For each set, after
one warm-up of each, every presentation under the folder is converted --runs times by:
  1. `soffice --headless --convert-to pdf` over all files in one process, with a private profile as soffice
     makes it; such a profile never records the office's version, so the office runs its graphics
     self-tests on every start, as it does in a batch set-up that never opens a window;
  1a. the same with a profile that has seen its version, as after a first start with a window (seen_version);
  1b. two such soffice processes at once, each over every other file: what two offices get from the machine;
  2. vellum in console mode with ThreadsCount=1;
  3. vellum in console mode with ThreadsCount=2.
With --servers also:
  4. vellum with OfficeServers naming two local listeners (`vellum --office-server`), the same cores as
     ThreadsCount=2, so the times should be close; it adds the client's own CPU time per file (listing,
     sending each deck, taking each PDF back, committing), which says how many remote offices one client
     can keep busy.
Prints per set the median wall time of each, the ratio to soffice's median, the files converted, the PDF
bytes written and the peak memory of all office processes together (proportional set size, so pages the
offices share are counted once; the highest of the runs).

Every vellum PDF is held against soffice's PDF of the same deck: the same page count, the same text, and
no image at fewer pixels (pdfimages -list). With --check, a set with SOURCES.tsv is also held against it:
every file marked ok must be converted with its page count, every other file must have a failure text,
and no office process may be left. The exit code is 1 when a check fails.
"""
import argparse
import glob
import os
import re
import socket
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
    """Samples the offices' memory twice a second while a run goes on. Reading an office's memory map costs
    the kernel real time: sampled more often, the sampler takes CPU from the very offices it measures, and
    from two of them on two cores most of all."""

    def __init__(self, marker):
        self.marker, self.peak, self.stop = marker, 0, threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)

    def run(self):
        while not self.stop.is_set():
            self.peak = max(self.peak, office_pss_kib(self.marker))
            self.stop.wait(0.5)

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


def pdf_bytes(out):
    return sum(os.path.getsize(p) for p in glob.glob(os.path.join(out, "**", "*.pdf"), recursive=True))


def run_soffice(files, work, profile, name="soffice-out"):
    out = os.path.join(work, name)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    cmd = ["soffice", "-env:UserInstallation=file://" + profile, "--headless", "--norestore",
           "--convert-to", "pdf", "--outdir", out] + files
    with PeakMemory(profile) as mem:
        start = time.monotonic()
        subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
                       timeout=3600)
        wall = time.monotonic() - start
    return wall, len(glob.glob(os.path.join(out, "*.pdf"))), mem.peak, out


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


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Listeners:
    """Two office listeners of vellum's own on loopback ports, for the run with OfficeServers."""

    def __init__(self, vellum, tmp, count=2):
        self.procs, self.addresses = [], []
        env = dict(os.environ, TMPDIR=tmp)
        for _ in range(count):
            address = f"127.0.0.1:{free_port()}"
            proc = subprocess.Popen([vellum, "--office-server", address], stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, env=env, text=True, start_new_session=True)
            line = proc.stdout.readline()
            if "Office listening on" not in line:
                raise RuntimeError(f"the listener on {address} did not start: {line}")
            self.procs.append(proc)
            self.addresses.append(address)

    def close(self):
        for proc in self.procs:
            proc.terminate()
        for proc in self.procs:
            proc.wait(timeout=60)


def run_remote(vellum, folder, work, servers, tmp):
    """Like run_vellum with OfficeServers; also answers the client's CPU seconds."""
    out = os.path.join(work, "vellum-remote")
    shutil.rmtree(out, ignore_errors=True)
    log = os.path.join(work, "vellum-remote.log")
    options = (f"-P:Source={folder}/*.ppt?;Subdir=True;Target={out};PureConsole=True;"
               f"OfficeServers={' '.join(servers)};LogFile={log}")
    with PeakMemory(tmp) as mem:
        start = time.monotonic()
        proc = subprocess.Popen([vellum, options], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        wall = time.monotonic() - start
    if proc.returncode != 0:
        raise RuntimeError(f"vellum with OfficeServers ended with {proc.returncode}")
    with open(log, encoding="utf-8", errors="replace") as f:
        lines = [line.rstrip("\r\n") for line in f if " => " in line]
    converted = sum(1 for line in lines if line.startswith("Success => "))
    return wall, converted, mem.peak, lines, out, usage.ru_utime + usage.ru_stime


def page_count(pdf):
    info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True).stdout
    for line in info.splitlines():
        if line.startswith("Pages:"):
            return int(line.split()[1])
    return -1


def pdf_text(pdf):
    text = subprocess.run(["pdftotext", pdf, "-"], capture_output=True, text=True, errors="replace").stdout
    return " ".join(text.split())


def image_sizes(pdf):
    """(width, height) of every image in the PDF, largest first."""
    listing = subprocess.run(["pdfimages", "-list", pdf], capture_output=True, text=True).stdout
    sizes = []
    for line in listing.splitlines()[2:]:
        cols = line.split()
        if len(cols) > 4 and cols[2] == "image":
            sizes.append((int(cols[3]), int(cols[4])))
    return sorted(sizes, key=lambda s: s[0] * s[1], reverse=True)


def compare_with_soffice(folder, lines, out, soffice_out):
    """Problems of vellum's PDFs against soffice's PDF of the same deck (matched by name)."""
    by_name = {}
    for line in lines:
        state, source, result = line.split(" => ", 2)
        if state == "Success":
            by_name.setdefault(os.path.splitext(os.path.basename(source))[0], []).append(result)
    problems, compared = [], 0
    for theirs in sorted(glob.glob(os.path.join(soffice_out, "*.pdf"))):
        name = os.path.splitext(os.path.basename(theirs))[0]
        ours = by_name.get(name, [])
        if len(ours) != 1:
            continue  # missing here (the SOURCES check reports it) or a name two folders share
        compared += 1
        if page_count(ours[0]) != page_count(theirs):
            problems.append(f"{name}: {page_count(ours[0])} pages, soffice {page_count(theirs)}")
        if pdf_text(ours[0]) != pdf_text(theirs):
            problems.append(f"{name}: the text differs from soffice's")
        mine, base = image_sizes(ours[0]), image_sizes(theirs)
        if len(mine) == len(base):
            smaller = [(a, b) for a, b in zip(mine, base) if a[0] * a[1] < b[0] * b[1]]
        else:
            smaller = [] if not base or (mine and mine[0][0] * mine[0][1] >= base[0][0] * base[0][1]) else [base[0]]
        if smaller:
            problems.append(f"{name}: images at fewer pixels than soffice's: {smaller[:3]}")
    return compared, problems


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


def image_set(vellum):
    """The image-heavy set in the build tree, made on first use."""
    build = os.path.dirname(os.path.abspath(vellum))
    folder = os.path.join(build, "bench-decks")
    if not glob.glob(os.path.join(folder, "*.pptx")):
        tool = os.path.join(build, "bench", "bench_photo")
        subprocess.run([sys.executable, os.path.join(ROOT, "tools", "make-samples.py"), "--heavy", folder,
                        "--photo-tool", tool], check=True)
    return folder


def run_pair(files, work, profiles):
    """Two soffice processes at once, each over every other file: the most two offices can give here."""
    walls = [0.0, 0.0]

    def one(i):
        walls[i] = run_soffice(files[i::2], work, profiles[i], f"soffice-pair-{i}")[0]

    start = time.monotonic()
    threads = [threading.Thread(target=one, args=(i,)) for i in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return time.monotonic() - start


def seen_version(profile):
    """Records the office's version as seen in soffice's profile, as a desktop user's profile has it after the
    first start with a window. A profile without it makes the office take itself for freshly upgraded and run
    its graphics self-tests on every start, seconds of CPU that vellum's offices do not spend either."""
    program = os.path.dirname(os.path.realpath(shutil.which("soffice")))
    with open(os.path.join(program, "..", "share", "registry", "main.xcd"), encoding="utf-8") as f:
        found = re.search(r'<prop oor:name="ooSetupVersion">\s*<value>([0-9.]+)</value>', f.read())
    settings = os.path.join(profile, "user", "registrymodifications.xcu")
    with open(settings, encoding="utf-8") as f:
        text = f.read()
    if not found or "ooSetupLastVersion" in text:
        return
    item = ('<item oor:path="/org.openoffice.Setup/Product"><prop oor:name="ooSetupLastVersion" oor:op="fuse">'
            f"<value>{found.group(1)}</value></prop></item>\n")
    with open(settings, "w", encoding="utf-8") as f:
        f.write(text.replace("</oor:items>", item + "</oor:items>"))


def median(values):
    values = sorted(values)
    return values[len(values) // 2] if len(values) % 2 else (values[len(values) // 2 - 1] + values[len(values) // 2]) / 2


def bench_set(folder, vellum, runs, do_check, work, servers=False):
    files = decks(folder)
    if not files:
        print(f"no presentations under {folder}")
        return False
    profile = os.path.join(work, "soffice-profile")
    seen = [os.path.join(work, f"soffice-seen-{i}") for i in range(2)]
    tmp = os.path.join(work, "tmp")
    os.makedirs(tmp, exist_ok=True)
    # Warm-up: both make their profiles and fill the disk cache.
    run_soffice(files[:1], work, profile)
    for s in seen:
        run_soffice(files[:1], work, s)
        seen_version(s)
    warm = os.path.join(work, "warm")
    shutil.rmtree(warm, ignore_errors=True)
    os.makedirs(warm)
    shutil.copy(files[0], warm)
    run_vellum(vellum, warm, work, 1, tmp)
    for f in files:
        with open(f, "rb") as handle:
            handle.read()

    walls = {"soffice": [], "seen": [], "pair": [], 1: [], 2: [], "remote": []}
    peaks = {"soffice": 0, "seen": 0, 1: 0, 2: 0, "remote": 0}
    counts, sizes, last, cpu = {}, {}, {}, []
    listeners = None
    if servers:
        remote_tmp = os.path.join(work, "remote-tmp")
        os.makedirs(remote_tmp, exist_ok=True)
        listeners = Listeners(vellum, remote_tmp)
        run_remote(vellum, warm, work, listeners.addresses, remote_tmp)
    for _ in range(runs):
        if listeners:
            wall, count, mem, lines, out, seconds = run_remote(vellum, folder, work, listeners.addresses,
                                                               remote_tmp)
            walls["remote"].append(wall)
            peaks["remote"] = max(peaks["remote"], mem)
            counts["remote"], sizes["remote"] = count, pdf_bytes(out)
            last["remote"] = (lines, out)
            cpu.append(seconds / max(len(lines), 1))
        wall, count, mem, soffice_out = run_soffice(files, work, profile)
        walls["soffice"].append(wall)
        peaks["soffice"] = max(peaks["soffice"], mem)
        counts["soffice"], sizes["soffice"] = count, pdf_bytes(soffice_out)
        wall, count, mem, _ = run_soffice(files, work, seen[0], "soffice-seen-out")
        walls["seen"].append(wall)
        peaks["seen"] = max(peaks["seen"], mem)
        counts["seen"] = count
        walls["pair"].append(run_pair(files, work, seen))
        for threads in (1, 2):
            wall, count, mem, lines, out = run_vellum(vellum, folder, work, threads, tmp)
            walls[threads].append(wall)
            peaks[threads] = max(peaks[threads], mem)
            counts[threads], sizes[threads] = count, pdf_bytes(out)
            last[threads] = (lines, out)

    base = median(walls["soffice"])
    seen_base = median(walls["seen"])

    def runs_of(key):
        return ", ".join(f"{w:.2f}" for w in walls[key])

    print(f"{len(files)} presentations in {folder}, median of {runs} runs")
    print(f"  soffice --convert-to  : {base:7.2f} s  {counts['soffice']:4d} converted  "
          f"{sizes['soffice'] / 1e6:8.1f} MB of PDF  peak office memory {peaks['soffice'] / 1024:7.1f} MiB  "
          f"(runs: {runs_of('soffice')})")
    print(f"  soffice, seen version : {seen_base:7.2f} s  {counts['seen']:4d} converted  "
          f"{'':8s}         peak office memory {peaks['seen'] / 1024:7.1f} MiB  (runs: {runs_of('seen')})")
    pair = median(walls["pair"])
    print(f"  two soffice on halves : {pair:7.2f} s  {seen_base / pair:4.2f}x the seen-version soffice: what two "
          f"offices at once get from this machine  (runs: {runs_of('pair')})")
    ok = True
    for threads in (1, 2):
        wall = median(walls[threads])
        print(f"  vellum ThreadsCount={threads}: {wall:7.2f} s  {counts[threads]:4d} converted  "
              f"{sizes[threads] / 1e6:8.1f} MB of PDF  peak office memory {peaks[threads] / 1024:7.1f} MiB  "
              f"{base / wall:4.2f}x as fast as soffice, {seen_base / wall:4.2f}x the seen-version soffice  "
              f"(runs: {runs_of(threads)})")
    if listeners:
        listeners.close()
        wall = median(walls["remote"])
        per_item = median(cpu)
        print(f"  vellum OfficeServers (2 listeners): {wall:7.2f} s  {counts['remote']:4d} converted  "
              f"{sizes['remote'] / 1e6:8.1f} MB of PDF  peak office memory {peaks['remote'] / 1024:7.1f} MiB  "
              f"{base / wall:4.2f}x as fast as soffice  (runs: {runs_of('remote')})")
        # One office converts a file in about soffice's time per file; the client spends per_item on it.
        office_per_item = base / len(files)
        print(f"  client CPU per file with remote offices: {per_item * 1000:.1f} ms; at soffice's mean "
              f"{office_per_item:.2f} s per file, one client core keeps about {office_per_item / per_item:.0f} "
              f"offices busy")
    soffice_out = os.path.join(work, "soffice-out")
    for threads in (1, 2) + (("remote",) if listeners else ()):
        lines, out = last[threads]
        label = "OfficeServers" if threads == "remote" else f"ThreadsCount={threads}"
        compared, problems = compare_with_soffice(folder, lines, out, soffice_out)
        if do_check and threads in (2, "remote") and os.path.exists(os.path.join(folder, "SOURCES.tsv")):
            problems += check(folder, lines, out, tmp)
        for p in problems:
            print(f"  CHECK FAILED ({label}): " + p)
        print(f"  check {label}: {len(lines)} items, {compared} PDFs held against soffice's "
              f"(pages, text, image pixels), {len(problems)} problems")
        ok = ok and not problems
    return ok


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folders", nargs="*")
    parser.add_argument("--vellum", default=os.environ.get("VELLUM_BINARY", os.path.join(ROOT, "build", "vellum")))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--servers", action="store_true",
                        help="also convert through two local office listeners (OfficeServers)")
    args = parser.parse_args()
    folders = args.folders or [os.path.join(ROOT, "..", "shared", "corpus"), image_set(args.vellum)]
    ok = True
    for folder in folders:
        with tempfile.TemporaryDirectory(prefix="vellum-bench-") as work:
            ok = bench_set(os.path.realpath(folder), args.vellum, args.runs, args.check, work,
                           args.servers) and ok
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
