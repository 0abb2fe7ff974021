#!/usr/bin/env python3
"""Font fidelity benchmark: do the PDFs look like their decks?

    python3 bench/fidelity.py [CORPUS] [--vellum build/vellum] [--keep DIR]
    python3 bench/fidelity.py [CORPUS] --pdfs DIR [--log RUNLOG] [--against DIR [--against-log RUNLOG]]

CORPUS defaults to ../shared/corpus. Without --pdfs, vellum converts every presentation under CORPUS
(*.ppt?, sub-folders too, two workers) into a temporary folder, or into --keep DIR, and its PDFs are
measured; with --pdfs an existing folder of PDFs is measured instead, so that figures before and after a
change come from this one script. A PDF is found through the run log ("Success => deck => pdf": LOGFILE of
the run, by default DIR/run.log or DIR/../run.log), else at the deck's path below DIR with ".pdf".

What it counts, per corpus:

1. Characters in the deck's own or a metric-compatible font. bench_deckfonts (built with the benchmarks)
   reads each deck through the office: the text of every slide that is not hidden (its shapes, groups,
   table cells and the master's shapes other than placeholders), with the font each run asks for, for Latin,
   East Asian and complex script (a character takes the font of its script; digits, punctuation and blanks
   the script of the letter before them). The PDF's characters with their fonts come from pdftohtml -xml.
   Each run's text is found on its PDF page (letter case and blanks aside), longest runs first; the PDF
   characters found so get the run's requested font. The share is of those attributed characters: the
   same family, or a metric-compatible one (the pairs the program itself uses, src/conversion/dvFonts.cpp:
   Carlito for Calibri and Calibri Light, Caladea for Cambria, Liberation Sans for Arial and Helvetica,
   Liberation Sans Narrow for Arial Narrow, Liberation Serif for Times New Roman and Times, Liberation Mono
   for Courier New and Courier; OpenSymbol for the symbol fonts the office recodes to it). Characters of the
   PDF that no run explains (bullets, numbering, fields, charts) are counted apart and left out.
2. Characters without a glyph: PDF characters set in a font whose character set, as fontconfig lists it
   on this machine, lacks them; the office then draws an empty box although the text layer has the
   character. Blanks and private-use code points (symbol fonts) are not judged.
3. Characters outside the page: pdftotext of the PDF against pdftotext of a copy whose page boxes are
   grown by 3000 points on each side (the whole canvas); poppler leaves out what lies off the page.
4. PDFs with comment annotations (/Subtype /Text).
5. With --against: PDFs whose page count or text differ from those of the other folder. The text is the
   characters of the whole canvas in any order, so that text that now wraps or fits differently counts as
   the same, without blanks, direction marks and hyphens (hyphenation adds them where lines break).
6. With a run log: PDFs whose line names stand-in fonts.
"""
import argparse
import collections
import glob
import html
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unicodedata

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# The metric-compatible families, as in src/conversion/dvFonts.cpp.
METRIC_FAMILIES = [
    ["Calibri", "Calibri Light", "Carlito"],
    ["Cambria", "Caladea"],
    ["Arial", "Helvetica", "Liberation Sans", "Arimo", "Albany", "Albany AMT", "Nimbus Sans", "Nimbus Sans L"],
    ["Arial Narrow", "Helvetica Narrow", "Liberation Sans Narrow", "Nimbus Sans Narrow"],
    ["Times New Roman", "Times", "Liberation Serif", "Tinos", "Thorndale", "Thorndale AMT", "Nimbus Roman",
     "Nimbus Roman No9 L"],
    ["Courier New", "Courier", "Liberation Mono", "Cousine", "Cumberland", "Cumberland AMT", "Nimbus Mono",
     "Nimbus Mono L", "Nimbus Mono PS"],
    ["Symbol", "MT Symbol", "Wingdings", "Wingdings 2", "Wingdings 3", "Webdings", "Monotype Sorts",
     "MT Extra", "StarSymbol", "StarBats", "StarMath", "OpenSymbol"],
]


def key(name):
    return re.sub(r"[\s]", "", name).lower()


METRIC_CLASS = {key(n): i for i, names in enumerate(METRIC_FAMILIES) for n in names}


def compatible(requested, used):
    a, b = key(requested), key(used)
    return a == b or (a in METRIC_CLASS and METRIC_CLASS[a] == METRIC_CLASS.get(b))


