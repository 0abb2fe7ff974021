#!/usr/bin/env python3
"""Makes the sample decks under samples/ for the demo and the office tests.

Each deck is written as flat ODP text (slides with a title, bullet points and speaker notes), then
converted once by LibreOffice into PowerPoint formats. The results are committed, so a build needs no
office to have them:

    python3 tools/make-samples.py [samples-folder] [--photo-tool build/bench/bench_photo]
    python3 tools/make-samples.py --heavy build/bench-decks --photo-tool build/bench/bench_photo

With the photo tool (built with the benchmarks) the samples gain photo-album.pptx: a small deck with a
1600x1200 photo as the background of each 10-inch slide (160 ppi), for the image tests. --heavy writes the
image-heavy benchmark set instead: decks whose every slide has a 3072x2373 photo as its background (over
300 ppi, so the office's default export resamples it on every page), and one giant deck. That set is
large and is made into the build tree, never committed.
"""
import argparse
import base64
import os
import shutil
import subprocess
import sys
import tempfile
from xml.sax.saxutils import escape

DECKS = [
    ("quarterly-review", "pptx", [
        ("Quarterly review", ["Revenue up 12 percent", "Two new regional offices", "Hiring on plan"],
         "Welcome everyone and thank the finance team for the figures."),
        ("Customers", ["Churn below 3 percent", "Net promoter score 61"],
         "Mention the retail pilot before the numbers."),
        ("Next quarter", ["Launch the partner portal", "Close the audit findings"],
         "Ask for questions about the portal timeline."),
    ]),
    ("field-trip", "ppt", [
        ("Field trip to the observatory", ["Bus leaves at 8:30", "Bring a packed lunch"],
         "Remind parents to sign the consent form."),
        ("Programme", ["Planetarium show", "Telescope tour", "Back by 16:00"],
         "The telescope tour depends on the weather."),
    ]),
    ("release-notes", "pptx", [
        ("Release 4.2", ["Faster start-up", "Dark theme", "Fixed printing on A5"],
         "Start with the start-up numbers from the benchmark."),
        ("Upgrading", ["Back up your settings", "Run the installer"],
         "Settings from 3.x are migrated automatically."),
    ]),
]

NS = (' xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"'
      ' xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"'
      ' xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"'
      ' xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"'
      ' xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"'
      ' xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"'
      ' xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0"')


# The paragraph styles of the three text sizes the frames use.
PARAGRAPH_STYLES = "".join(
    f'<style:style style:name="P{s}" style:family="paragraph">'
    f'<style:text-properties fo:font-size="{s}pt" style:font-name="DejaVu Sans"/></style:style>'
    for s in (40, 28, 14))


def frame(cls, x, y, w, h, paragraphs, size):
    body = "".join(f'<text:p text:style-name="P{size}">{escape(p)}</text:p>' for p in paragraphs)
    return (f'<draw:frame presentation:class="{cls}" svg:x="{x}cm" svg:y="{y}cm" svg:width="{w}cm"'
            f' svg:height="{h}cm"><draw:text-box>{body}</draw:text-box></draw:frame>')


def fodp(slides):
    pages = []
    for i, (title, bullets, notes) in enumerate(slides, 1):
        pages.append(
            f'<draw:page draw:name="slide{i}" draw:master-page-name="Default">'
            + frame("title", 1.5, 1, 25, 3, [title], 40)
            + frame("outline", 1.5, 5, 25, 9, ["\u2022 " + b for b in bullets], 28)
            + '<presentation:notes>' + frame("notes", 2, 14, 17, 12, [notes], 14) + '</presentation:notes>'
            + '</draw:page>')
    styles = PARAGRAPH_STYLES
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document{NS} office:version="1.3"'
            f' office:mimetype="application/vnd.oasis.opendocument.presentation">'
            f'<office:automatic-styles>{styles}'
            '<style:page-layout style:name="PM1"><style:page-layout-properties fo:page-width="28cm"'
            ' fo:page-height="15.75cm" style:print-orientation="landscape"/></style:page-layout>'
            '</office:automatic-styles>'
            '<office:master-styles><style:master-page style:name="Default" style:page-layout-name="PM1"/>'
            '</office:master-styles>'
            f'<office:body><office:presentation>{"".join(pages)}</office:presentation></office:body>'
            '</office:document>\n')


