#!/usr/bin/python3
"""Times our decoder and the reference tool on each benchmark picture and
prints the ratios (ours / theirs; below 1 means faster)."""
import os
import subprocess
import sys
import time

bindir, work = sys.argv[1], sys.argv[2]
RUNS = 5


def f(name):
    return os.path.join(work, name)


def ours(type_, name, frame=0, runs=RUNS):
    out = subprocess.run([os.path.join(bindir, "raster_bench"), str(type_), f(name), str(runs),
                          str(frame)], check=True, stdout=subprocess.PIPE, text=True).stdout
    return float(out)


def tool(*args, runs=RUNS):
    best = 1e9
    for _ in range(runs):
        t0 = time.perf_counter()
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        best = min(best, time.perf_counter() - t0)
    return best


def line(what, a, b, ref):
    print("%-44s ours %8.1f ms  %-22s %8.1f ms  ratio %.2f" % (what, a * 1e3, ref, b * 1e3, a / b))


jpg = ours(3, "big.jpg")
djpeg = tool("/usr/bin/djpeg", "-dct", "float", "-outfile", "/dev/null", f("big.jpg"))
line("JPEG 6000x4000 (float DCT)", jpg, djpeg, "djpeg -dct float")

png = ours(4, "big.png")
simple = float(subprocess.run([os.path.join(bindir, "png_simple_bench"), f("big.png"), str(RUNS)],
                              check=True, stdout=subprocess.PIPE, text=True).stdout)
line("PNG 4000x3000 RGB", png, simple, "libpng simplified API")

tif = ours(6, "big.tif")
t2r = tool("/usr/bin/tiff2rgba", "-c", "none", f("big.tif"), f("out.tif"))
line("TIFF 4000x3000 RGB LZW", tif, t2r, "tiff2rgba")

g0 = ours(2, "anim.gif", 0)
glast = ours(2, "anim.gif", 299)
gone = ours(2, "one.gif", 0)
g2r = tool("/usr/bin/gif2rgb", "-1", "-o", f("out.rgb"), f("anim.gif"))
line("GIF 300 frames 320x240, frame 0", g0, g2r, "gif2rgb (all frames)")
line("GIF 300 frames 320x240, frame 299", glast, g2r, "gif2rgb (all frames)")
line("GIF frame 0 of 300 vs a one-frame file", g0, gone, "one-frame GIF")

bmp = ours(1, "big.bmp")
size = os.path.getsize(f("big.bmp"))
print("%-44s ours %8.1f ms  (%.0f MB/s)" % ("BMP 6000x4000 24-bit", bmp * 1e3, size / bmp / 1e6))
