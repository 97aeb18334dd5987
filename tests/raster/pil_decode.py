#!/usr/bin/python3
"""Decodes files written by the encoders with PIL, independently of our own
decoders: for each FILE writes FILE.N.ref per frame ("W H 3\\n" + RGB pixels,
top row first, frames composited as a viewer shows them) and FILE.frames.

usage: pil_decode.py FILE...
"""
import sys

from PIL import Image

for name in sys.argv[1:]:
    try:
        frames = getattr(Image.open(name), "n_frames", 1)
        for i in range(frames):
            # A fresh open per frame: PIL 9 carries a palette over from the
            # pages it counted into the first page of a TIFF.
            im = Image.open(name)
            im.seek(i)
            rgb = im.convert("RGB")
            with open("%s.%d.ref" % (name, i), "wb") as f:
                f.write(b"%d %d 3\n" % rgb.size)
                f.write(rgb.tobytes())
        with open(name + ".frames", "w") as f:
            f.write("%d\n" % frames)
    except Exception as e:  # the test reports the missing reference
        sys.stderr.write("%s: %s\n" % (name, e))