# ---- fonts of this machine ----------------------------------------------------------------------------------

class Fonts:
    """Fontconfig's fonts: PostScript names and families, with the characters each has."""

    def __init__(self):
        out = subprocess.run(["fc-list", "--format", "%{postscriptname}\t%{family}\t%{charset}\n"],
                             capture_output=True, text=True).stdout
        self.by_ps, self.by_family, self.family_of = {}, {}, {}
        for line in out.splitlines():
            parts = line.split("\t")
            if len(parts) != 3:
                continue
            ps, families, charset = parts
            ranges = []
            for r in charset.split():
                lo, _, hi = r.partition("-")
                ranges.append((int(lo, 16), int(hi or lo, 16)))
            family = families.split(",")[0]
            # The office may embed a face without the hyphen of its PostScript name ("NimbusRomanRegular").
            for k, table in ((key(ps), self.by_ps), (key(ps).replace("-", ""), self.by_ps),
                             (key(family), self.by_family)):
                table.setdefault(k, []).extend(ranges)
            self.family_of[key(ps)] = family
            self.family_of[key(ps).replace("-", "")] = family
            self.family_of.setdefault(key(family), family)

    def resolve(self, pdf_name):
        """(family, ranges or None) of a font as a PDF names it: "BAAAAA+LiberationSerif-Bold"."""
        name = pdf_name.split("+", 1)[-1]
        if key(name) in self.by_ps:
            return self.family_of[key(name)], self.by_ps[key(name)]
        parts = name.split("-")
        for n in range(len(parts), 0, -1):
            k = key("-".join(parts[:n]))
            if k in self.by_ps:
                return self.family_of[k], self.by_ps[k]
        k = key(parts[0])
        if k in self.by_family:
            return self.family_of[k], self.by_family[k]
        # A face named otherwise than fontconfig names it ("C059BoldItalic" for "C059-BdIta"): the longest
        # family its name begins with.
        k = key(name).replace("-", "")
        stems = [f for f in self.by_family if len(f) >= 4 and k.startswith(f.replace("-", ""))]
        if stems:
            best = max(stems, key=len)
            return self.family_of[best], self.by_family[best]
        k = key(parts[0])
        # Not on this machine: its family by the look of its name ("LiberationSans" for "Liberation Sans").
        for family in self.family_of.values():
            if key(family) == k:
                return family, None
        return parts[0], None


def has_char(ranges, code):
    return any(lo <= code <= hi for lo, hi in ranges)


# ---- scripts ------------------------------------------------------------------------------------------------

ASIAN = [(0x1100, 0x11FF), (0x2E80, 0x2FDF), (0x3000, 0x30FF), (0x3100, 0x31FF), (0x3200, 0x33FF),
         (0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xA960, 0xA97F), (0xAC00, 0xD7FF), (0xF900, 0xFAFF),
         (0xFE30, 0xFE4F), (0xFF00, 0xFFEF), (0x20000, 0x2FFFF)]
COMPLEX = [(0x0590, 0x08FF), (0x0900, 0x0DFF), (0x0E00, 0x0FFF), (0x1000, 0x109F), (0x1780, 0x17FF),
           (0xFB1D, 0xFDFF), (0xFE70, 0xFEFF)]


def script(ch):
    """0 Latin, 1 East Asian, 2 complex, None for a character that takes its neighbour's."""
    code = ord(ch)
    if any(lo <= code <= hi for lo, hi in ASIAN):
        return 1
    if any(lo <= code <= hi for lo, hi in COMPLEX):
        return 2
    return 0 if unicodedata.category(ch)[0] in "LM" else None


def fold(ch):
    low = ch.lower()
    return low if len(low) == 1 else ch


def run_chars(text, fonts):
    """(character, requested font) of a run's text without blanks."""
    scripts = [script(c) for c in text]
    last = next((s for s in scripts if s is not None), 0)
    out = []
    for c, s in zip(text, scripts):
        if s is None:
            s = last
        last = s
        if not c.isspace() and c != "\u00ad":
            out.append((fold(c), fonts[s] or fonts[0]))
    return out


# ---- the PDFs -----------------------------------------------------------------------------------------------

