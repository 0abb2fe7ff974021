#!/usr/bin/env python3
"""Makes the sample decks under samples/ for the demo and the office tests, and the decks of the office
tests' font and comment checks under tests/data/.

Each deck is written as flat ODP text (slides with a title, bullet points and speaker notes, in named
fonts), then converted once by LibreOffice into PowerPoint formats. The results are committed, so a build
needs no office to have them:

    python3 tools/make-samples.py [samples-folder] [--tests tests/data] [--photo-tool build/bench/bench_photo]
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

# (name, format, fonts, slides): the fonts are those of current Office themes and of older decks, so that the
# demo's PDFs show the metric-compatible fonts the set-up installs.
DECKS = [
    ("quarterly-review", "pptx", {"title": "Calibri Light", "body": "Calibri"}, [
        ("Quarterly review", ["Revenue up 12 percent", "Two new regional offices", "Hiring on plan"],
         "Welcome everyone and thank the finance team for the figures."),
        ("Customers", ["Churn below 3 percent", "Net promoter score 61"],
         "Mention the retail pilot before the numbers."),
        ("Next quarter", ["Launch the partner portal", "Close the audit findings"],
         "Ask for questions about the portal timeline."),
    ]),
    ("field-trip", "ppt", {"title": "Arial", "body": "Times New Roman"}, [
        ("Field trip to the observatory", ["Bus leaves at 8:30", "Bring a packed lunch"],
         "Remind parents to sign the consent form."),
        ("Programme", ["Planetarium show", "Telescope tour", "Back by 16:00"],
         "The telescope tour depends on the weather."),
    ]),
    ("release-notes", "pptx", {"title": "Cambria", "body": "Arial"}, [
        ("Release 4.2", ["Faster start-up", "Dark theme", "Fixed printing on A5"],
         "Start with the start-up numbers from the benchmark."),
        ("Upgrading", ["Back up your settings", "Run the installer"],
         "Settings from 3.x are migrated automatically."),
    ]),
]

# The office tests' decks, written to tests/data: (name, fonts, slides, comment). Each asks for fonts a user's
# deck asks for: the Office fonts the set-up's packages match, East Asian text, a company font that no
# package has, and a reviewer's comment that must not reach a PDF unless asked for.
TEST_DECKS = [
    ("fonts-office", {"title": "Calibri Light", "body": "Calibri"}, [
        ("Calibri Light heading", ["Calibri body text", "Second point"], "Notes in Calibri."),
    ], None),
    ("fonts-liberation", {"title": "Arial", "body": "Times New Roman", "code": "Courier New"}, [
        ("Arial heading", ["Times New Roman body"], "Notes."),
    ], None),
    ("fonts-cjk", {"title": "Calibri", "body": "Calibri", "asian": "MS Gothic"}, [
        ("\u56db\u534a\u671f\u306e\u5831\u544a", ["\u58f2\u4e0a\u306f\u5341\u4e8c\u30d1\u30fc\u30bb\u30f3\u30c8\u5897",
                                                "\u65b0\u3057\u3044\u4e8b\u52d9\u6240"], "Notes."),
    ], None),
    ("fonts-company", {"title": "Calibri", "body": "Acme Corporate Sans"}, [
        ("Brand heading", ["Body text in the company font"], "Notes."),
    ], None),
    ("review-comment", {"title": "Calibri", "body": "Calibri"}, [
        ("Draft for the customer", ["Prices as agreed", "Delivery in May"], "Notes."),
    ], "Internal: do not promise May before legal signs off"),
]

NS = (' xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"'
      ' xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"'
      ' xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"'
      ' xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"'
      ' xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"'
      ' xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"'
      ' xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0"')


# The fonts of the photo decks: the body font of current Office themes.
PHOTO_FONTS = {"title": "Calibri Light", "body": "Calibri"}


def font_faces(fonts):
    names = sorted(set(fonts.values()))
    return ("<office:font-face-decls>"
            + "".join(f'<style:font-face style:name="{escape(n)}" svg:font-family="&apos;{escape(n)}&apos;"/>'
                      for n in names)
            + "</office:font-face-decls>")


def paragraph_styles(fonts):
    """The paragraph styles of the frames: title, body, notes and code, each in its font; East Asian text
    in the asian font when the deck has one."""
    def style(name, size, font):
        asian = fonts.get("asian")
        extra = (f' style:font-name-asian="{escape(asian)}" style:font-size-asian="{size}pt"' if asian else "")
        return (f'<style:style style:name="{name}" style:family="paragraph"><style:text-properties'
                f' fo:font-size="{size}pt" style:font-name="{escape(font)}"{extra}/></style:style>')
    return (style("PT", 40, fonts["title"]) + style("PB", 28, fonts["body"]) + style("PN", 14, fonts["body"])
            + style("PC", 20, fonts.get("code", fonts["body"])))


def frame(cls, x, y, w, h, paragraphs, style):
    body = "".join(f'<text:p text:style-name="{style}">{escape(p)}</text:p>' for p in paragraphs)
    kind = f'presentation:class="{cls}" ' if cls else ""
    return (f'<draw:frame {kind}svg:x="{x}cm" svg:y="{y}cm" svg:width="{w}cm"'
            f' svg:height="{h}cm"><draw:text-box>{body}</draw:text-box></draw:frame>')


def comment_xml(text):
    """A reviewer's comment on a slide, as the office keeps it."""
    return ('<officeooo:annotation svg:x="20cm" svg:y="1cm" svg:width="0.6cm" svg:height="0.6cm">'
            '<dc:creator>Reviewer</dc:creator><dc:date>2026-01-05T10:00:00</dc:date>'
            f'<text:p>{escape(text)}</text:p></officeooo:annotation>')


