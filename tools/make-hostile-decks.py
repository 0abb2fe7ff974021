#!/usr/bin/env python3
"""Makes decks of the kind strangers send, from one of the sample decks, for the office tests:

    python3 tools/make-hostile-decks.py OUT-FOLDER [--base samples/quarterly-review.pptx]
                                        [--link http://127.0.0.1:8000/x] [--file-picture /path/secret.png]

Written into OUT-FOLDER:
  linked-picture.pptx      a picture on slide 1 that is only a link to LINK/picture.png
  linked-background.pptx   a background of slide 2 that is only a link to LINK/background.png
  linked-ole.pptx          an object on slide 3 linked to LINK/sheet.xlsx, updated automatically
  file-picture.pptx        a picture on slide 1 linked to the local file given
  memory-bomb.pptx         a deck of under 2 MB whose pictures take gigabytes once decoded
  huge-picture.pptx        a 40000x40000 picture (too large for the office) on slide 1
  doctype-slide.pptx       slide 2 carries a DOCTYPE, which the office's parser refuses
Each keeps the base deck's three slides and their text.
"""
import argparse
import os
import struct
import sys
import zipfile
import zlib

R = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"


def png(width, height, color=0, channels=1):
    """A PNG of one colour (grey, or RGBA with 4 channels), written row by row so that a huge one costs
    little memory here."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    compressor = zlib.compressobj(9)
    row = b"\0" + bytes([color]) * (width * channels)
    parts = [compressor.compress(row) for _ in range(height)]
    parts.append(compressor.flush())
    data = b"".join(parts)
    header = struct.pack(">IIBBBBB", width, height, 8, 6 if channels == 4 else 0, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", data) + chunk(b"IEND", b"")


def picture(rel, attribute, shape_id, x=5000000, y=3800000):
    return (f'<p:pic><p:nvPicPr><p:cNvPr id="{shape_id}" name="Picture {shape_id}"/><p:cNvPicPr/><p:nvPr/>'
            f'</p:nvPicPr><p:blipFill><a:blip {attribute}="{rel}"/><a:stretch><a:fillRect/></a:stretch>'
            f'</p:blipFill><p:spPr><a:xfrm><a:off x="{x}" y="{y}"/><a:ext cx="2000000" cy="1500000"/></a:xfrm>'
            f'<a:prstGeom prst="rect"><a:avLst/></a:prstGeom></p:spPr></p:pic>')


def relationship(rel, kind, target, external):
    mode = ' TargetMode="External"' if external else ""
    return f'<Relationship Id="{rel}" Type="{R}/{kind}" Target="{target}"{mode}/>'


class Deck:
    def __init__(self, base):
        with zipfile.ZipFile(base) as z:
            self.parts = {name: z.read(name) for name in z.namelist()}

    def text(self, name):
        return self.parts[name].decode("utf-8")

    def add_shape(self, slide, xml):
        name = f"ppt/slides/slide{slide}.xml"
        self.parts[name] = self.text(name).replace("</p:spTree>", xml + "</p:spTree>", 1).encode("utf-8")

    def add_relationship(self, slide, xml):
        name = f"ppt/slides/_rels/slide{slide}.xml.rels"
        self.parts[name] = self.text(name).replace("</Relationships>", xml + "</Relationships>", 1).encode()

    def add_media(self, name, data):
        self.parts["ppt/media/" + name] = data
        types = self.text("[Content_Types].xml")
        if 'Extension="png"' not in types:
            types = types.replace("<Default ", '<Default Extension="png" ContentType="image/png"/><Default ', 1)
        self.parts["[Content_Types].xml"] = types.encode("utf-8")

    def write(self, path):
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
            for name, data in self.parts.items():
                z.writestr(name, data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--base", default=os.path.join(here, "..", "samples", "quarterly-review.pptx"))
    parser.add_argument("--link", default="http://127.0.0.1:9/")
    parser.add_argument("--file-picture", default="/etc/vellum-no-such-picture.png")
    parser.add_argument("--only", default="", help="the decks to make, by name without .pptx, comma-separated")
    args = parser.parse_args()
    wanted = set(filter(None, args.only.split(",")))

    def want(name):
        return not wanted or name in wanted
    os.makedirs(args.out, exist_ok=True)
    link = args.link.rstrip("/")

    if want("linked-picture"):
        deck = Deck(args.base)
        deck.add_shape(1, picture("rIdLink1", "r:link", 200))
        deck.add_relationship(1, relationship("rIdLink1", "image", link + "/picture.png", True))
        deck.write(os.path.join(args.out, "linked-picture.pptx"))

    if want("linked-background"):
        deck = Deck(args.base)
        name = "ppt/slides/slide2.xml"
        deck.parts[name] = deck.text(name).replace(
            "<p:cSld>", '<p:cSld><p:bg><p:bgPr><a:blipFill><a:blip r:link="rIdLink2"/><a:stretch><a:fillRect/>'
            '</a:stretch></a:blipFill><a:effectLst/></p:bgPr></p:bg>', 1).encode("utf-8")
        deck.add_relationship(2, relationship("rIdLink2", "image", link + "/background.png", True))
        deck.write(os.path.join(args.out, "linked-background.pptx"))

    if want("linked-ole"):
        deck = Deck(args.base)
        deck.add_shape(3, '<p:graphicFrame><p:nvGraphicFramePr><p:cNvPr id="201" name="Object 1"/>'
                          '<p:cNvGraphicFramePr/><p:nvPr/></p:nvGraphicFramePr><p:xfrm><a:off x="5000000" y="3800000"/>'
                          '<a:ext cx="2000000" cy="1500000"/></p:xfrm><a:graphic><a:graphicData '
                          'uri="http://schemas.openxmlformats.org/presentationml/2006/ole"><p:oleObj name="Sheet" '
                          'r:id="rIdLink3" imgW="2000000" imgH="1500000" progId="Excel.Sheet.12">'
                          '<p:link updateAutomatic="1"/></p:oleObj></a:graphicData></a:graphic></p:graphicFrame>')
        deck.add_relationship(3, relationship("rIdLink3", "oleObject", link + "/sheet.xlsx", True))
        deck.write(os.path.join(args.out, "linked-ole.pptx"))

    if want("file-picture"):
        deck = Deck(args.base)
        deck.add_shape(1, picture("rIdLink4", "r:link", 202))
        target = "file://" + os.path.abspath(args.file_picture)
        deck.add_relationship(1, relationship("rIdLink4", "image", target, True))
        deck.write(os.path.join(args.out, "file-picture.pptx"))

    # Pictures that decode to a gigabyte each, on every slide: the deck stays small, the office does not.
    if want("memory-bomb"):
        deck = Deck(args.base)
        deck.add_media("bomb.png", png(16000, 16000, 0, 4))
        for slide in (1, 2, 3):
            for i in range(3):
                deck.add_shape(slide, picture("rIdBomb", "r:embed", 300 + i, 1000000 + i * 2500000, 4000000))
            deck.add_relationship(slide, relationship("rIdBomb", "image", "../media/bomb.png", False))
        deck.write(os.path.join(args.out, "memory-bomb.pptx"))

    if want("huge-picture"):
        deck = Deck(args.base)
        deck.add_media("huge.png", png(40000, 40000, 200))
        deck.add_shape(1, picture("rIdHuge", "r:embed", 400))
        deck.add_relationship(1, relationship("rIdHuge", "image", "../media/huge.png", False))
        deck.write(os.path.join(args.out, "huge-picture.pptx"))

    if want("doctype-slide"):
        deck = Deck(args.base)
        name = "ppt/slides/slide2.xml"
        text = deck.text(name)
        declaration_end = text.index("?>") + 2
        deck.parts[name] = (text[:declaration_end] + '<!DOCTYPE p:sld [<!ENTITY who "nobody">]>' +
                            text[declaration_end:]).encode("utf-8")
        deck.write(os.path.join(args.out, "doctype-slide.pptx"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
