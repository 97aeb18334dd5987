#!/usr/bin/python3
"""Source pictures and PIL's results of the same transformations, for the
transformation tests. Every file is "W H 3\\n" + RGB pixels, top row first.

usage: make_transform_refs.py OUTDIR
"""
import os
import random
import sys

from PIL import Image, ImageDraw, ImageOps

OUT = sys.argv[1]
os.makedirs(OUT, exist_ok=True)


def save(name, im):
    im = im.convert("RGB")
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(b"%d %d 3\n" % im.size)
        f.write(im.tobytes())


rnd = random.Random(7)
src = Image.new("RGB", (37, 24))
src.putdata([(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) for _ in range(37 * 24)])
save("src.ref", src)
save("rot180.ref", src.transpose(Image.Transpose.ROTATE_180))
save("rot90cw.ref", src.transpose(Image.Transpose.ROTATE_270))
save("rot90ccw.ref", src.transpose(Image.Transpose.ROTATE_90))
save("crop.ref", src.crop((5, 3, 30, 20)))
save("invert.ref", ImageOps.invert(src))
save("up3.ref", src.resize((37 * 3, 24 * 3), Image.Resampling.NEAREST))
save("reduce4x3.ref", src.crop((0, 0, 36, 24)).reduce((4, 3)))

# A smooth picture for the free rotation: edges between neighbours differ
# little, so a pixel picked one place off still compares close.
smooth = Image.new("RGB", (60, 40))
smooth.putdata([(x * 4, y * 6, (x + y) * 2) for y in range(40) for x in range(60)])
save("smooth.ref", smooth)
save("smooth_rot30.ref", smooth.rotate(-30, Image.Resampling.NEAREST, expand=True))

# Lines of text-like dashes, turned 2 degrees counter-clockwise by PIL.
page = Image.new("L", (400, 300), 255)
d = ImageDraw.Draw(page)
for y in range(20, 280, 16):
    x = 20
    while x < 380:
        w = rnd.randrange(8, 30)
        d.rectangle((x, y, min(380, x + w), y + 5), fill=0)
        x += w + rnd.randrange(4, 10)
save("page.ref", page)
save("page_ccw2.ref", page.rotate(2, Image.Resampling.BILINEAR, expand=False, fillcolor=255))
save("page_cw2.ref", page.rotate(-2, Image.Resampling.BILINEAR, expand=False, fillcolor=255))
