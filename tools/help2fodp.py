#!/usr/bin/env python3
"""Turns the help text (a small subset of Markdown) into a flat OpenDocument presentation of A4 pages,
so that the program can convert its own help to PDF like any other deck.

Usage: help2fodp.py help.md help.fodp
"""
import sys
import textwrap
from xml.sax.saxutils import escape

HEAD = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">
<office:styles>
 <style:style style:name="standard" style:family="graphic">
  <style:graphic-properties draw:stroke="none" draw:fill="none"/>
 </style:style>
</office:styles>
<office:automatic-styles>
 <style:page-layout style:name="A4">
  <style:page-layout-properties fo:page-width="21cm" fo:page-height="29.7cm" fo:margin-top="0cm"
   fo:margin-bottom="0cm" fo:margin-left="0cm" fo:margin-right="0cm" style:print-orientation="portrait"/>
 </style:page-layout>
 <style:style style:name="frame" style:family="graphic" style:parent-style-name="standard">
  <style:graphic-properties draw:stroke="none" draw:fill="none" draw:textarea-vertical-align="top"
   draw:auto-grow-height="false" fo:padding="0cm"/>
 </style:style>
 <style:style style:name="P" style:family="paragraph">
  <style:paragraph-properties fo:margin-bottom="0.15cm"/>
  <style:text-properties fo:font-family="'DejaVu Sans'" fo:font-size="10pt"/>
 </style:style>
 <style:style style:name="T" style:family="paragraph">
  <style:paragraph-properties fo:margin-bottom="0.4cm"/>
  <style:text-properties fo:font-family="'DejaVu Sans'" fo:font-size="20pt" fo:font-weight="bold" fo:color="#0055ff"/>
 </style:style>
 <style:style style:name="H" style:family="paragraph">
  <style:paragraph-properties fo:margin-top="0.3cm" fo:margin-bottom="0.2cm"/>
  <style:text-properties fo:font-family="'DejaVu Sans'" fo:font-size="14pt" fo:font-weight="bold"/>
 </style:style>
 <style:style style:name="C" style:family="paragraph">
  <style:paragraph-properties fo:margin-left="0.8cm" fo:margin-bottom="0cm"/>
  <style:text-properties fo:font-family="'DejaVu Sans Mono'" fo:font-size="8pt"/>
 </style:style>
 <style:style style:name="I" style:family="paragraph">
  <style:paragraph-properties fo:margin-left="0.6cm" fo:text-indent="-0.4cm" fo:margin-bottom="0.1cm"/>
  <style:text-properties fo:font-family="'DejaVu Sans'" fo:font-size="10pt"/>
 </style:style>
</office:automatic-styles>
<office:master-styles>
 <style:master-page style:name="Help" style:page-layout-name="A4"/>
</office:master-styles>
<office:body><office:presentation>
"""
TAIL = "</office:presentation></office:body></office:document>\n"

# What fits on one page, in lines of 10 pt text about 95 characters wide.
PAGE_LINES = 62
WIDTH = {"P": 95, "I": 90, "C": 120, "H": 60, "T": 40}
HEIGHT = {"P": 1.25, "I": 1.15, "C": 1.0, "H": 2.6, "T": 4.0}


def blocks(source):
    paragraph = []
    with open(source, encoding="utf-8") as f:
        for raw in f:
            line = raw.rstrip("\n")
            kind = None
            if line.startswith("    "):
                kind, text = "C", line[4:]
            elif line.startswith("# "):
                kind, text = "T", line[2:]
            elif line.startswith("## "):
                kind, text = "H", line[3:]
            elif line.startswith("- "):
                kind, text = "I", "\u2022 " + line[2:]
            if kind or not line.strip():
                if paragraph:
                    yield "P", " ".join(paragraph)
                    paragraph = []
                if kind:
                    yield kind, text
            else:
                paragraph.append(line.strip())
    if paragraph:
        yield "P", " ".join(paragraph)


def cost(kind, text):
    lines = max(1, len(textwrap.wrap(text, WIDTH[kind]) or [""]))
    return lines * HEIGHT[kind]


def main(source, target):
    pages, page, used = [], [], 0.0
    for kind, text in blocks(source):
        c = cost(kind, text)
        # A heading never ends a page.
        need = c + (3 if kind == "H" else 0)
        if page and used + need > PAGE_LINES:
            pages.append(page)
            page, used = [], 0.0
        page.append((kind, text))
        used += c
    if page:
        pages.append(page)

    out = [HEAD]
    for n, content in enumerate(pages, 1):
        out.append('<draw:page draw:name="page%d" draw:master-page-name="Help">\n' % n)
        out.append('<draw:frame draw:style-name="frame" svg:x="1.8cm" svg:y="1.6cm" svg:width="17.4cm" '
                   'svg:height="26.5cm"><draw:text-box>\n')
        for kind, text in content:
            out.append('<text:p text:style-name="%s">%s</text:p>\n' % (kind, escape(text)))
        out.append("</draw:text-box></draw:frame></draw:page>\n")
    out.append(TAIL)
    with open(target, "w", encoding="utf-8") as f:
        f.write("".join(out))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
