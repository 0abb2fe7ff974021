#!/usr/bin/env python3
"""Turns the help text (the small subset of Markdown it is written in: headings, paragraphs, lists of "- "
lines and blocks indented by four blanks) into one HTML page that any browser shows, light or dark.

Usage: help2html.py help.md help.html
"""
import re
import sys
from html import escape

STYLE = """
:root { color-scheme: light dark; }
body { font-family: sans-serif; line-height: 1.5; max-width: 50em; margin: 2em auto; padding: 0 1em; }
h1 { color: #0055ff; }
h2 { margin-top: 1.6em; border-bottom: 1px solid #8884; }
pre { background: #8882; padding: 0.6em; overflow-x: auto; }
nav ul { columns: 2; }
"""


def anchor(title):
    return re.sub(r"[^a-z0-9]+", "-", title.lower()).strip("-")


def convert(lines):
    body, toc = [], []
    paragraph, items, block = [], [], []

    def flush():
        if paragraph:
            body.append("<p>%s</p>" % escape(" ".join(paragraph)))
            paragraph.clear()
        if items:
            body.append("<ul>\n%s\n</ul>" % "\n".join("<li>%s</li>" % escape(i) for i in items))
            items.clear()
        if block:
            body.append("<pre>%s</pre>" % escape("\n".join(block)))
            block.clear()

    title = "Help"
    for line in lines:
        line = line.rstrip("\n")
        if line.startswith("    ") and not items:
            if paragraph:
                flush()
            block.append(line[4:])
            continue
        if block and line.strip():
            flush()
        heading = re.match(r"^(#{1,3}) (.*)$", line)
        if heading:
            flush()
            level, text = len(heading.group(1)), heading.group(2).strip()
            if level == 1:
                title = text
                body.append("<h1>%s</h1>" % escape(text))
            else:
                toc.append(text)
                body.append('<h%d id="%s">%s</h%d>' % (level, anchor(text), escape(text), level))
        elif line.startswith("- "):
            if paragraph:
                flush()
            items.append(line[2:].strip())
        elif not line.strip():
            flush()
        elif items and line.startswith("  "):
            items[-1] += " " + line.strip()
        else:
            if items:
                flush()
            paragraph.append(line.strip())
    flush()
    nav = "<nav><ul>\n%s\n</ul></nav>" % "\n".join(
        '<li><a href="#%s">%s</a></li>' % (anchor(t), escape(t)) for t in toc)
    if body and body[0].startswith("<h1>"):
        body.insert(1, nav)
    return ("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>%s</title>\n<style>%s</style>\n</head>\n<body>\n%s\n</body>\n</html>\n"
            % (escape(title), STYLE, "\n".join(body)))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as f:
        html = convert(f.readlines())
    # Written whole: a build stopped halfway leaves the old page, never half a new one.
    temp = sys.argv[2] + ".part"
    with open(temp, "w", encoding="utf-8") as f:
        f.write(html)
    import os
    os.replace(temp, sys.argv[2])


if __name__ == "__main__":
    main()
