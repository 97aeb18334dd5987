#!/usr/bin/env bash
# Encode times of the image library against cjpeg, pnmtopng and pnmtotiff on
# a 24-megapixel picture, and the times of the transformations, measured in
# the same run. usage: bench/raster/run_encode.sh [BUILD_DIR]   (default: build)
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$src/build}
cmake --build "$build" --target raster_encode_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$work" <<'PY'
import random, sys
from PIL import Image, ImageFilter
w, h = 6000, 4000
rnd = random.Random(3)
small = Image.new("RGB", (w // 40, h // 40))
small.putdata([(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) for _ in range(small.width * small.height)])
im = small.resize((w, h), Image.Resampling.BICUBIC)
noise = Image.effect_noise((w, h), 12).convert("RGB")
im = Image.blend(im, noise, 0.15)
im.save(sys.argv[1] + "/photo.ppm")
im.save(sys.argv[1] + "/photo.bmp")
PY
/usr/bin/python3 - "$build/bin" "$work" <<'PY'
import os, subprocess, sys, time
bindir, work = sys.argv[1], sys.argv[2]
RUNS = 3
def ours(op):
    out = subprocess.run([os.path.join(bindir, "raster_encode_bench"), os.path.join(work, "photo.bmp"), str(RUNS), op],
                         check=True, stdout=subprocess.PIPE, text=True).stdout
    return float(out)
def tool(cmd):
    best = 1e9
    for _ in range(RUNS):
        t0 = time.perf_counter()
        subprocess.run(cmd, shell=True, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        best = min(best, time.perf_counter() - t0)
    return best
ppm = os.path.join(work, "photo.ppm")
print("encoder (24 MP)       ours s   tool s   ratio (ours/tool)")
for op, cmd in [("jpeg", "cjpeg -quality 75 %s" % ppm), ("png", "pnmtopng %s" % ppm),
                ("tiff-lzw", "pnmtotiff -lzw %s" % ppm), ("tiff-packbits", "pnmtotiff -packbits %s" % ppm)]:
    a, b = ours(op), tool(cmd)
    print("%-20s %8.3f %8.3f   %.2f" % (op, a, b, a / b))
print("transformation (24 MP)   ours s")
for op in ["bmp", "gif", "rotate30", "rotate180", "resample-box", "resample-bicubic", "resample-bilinear",
           "decrease8", "dither", "grey", "deskew"]:
    print("%-20s %8.3f" % (op, ours(op)))
PY