def document(fonts, pages, page_size, extra_ns="", styles="", page_styles=""):
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document{NS}{extra_ns} office:version="1.3"'
            ' office:mimetype="application/vnd.oasis.opendocument.presentation">'
            f'{font_faces(fonts)}{styles}'
            f'<office:automatic-styles>{paragraph_styles(fonts)}{page_styles}'
            f'<style:page-layout style:name="PM1"><style:page-layout-properties fo:page-width="{page_size[0]}cm"'
            f' fo:page-height="{page_size[1]}cm" style:print-orientation="landscape"/></style:page-layout>'
            '</office:automatic-styles>'
            '<office:master-styles><style:master-page style:name="Default" style:page-layout-name="PM1"/>'
            '</office:master-styles>'
            f'<office:body><office:presentation>{"".join(pages)}</office:presentation></office:body>'
            '</office:document>\n')


def fodp(slides, fonts, comment=None):
    pages = []
    for i, (title, bullets, notes) in enumerate(slides, 1):
        pages.append(
            f'<draw:page draw:name="slide{i}" draw:master-page-name="Default">'
            + frame("title", 1.5, 1, 25, 3, [title], "PT")
            + frame("outline", 1.5, 5, 25, 7, ["\u2022 " + b for b in bullets], "PB")
            + (frame(None, 1.5, 12.5, 25, 2, ["total = sum(sales)"], "PC") if "code" in fonts else "")
            + (comment_xml(comment) if comment else "")
            + '<presentation:notes>' + frame("notes", 2, 14, 17, 12, [notes], "PN") + '</presentation:notes>'
            + '</draw:page>')
    return document(fonts, pages, (28, 15.75),
                    extra_ns=' xmlns:dc="http://purl.org/dc/elements/1.1/"'
                             ' xmlns:officeooo="http://openoffice.org/2009/office"')


def photo_fodp(slides, photo):
    """A 10 x 7.5 inch deck whose every slide has the photo as its stretched background."""
    with open(photo, "rb") as f:
        data = base64.b64encode(f.read()).decode("ascii")
    pages = []
    for i, (title, bullets) in enumerate(slides, 1):
        pages.append(
            f'<draw:page draw:name="slide{i}" draw:style-name="dp1" draw:master-page-name="Default">'
            + frame("title", 1.5, 1, 22, 3, [title], "PT")
            + frame("outline", 1.5, 5, 22, 12, ["\u2022 " + b for b in bullets], "PB")
            + '</draw:page>')
    return document(PHOTO_FONTS, pages, (25.4, 19.05), extra_ns=' xmlns:xlink="http://www.w3.org/1999/xlink"',
                    styles='<office:styles><draw:fill-image draw:name="Photo">'
                           f'<office:binary-data>{data}</office:binary-data></draw:fill-image></office:styles>',
                    page_styles='<style:style style:name="dp1" style:family="drawing-page">'
                                '<style:drawing-page-properties draw:fill="bitmap" draw:fill-image-name="Photo"'
                                ' style:repeat="stretch" draw:background-size="full"/></style:style>')


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


def deck(work, profile, name, kind, text, out):
    source = os.path.join(work, name + ".fodp")
    with open(source, "w", encoding="utf-8") as f:
        f.write(text)
    shutil.copy(convert(work, profile, source, kind), os.path.join(out, f"{name}.{kind}"))
    print(f"{out}/{name}.{kind}")


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
    parser.add_argument("--tests", default=os.path.join(os.path.dirname(__file__), "..", "tests", "data"),
                        help="folder of the office tests' decks (default tests/data)")
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
        for name, kind, fonts, slides in DECKS:
            deck(work, profile, name, kind, fodp(slides, fonts), out)
        tests = os.path.abspath(args.tests)
        os.makedirs(tests, exist_ok=True)
        for name, fonts, slides, comment in TEST_DECKS:
            deck(work, profile, name, "pptx", fodp(slides, fonts, comment), tests)
        if args.photo_tool:
            photo_deck(work, profile, args.photo_tool, "photo-album", 2, (1600, 1200), 1, out)


if __name__ == "__main__":
    main()
