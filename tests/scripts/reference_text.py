#!/usr/bin/python3
"""reference_text.py FONT PPEM TEXT OUT.png [--unshaped]

Renders TEXT in FONT at PPEM pixels per em, white on black, with Pillow:
through libraqm (FriBidi and HarfBuzz: shaped and in display order), or
with --unshaped through Pillow's basic layout (each code's own glyph, in
the order typed). The display's rendering of the same text is compared
with both; exits 2 when Pillow or its raqm layout is missing."""
import sys

try:
    from PIL import Image, ImageDraw, ImageFont, features
except ImportError:
    sys.exit(2)


def main():
    font, ppem, text, out = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    unshaped = "--unshaped" in sys.argv[5:]
    if not unshaped and not features.check("raqm"):
        sys.exit(2)
    layout = ImageFont.Layout.BASIC if unshaped else ImageFont.Layout.RAQM
    f = ImageFont.truetype(font, size=ppem, layout_engine=layout)
    img = Image.new("L", (ppem * (len(text) + 4), ppem * 3), 0)
    ImageDraw.Draw(img).text((ppem, ppem), text, font=f, fill=255)
    img.convert("RGBA").save(out)


main()
