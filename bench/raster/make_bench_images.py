#!/usr/bin/python3
"""Makes the benchmark pictures in the folder given: a 24-megapixel JPEG, a
large PNG, TIFF and BMP, and a 300-frame animated GIF plus its first frame
alone."""
import os
import subprocess
import sys

from PIL import Image

out = sys.argv[1]


def picture(w, h):
    # Smooth areas and detail, like a photograph, without being slow to make.
    m = Image.effect_mandelbrot((w, h), (-2.2, -1.2, 1.0, 1.2), 64)
    g = Image.linear_gradient("L").resize((w, h))
    n = Image.effect_noise((w, h), 40)
    return Image.merge("RGB", (m, g, n))


big = picture(6000, 4000)
big.save(os.path.join(out, "big.ppm"))
with open(os.path.join(out, "big.jpg"), "wb") as f:
    subprocess.run(["/usr/bin/cjpeg", "-quality", "90", os.path.join(out, "big.ppm")],
                   stdout=f, check=True)
os.remove(os.path.join(out, "big.ppm"))
big.save(os.path.join(out, "big.bmp"))
mid = big.crop((0, 0, 4000, 3000))
mid.save(os.path.join(out, "big.png"), compress_level=6)
mid.save(os.path.join(out, "big.tif"), compression="tiff_lzw")

frames = []
for k in range(300):
    frames.append(picture(320, 240).rotate(k * 1.2).quantize(256))
frames[0].save(os.path.join(out, "anim.gif"), save_all=True, append_images=frames[1:],
               duration=40, optimize=False)
frames[0].save(os.path.join(out, "one.gif"))