def grown_copy(pdf, dest, margin=3000):
    """A copy whose page boxes take in the whole canvas around each page."""
    with open(pdf, "rb") as f:
        data = f.read()

    def grow(m):
        try:
            x0, y0, x1, y1 = (float(v) for v in m.group(2).split())
        except ValueError:
            return m.group(0)
        return m.group(1) + b"[%g %g %g %g]" % (x0 - margin, y0 - margin, x1 + margin, y1 + margin)

    with open(dest, "wb") as f:
        f.write(re.sub(rb"(/(?:MediaBox|CropBox)\s*)\[([-0-9. ]+)\]", grow, data))


def text_chars(pdf):
    out = subprocess.run(["pdftotext", "-q", pdf, "-"], capture_output=True).stdout.decode("utf-8", "replace")
    return [c for c in out if not c.isspace()]


def content_chars(chars):
    """The characters that say what the text is: without the direction marks of right-to-left text and the
    hyphens that hyphenation puts at the ends of lines, both of which follow where lines break."""
    return collections.Counter(c for c in chars if c != "-" and unicodedata.category(c) != "Cf")


def page_count(pdf):
    out = subprocess.run(["pdfinfo", pdf], capture_output=True).stdout.decode("utf-8", "replace")
    m = re.search(r"^Pages:\s+(\d+)", out, re.M)
    return int(m.group(1)) if m else -1


TEXT_RE = re.compile(r'<text [^>]*font="(\d+)"[^>]*>(.*?)</text>', re.S)
FONT_RE = re.compile(r'<fontspec id="(\d+)"[^>]*family="([^"]*)"')
PAGE_RE = re.compile(r'<page number="(\d+)"')


def pdf_pages(pdf):
    """Per page: [(character, PDF font name)] without blanks, from pdftohtml."""
    xml = subprocess.run(["pdftohtml", "-xml", "-i", "-q", "-stdout", "-nodrm", pdf],
                         capture_output=True).stdout.decode("utf-8", "replace")
    fonts, pages = {}, []
    for line in xml.splitlines():
        if PAGE_RE.match(line):
            pages.append([])
        for fid, family in FONT_RE.findall(line):
            fonts[fid] = html.unescape(family)
        for fid, content in TEXT_RE.findall(line):
            text = html.unescape(re.sub(r"<[^>]*>", "", content))
            if pages:
                pages[-1].extend((c, fonts.get(fid, "?")) for c in text if not c.isspace())
    return pages


def has_comments(pdf):
    with open(pdf, "rb") as f:
        return re.search(rb"/Subtype\s*/Text\b", f.read()) is not None


# ---- decks --------------------------------------------------------------------------------------------------

def deck_fonts(tool, decks, cache_file):
    """Each deck's slides as bench_deckfonts reads them, cached by path, size and time."""
    cache = {}
    if os.path.exists(cache_file):
        with open(cache_file, encoding="utf-8") as f:
            cache = json.load(f)

    def stamp(path):
        st = os.stat(path)
        return f"{st.st_size}:{int(st.st_mtime)}"

    missing = [d for d in decks if cache.get(d, {}).get("stamp") != stamp(d)]
    if missing:
        if not os.path.exists(tool):
            sys.exit(f"{tool} is missing: build the benchmarks (cmake --build build --target bench_deckfonts)")
        print(f"reading {len(missing)} decks through the office ...", file=sys.stderr)
        out = subprocess.run([tool] + missing, capture_output=True, text=True, timeout=7200).stdout
        for line in out.splitlines():
            try:
                entry = json.loads(line)
            except ValueError:
                continue
            entry["stamp"] = stamp(entry["deck"])
            cache[entry["deck"]] = entry
        os.makedirs(os.path.dirname(cache_file), exist_ok=True)
        with open(cache_file, "w", encoding="utf-8") as f:
            json.dump(cache, f)
    return {d: cache.get(d, {"error": "not read"}) for d in decks}


def read_log(log):
    """deck -> (state word, result) from a run log."""
    entries = {}
    if log and os.path.exists(log):
        with open(log, encoding="utf-8", errors="replace") as f:
            for line in f:
                parts = line.rstrip("\r\n").split(" => ", 2)
                if len(parts) == 3:
                    entries[parts[1]] = (parts[0], parts[2])
    return entries