def photo_fodp(slides, photo):
    """A 10 x 7.5 inch deck whose every slide has the photo as its stretched background."""
    with open(photo, "rb") as f:
        data = base64.b64encode(f.read()).decode("ascii")
    pages = []
    for i, (title, bullets) in enumerate(slides, 1):
        pages.append(
            f'<draw:page draw:name="slide{i}" draw:style-name="dp1" draw:master-page-name="Default">'
            + frame("title", 1.5, 1, 22, 3, [title], 40)
            + frame("outline", 1.5, 5, 22, 12, ["\u2022 " + b for b in bullets], 28)
            + '</draw:page>')
    styles = PARAGRAPH_STYLES
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document{NS}'
            ' xmlns:xlink="http://www.w3.org/1999/xlink" office:version="1.3"'
            ' office:mimetype="application/vnd.oasis.opendocument.presentation">'
            '<office:styles><draw:fill-image draw:name="Photo">'
            f'<office:binary-data>{data}</office:binary-data></draw:fill-image></office:styles>'
            f'<office:automatic-styles>{styles}'
            '<style:style style:name="dp1" style:family="drawing-page"><style:drawing-page-properties'
            ' draw:fill="bitmap" draw:fill-image-name="Photo" style:repeat="stretch"'
            ' draw:background-size="full"/></style:style>'
            '<style:page-layout style:name="PM1"><style:page-layout-properties fo:page-width="25.4cm"'
            ' fo:page-height="19.05cm" style:print-orientation="landscape"/></style:page-layout>'
            '</office:automatic-styles>'
            '<office:master-styles><style:master-page style:name="Default" style:page-layout-name="PM1"/>'
            '</office:master-styles>'
            f'<office:body><office:presentation>{"".join(pages)}</office:presentation></office:body>'
            '</office:document>\n')


def photo_slides(topic, count):
    return [(f"{topic} {i}", [f"Site {i} survey", f"Sample {i * 7 % 31} taken", "Weather clear"])
            for i in range(1, count + 1)]


# The benchmark's image-heavy set: (name, slides, photo seed). The giant deck is listed last by name, so
# a listing-order hand-out would start it last.
HEAVY = [("album-harbour", 10, 2), ("album-orchard", 10, 3), ("album-quarry", 10, 4), ("zz-expedition", 40, 5)]


def convert(work, profile, source, kind):
    filters = {"pptx": "pptx:Impress MS PowerPoint 2007 XML", "ppt": "ppt:MS PowerPoint 97"}
    # A private profile and a new process group: nothing of a running office is touched.
    subprocess.run(["soffice", "-env:UserInstallation=file://" + profile, "--headless",
                    "--norestore", "--convert-to", filters[kind], "--outdir", work, source],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   start_new_session=True, timeout=600)
    return os.path.join(work, os.path.splitext(os.path.basename(source))[0] + "." + kind)


def photo_deck(work, profile, tool, name, slides, size, seed, out):
    photo = os.path.join(work, f"{name}.jpg")
    subprocess.run([tool, photo, str(size[0]), str(size[1]), str(seed)], check=True)
    source = os.path.join(work, name + ".fodp")
    with open(source, "w", encoding="utf-8") as f:
        f.write(photo_fodp(photo_slides(name.split("-")[-1].capitalize(), slides), photo))
    shutil.copy(convert(work, profile, source, "pptx"), os.path.join(out, name + ".pptx"))
    print(f"{out}/{name}.pptx: {slides} slides, {size[0]}x{size[1]} photo background")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder", nargs="?", default=os.path.join(os.path.dirname(__file__), "..", "samples"))
    parser.add_argument("--photo-tool", help="bench_photo from the build, for the photo decks")
    parser.add_argument("--heavy", help="write the image-heavy benchmark set to this folder instead")
    args = parser.parse_args()
    if args.heavy and not args.photo_tool:
        sys.exit("--heavy needs --photo-tool")
    out = os.path.abspath(args.heavy or args.folder)
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        profile = os.path.join(work, "profile")
        if args.heavy:
            for name, slides, seed in HEAVY:
                photo_deck(work, profile, args.photo_tool, name, slides, (3072, 2373), seed, out)
            return
        for name, kind, slides in DECKS:
            source = os.path.join(work, name + ".fodp")
            with open(source, "w", encoding="utf-8") as f:
                f.write(fodp(slides))
            shutil.copy(convert(work, profile, source, kind), os.path.join(out, f"{name}.{kind}"))
            print(f"{out}/{name}.{kind}: {len(slides)} slides")
        if args.photo_tool:
            photo_deck(work, profile, args.photo_tool, "photo-album", 2, (1600, 1200), 1, out)


if __name__ == "__main__":
    main()