def pdf_of(deck, corpus, folder, log_entries):
    """The PDF of a deck in a folder, and the note its log line adds (or None)."""
    if deck in log_entries:
        state, result = log_entries[deck]
        if state != "Success":
            return None, None
        m = re.match(r"(.*?\.pdf)(?: \((.*)\))?$", result)
        if m:
            path = m.group(1)
            # The folder may have moved since the run: the same place below it.
            if not os.path.exists(path):
                path = os.path.join(folder, os.path.relpath(os.path.splitext(deck)[0], corpus) + ".pdf")
            return (path if os.path.exists(path) else None), m.group(2)
    path = os.path.join(folder, os.path.relpath(os.path.splitext(deck)[0], corpus) + ".pdf")
    return (path if os.path.exists(path) else None), None


def default_log(folder):
    for candidate in (os.path.join(folder, "run.log"), os.path.join(os.path.dirname(folder.rstrip("/")), "run.log")):
        if os.path.exists(candidate):
            return candidate
    return None


# ---- measuring ----------------------------------------------------------------------------------------------

def attribute(pages, slides):
    """[(requested, PDF font, character)] for the PDF characters that the deck's runs explain, and the
    number of PDF characters left over."""
    visible = [s for s in slides if not s.get("hidden")]
    if len(visible) == len(pages):
        pairs = list(zip(pages, visible))
    else:
        pairs = [([c for p in pages for c in p], {"runs": [r for s in visible for r in s["runs"]]})]
    found, left = [], 0
    for page, slide in pairs:
        text = "".join(fold(c) for c, _ in page)
        used = bytearray(len(text))
        runs = [run_chars(r[0], r[1:4]) for r in slide["runs"]]
        for run in sorted(runs, key=len, reverse=True):
            if not run:
                continue
            # Right-to-left text comes out of the PDF in the order it is drawn.
            rtl = any(unicodedata.bidirectional(c) in ("R", "AL") for c, _ in run)
            for candidate in ([run, run[::-1]] if rtl else [run]):
                needle = "".join(c for c, _ in candidate)
                start, at = 0, -1
                while True:
                    at = text.find(needle, start)
                    if at < 0 or not any(used[at:at + len(needle)]):
                        break
                    start = at + 1
                if at >= 0:
                    for i, (_, requested) in enumerate(candidate):
                        used[at + i] = 1
                        found.append((requested, page[at + i][1], text[at + i]))
                    break
        left += used.count(0)
    return found, left


def measure(corpus, folder, log, against, against_log, tool, cache):
    decks = sorted(d for d in glob.glob(os.path.join(corpus, "**", "*.ppt*"), recursive=True)
                   if re.search(r"\.ppt[xm]?$", d, re.I))
    fonts = Fonts()
    entries = read_log(log)
    other_entries = read_log(against_log)
    read = deck_fonts(tool, decks, cache)
    tally = collections.Counter()
    by_font = collections.defaultdict(collections.Counter)
    no_glyph, off_page, comments, notes, changed_pages, changed_text = {}, {}, [], [], [], []
    measured = 0
    work = tempfile.mkdtemp(prefix="fidelity-")
    try:
        for deck in decks:
            pdf, note = pdf_of(deck, corpus, folder, entries)
            if not pdf:
                continue
            measured += 1
            if note and "not installed" in note:
                notes.append((deck, note))
            grown = os.path.join(work, "grown.pdf")
            grown_copy(pdf, grown)
            canvas = text_chars(grown)
            outside = len(canvas) - len(text_chars(pdf))
            if outside > 0:
                off_page[deck] = outside
            if has_comments(pdf):
                comments.append(deck)
            pages = pdf_pages(grown)
            missing = 0
            for page in pages:
                for c, font in page:
                    if 0xE000 <= ord(c) <= 0xF8FF:
                        continue
                    _, ranges = fonts.resolve(font)
                    if ranges is not None and not has_char(ranges, ord(c)):
                        missing += 1
            if missing:
                no_glyph[deck] = missing
            entry = read.get(deck, {})
            if "slides" in entry:
                found, left = attribute(pages, entry["slides"])
                tally["left"] += left
                for requested, pdf_font, _ in found:
                    family, _ = fonts.resolve(pdf_font)
                    good = compatible(requested, family)
                    tally["good" if good else "bad"] += 1
                    by_font[requested][family] += 1
            else:
                tally["left"] += sum(len(p) for p in pages)
            if against:
                other, _ = pdf_of(deck, corpus, against, other_entries)
                if other:
                    if page_count(other) != page_count(pdf):
                        changed_pages.append(deck)
                    grown_other = os.path.join(work, "other.pdf")
                    grown_copy(other, grown_other)
                    difference = content_chars(canvas)
                    difference.subtract(content_chars(text_chars(grown_other)))
                    delta = sum(abs(v) for v in difference.values())
                    if delta:
                        changed_text.append((deck, delta))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    rel = lambda d: os.path.relpath(d, corpus)
    attributed = tally["good"] + tally["bad"]
    print(f"{corpus}: {len(decks)} presentations, {measured} PDFs measured in {folder}")
    share = 100.0 * tally["good"] / attributed if attributed else 0.0
    print(f"  characters in the deck's own or a metric-compatible font: {share:.1f} % "
          f"({tally['good']} of {attributed} attributed; {tally['left']} PDF characters no run explains)")
    print(f"  decks with characters without a glyph: {len(no_glyph)} ({sum(no_glyph.values())} characters)"
          + "".join(f"\n    {rel(d)}: {n}" for d, n in sorted(no_glyph.items())))
    print(f"  characters outside the page: {sum(off_page.values())} in {len(off_page)} PDFs"
          + "".join(f"\n    {rel(d)}: {n}" for d, n in sorted(off_page.items(), key=lambda x: -x[1])))
    print(f"  PDFs with comment annotations: {len(comments)}" + "".join(f"\n    {rel(d)}" for d in comments))
    if log:
        print(f"  PDFs whose log line names stand-in fonts: {len(notes)}")
    if against:
        print(f"  against {against}: {len(changed_pages)} PDFs with another page count, "
              f"{len(changed_text)} with other text" + "".join(f"\n    pages: {rel(d)}" for d in changed_pages)
              + "".join(f"\n    text: {rel(d)} ({n} characters)" for d, n in changed_text))
    print("  requested fonts by characters (set in: share):")
    totals = sorted(by_font.items(), key=lambda kv: -sum(kv[1].values()))
    for requested, used in totals[:40]:
        n = sum(used.values())
        good = sum(v for f, v in used.items() if compatible(requested, f))
        sets = ", ".join(f"{f} {100.0 * v / n:.0f} %" for f, v in used.most_common(3))
        mark = "" if good == n else "  <- stand-in" if good == 0 else f"  <- {n - good} in a stand-in"
        print(f"    {requested or '(none)'}: {n} ({sets}){mark}")
    return share, len(no_glyph), sum(off_page.values()), len(comments)


def convert(vellum, corpus, target):
    log = os.path.join(target, "run.log")
    options = (f"-P:Source={corpus}/*.ppt?;Subdir=True;Target={target};PureConsole=True;ThreadsCount=2;"
               f"LogFile={log}")
    subprocess.run([vellum, options], stdout=subprocess.DEVNULL, timeout=7200, check=True)
    return log


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("corpus", nargs="?", default=os.path.join(ROOT, "..", "shared", "corpus"))
    parser.add_argument("--vellum", default=os.path.join(ROOT, "build", "vellum"))
    parser.add_argument("--keep", help="convert into this folder and keep the PDFs")
    parser.add_argument("--pdfs", help="measure this folder of PDFs instead of converting")
    parser.add_argument("--log", help="the run log of --pdfs (default DIR/run.log or DIR/../run.log)")
    parser.add_argument("--against", help="a folder of PDFs of the same decks to compare pages and text with")
    parser.add_argument("--against-log", help="the run log of --against")
    parser.add_argument("--deckfonts", default=os.path.join(ROOT, "build", "bench", "bench_deckfonts"))
    parser.add_argument("--cache", default=os.path.join(ROOT, "build", "bench-fidelity", "decks.json"))
    args = parser.parse_args()
    corpus = os.path.abspath(args.corpus)
    against = os.path.abspath(args.against) if args.against else None
    against_log = args.against_log or (default_log(against) if against else None)
    if args.pdfs:
        folder = os.path.abspath(args.pdfs)
        measure(corpus, folder, args.log or default_log(folder), against, against_log, args.deckfonts,
                args.cache)
        return
    folder = os.path.abspath(args.keep) if args.keep else tempfile.mkdtemp(prefix="fidelity-pdf-")
    try:
        log = convert(args.vellum, corpus, folder)
        measure(corpus, folder, log, against, against_log, args.deckfonts, args.cache)
    finally:
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
