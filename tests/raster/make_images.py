#!/usr/bin/python3
"""Makes the test images of the image library with Debian's tools, and for
each a reference decoding by an independent decoder (PIL, ImageMagick or
djpeg), plus a manifest the tests read.

usage: make_images.py OUTDIR

Manifest lines (tab-separated):
  name  type  frame  bpp  frames  tolerance  reference
type is the format code (1 BMP, 2 GIF, 3 JPEG, 4 PNG, 5 ICO, 6 TIFF); bpp and
frames are the expected depth and frame count (0: not checked); reference is
a file "W H C\\n" + pixels (C 3: RGB, C 4: RGBA, alpha 0 = not compared), or
FAIL when the decode must fail.
"""
import io
import os
import struct
import subprocess
import sys
import zlib

from PIL import Image

OUT = sys.argv[1]
IMG = os.path.join(OUT, "images")
REF = os.path.join(OUT, "refs")
CONVERT = "/usr/bin/convert"
manifest = []


def run(*args, **kw):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, **kw).stdout


def path(name):
    return os.path.join(IMG, name)


def write_ref(name, im):
    """Reference pixels from a PIL image (RGB or RGBA)."""
    if im.mode not in ("RGB", "RGBA"):
        im = im.convert("RGB")
    c = 4 if im.mode == "RGBA" else 3
    with open(os.path.join(REF, name + ".ref"), "wb") as f:
        f.write(b"%d %d %d\n" % (im.width, im.height, c))
        f.write(im.tobytes())
    return name + ".ref"


def add(name, type_, ref, bpp=0, frames=0, frame=0, tol=0):
    manifest.append("\t".join(str(v) for v in (name, type_, frame, bpp, frames, tol, ref)))


def pil_ref(name, frame=0):
    im = Image.open(path(name))
    if frame:
        im.seek(frame)
    return write_ref(name, im)


def magick_ref(name, frame=0, orient=False):
    extra = ["-auto-orient"] if orient else []
    data = run(CONVERT, "%s[%d]" % (path(name), frame), *extra, "-depth", "8", "ppm:-")
    return write_ref(name, Image.open(io.BytesIO(data)))


def tiff2rgba_ref(name):
    """libtiff's own RGBA reading: it scales a 16-bit colour map exactly as a
    division by 257."""
    out = path(name + ".rgba.tif")
    run("/usr/bin/tiff2rgba", "-c", "none", path(name), out)
    im = Image.open(out).convert("RGB")
    os.remove(out)
    return write_ref(name, im)


# Source pictures: deterministic, with odd sizes so that row padding matters.
W, H = 37, 23


def lcg(seed):
    while True:
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        yield seed >> 8


def rgb_source(w=W, h=H, seed=1):
    r = lcg(seed)
    px = bytearray()
    for y in range(h):
        for x in range(w):
            n = next(r)
            px += bytes(((x * 7 + (n & 15)) & 255, (y * 11 + (n >> 4 & 15)) & 255,
                         ((x + y) * 5 + (n >> 8 & 63)) & 255))
    return Image.frombytes("RGB", (w, h), bytes(px))


def palette_source(colours, w=W, h=H, seed=2):
    r = lcg(seed)
    im = Image.new("P", (w, h))
    pal = []
    for i in range(colours):
        pal += [(i * 67 + 13) & 255, (i * 151 + 7) & 255, (i * 29 + 101) & 255]
    im.putpalette(pal + [0] * (768 - len(pal)))
    im.putdata([next(r) % colours for _ in range(w * h)])
    return im


def grey_source(w=W, h=H, seed=3):
    r = lcg(seed)
    return Image.frombytes("L", (w, h), bytes((x * 7 + y * 3 + (next(r) & 31)) & 255
                                              for y in range(h) for x in range(w)))


os.makedirs(IMG, exist_ok=True)
os.makedirs(REF, exist_ok=True)
rgb = rgb_source()
grey = grey_source()
ppm = path("src.ppm")
rgb.save(ppm)
pgm = path("src.pgm")
grey.save(pgm)

# ---------------------------------------------------------------- PNG
rgb.save(path("rgb8.png"))
add("rgb8.png", 4, pil_ref("rgb8.png"), bpp=24)
grey.save(path("grey8.png"))
add("grey8.png", 4, pil_ref("grey8.png"), bpp=8)
grey.convert("1").save(path("grey1.png"))
add("grey1.png", 4, pil_ref("grey1.png"), bpp=1)
for bits, bpp in ((2, 4), (4, 4)):
    name = "grey%d.png" % bits
    run(CONVERT, pgm, "-depth", str(bits), "-define", "png:bit-depth=%d" % bits,
        "-define", "png:color-type=0", path(name))
    add(name, 4, pil_ref(name), bpp=bpp)
for colours, bits, bpp in ((2, 1, 1), (4, 2, 4), (16, 4, 4), (256, 8, 8)):
    name = "pal%d.png" % bits
    palette_source(colours).save(path(name), bits=bits)
    add(name, 4, pil_ref(name), bpp=bpp)
# 16-bit samples made from 8-bit ones (v * 257), so every decoder agrees on
# the 8-bit result.
run(CONVERT, ppm, "-depth", "16", path("rgb16.png"))
add("rgb16.png", 4, write_ref("rgb16.png", rgb), bpp=24)
run(CONVERT, pgm, "-depth", "16", path("grey16.png"))
add("grey16.png", 4, write_ref("grey16.png", grey), bpp=8)
rgba = rgb.copy()
rgba.putalpha(grey)
rgba.save(path("rgba.png"))
add("rgba.png", 4, write_ref("rgba.png", rgb), bpp=24)


def composite(fg, a, bg=192):
    t = fg * a + bg * (255 - a) + 128
    return ((t + (t >> 8)) >> 8) & 255


la = Image.merge("LA", (grey, grey.transpose(Image.Transpose.FLIP_LEFT_RIGHT)))
la.save(path("la8.png"))
g, a = la.split()
add("la8.png", 4, write_ref("la8.png", Image.frombytes(
    "L", la.size, bytes(composite(p, q) for p, q in zip(g.tobytes(), a.tobytes())))),
    bpp=8, tol=1)
for src, name in ((ppm, "rgb8i.png"), (pgm, "grey8i.png")):
    run(CONVERT, src, "-interlace", "PNG", path(name))
    add(name, 4, pil_ref(name))
palette_source(16).save(path("pal4-src.png"), bits=4)
run(CONVERT, path("pal4-src.png"), "-interlace", "PNG", path("pal8i.png"))
add("pal8i.png", 4, pil_ref("pal8i.png"), bpp=8)
# Grey with one transparent grey level: composited onto grey 192.
g2 = grey.copy()
g2.save(path("grey8trns.png"), transparency=grey.getpixel((0, 0)))
tv = grey.getpixel((0, 0))
add("grey8trns.png", 4, write_ref("grey8trns.png", Image.frombytes(
    "L", grey.size, bytes(192 if p == tv else p for p in grey.tobytes()))), bpp=8)
def png_chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body +
            struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


def grey_png(bits, samples, width, key):
    """A grey PNG of `bits` bits per sample with `key` as its transparent level."""
    rows = b""
    for y in range(len(samples) // width):
        acc, n, row = 0, 0, bytearray()
        for v in samples[y * width:(y + 1) * width]:
            if bits == 16:
                row += struct.pack(">H", v)
                continue
            acc, n = (acc << bits) | v, n + bits
            if n == 8:
                row.append(acc)
                acc, n = 0, 0
        if n:
            row.append(acc << (8 - n))
        rows += b"\0" + bytes(row)
    height = len(samples) // width
    return (b"\x89PNG\r\n\x1a\n" +
            png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, bits, 0, 0, 0, 0)) +
            png_chunk(b"tRNS", struct.pack(">H", key)) +
            png_chunk(b"IDAT", zlib.compress(rows)) + png_chunk(b"IEND", b""))


# Grey of every depth with a transparent level and no bKGD: the transparent
# pixels become grey 192, the others keep their level. 16-bit levels are
# v * 257, so the 8-bit result is exact.
for bits in (1, 2, 4, 16):
    top = (1 << bits) - 1 if bits < 16 else 255
    w, h = 13, 5
    levels = [(x * 3 + y * 5) % (top + 1) for y in range(h) for x in range(w)]
    key = levels[w + 2]
    scale = 257 if bits == 16 else 1
    name = "grey%dtrns.png" % bits
    with open(path(name), "wb") as f:
        f.write(grey_png(bits, [v * scale for v in levels], w, key * scale))
    ref = bytes(192 if v == key else v * 255 // top for v in levels)
    add(name, 4, write_ref(name, Image.frombytes("L", (w, h), ref)), bpp=8)
palette_source(16).save(path("trns1.png"), transparency=0, bits=4)
add("trns1.png", 4, pil_ref("trns1.png"), bpp=4)
palette_source(16).save(path("trnsN.png"), transparency=bytes((0, 128, 255, 7)), bits=4)
add("trnsN.png", 4, pil_ref("trnsN.png"), bpp=4)
rgb.save(path("dpi.png"), dpi=(96, 96))
add("dpi.png", 4, pil_ref("dpi.png"), bpp=24)
with open(path("rgb8.png"), "rb") as f:
    data = f.read()
with open(path("cut.png"), "wb") as f:
    f.write(data[:len(data) // 2])
add("cut.png", 4, "FAIL")
# A text chunk whose damaged length claims nearly 2 GiB in a small file.
with open(path("hugetext.png"), "wb") as f:
    f.write(data[:33] + struct.pack(">I", 0x7A000025) + b"tEXt" + b"date\0" + data[33:])
add("hugetext.png", 4, "FAIL")

# ---------------------------------------------------------------- BMP
rgb.save(path("rgb24.bmp"))
add("rgb24.bmp", 1, pil_ref("rgb24.bmp"), bpp=24)
palette_source(256).save(path("pal8.bmp"))
add("pal8.bmp", 1, pil_ref("pal8.bmp"), bpp=8)
palette_source(2).convert("1").save(path("bw1.bmp"))
add("bw1.bmp", 1, pil_ref("bw1.bmp"), bpp=1)
run(CONVERT, path("pal4-src.png"), "-type", "Palette", "BMP3:" + path("pal4.bmp"))
add("pal4.bmp", 1, pil_ref("pal4.bmp"), bpp=4)
run(CONVERT, path("pal8.bmp"), "-compress", "RLE", "BMP3:" + path("rle8.bmp"))
add("rle8.bmp", 1, pil_ref("rle8.bmp"), bpp=8)
run(CONVERT, path("pal8.bmp"), "BMP2:" + path("core8.bmp"))
add("core8.bmp", 1, pil_ref("core8.bmp"), bpp=8)
run(CONVERT, ppm, "BMP:" + path("v5rgb.bmp"))
add("v5rgb.bmp", 1, pil_ref("v5rgb.bmp"), bpp=24)

# Top-down: the same pixels with the height negated and the rows reversed.
with open(path("rgb24.bmp"), "rb") as f:
    bmp = bytearray(f.read())
off = struct.unpack_from("<I", bmp, 10)[0]
stride = (W * 3 + 3) & ~3
rows = [bmp[off + i * stride: off + (i + 1) * stride] for i in range(H)]
struct.pack_into("<i", bmp, 22, -H)
with open(path("topdown.bmp"), "wb") as f:
    f.write(bmp[:off] + b"".join(reversed(rows)))
add("topdown.bmp", 1, pil_ref("rgb24.bmp"), bpp=24)
os.rename(os.path.join(REF, "rgb24.bmp.ref"), os.path.join(REF, "topdown.bmp.ref"))
manifest[-1] = manifest[-1].replace("rgb24.bmp.ref", "topdown.bmp.ref")
write_ref("rgb24.bmp", Image.open(path("rgb24.bmp")))


def bmp_file(width, height, bpp, pixels, compression=0, masks=b"", palette=b""):
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, compression,
                       len(pixels), 2835, 2835, 0, 0)
    off = 14 + len(info) + len(masks) + len(palette)
    return (b"BM" + struct.pack("<IHHI", off + len(pixels), 0, 0, off) + info + masks +
            palette + pixels)


# 16-bit: 5-5-5 without masks and 5-6-5 with them; the reference keeps the
# top bits of each channel.
for name, comp, masks, shifts in (
        ("rgb555.bmp", 0, b"", (10, 5, 0, 5, 5, 5)),
        ("rgb565.bmp", 3, struct.pack("<III", 0xF800, 0x07E0, 0x001F), (11, 5, 0, 5, 6, 5))):
    rs, gs, bs, rn, gn, bn = shifts
    px = bytearray()
    ref = bytearray()
    for y in range(H - 1, -1, -1):
        row = bytearray()
        for x in range(W):
            r, g, b = rgb.getpixel((x, y))
            r >>= 8 - rn
            g >>= 8 - gn
            b >>= 8 - bn
            row += struct.pack("<H", (r << rs) | (g << gs) | (b << bs))
        px += row + b"\0" * ((-len(row)) % 4)
    for y in range(H):
        for x in range(W):
            r, g, b = rgb.getpixel((x, y))
            ref += bytes(((r >> (8 - rn)) << (8 - rn), (g >> (8 - gn)) << (8 - gn),
                          (b >> (8 - bn)) << (8 - bn)))
    with open(path(name), "wb") as f:
        f.write(bmp_file(W, H, 16, bytes(px), comp, masks))
    add(name, 1, write_ref(name, Image.frombytes("RGB", (W, H), bytes(ref))), bpp=24)

# RLE4 written by hand: runs that start on odd pixels and a delta of one
# pixel. Read as ImageMagick (and Windows) read them: a run's pixels take the
# high and low nibbles in turn from its first pixel, deltas count pixels.
grey16 = b"".join(bytes((i * 17, i * 17, i * 17, 0)) for i in range(16))
rle4 = bytes([3, 0x12, 2, 0x34, 0, 2, 1, 0, 1, 0x56, 0, 0,
              0, 3, 0x78, 0x90, 0, 3, 0xBC, 0xD0, 0, 0, 0, 1])
with open(path("rle4.bmp"), "wb") as f:
    f.write(bmp_file(8, 2, 4, rle4, 2, palette=grey16))
add("rle4.bmp", 1, magick_ref("rle4.bmp"), bpp=4)

px = bytearray()
for y in range(H - 1, -1, -1):
    for x in range(W):
        r, g, b = rgb.getpixel((x, y))
        px += bytes((b, g, r, 0))
with open(path("rgb32.bmp"), "wb") as f:
    f.write(bmp_file(W, H, 32, bytes(px)))
add("rgb32.bmp", 1, write_ref("rgb32.bmp", rgb), bpp=24)

# ---------------------------------------------------------------- ICO


def ico_entry_bmp(im, bpp, mask_rows):
    """One icon image: info header (height doubled), palette, XOR, AND."""
    w, h = im.size
    pal = b""
    if bpp <= 8:
        p = im.getpalette()[: 3 * (1 << bpp)]
        p += [0] * (3 * (1 << bpp) - len(p))
        pal = b"".join(bytes((p[3 * i + 2], p[3 * i + 1], p[3 * i], 0)) for i in range(1 << bpp))
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        if bpp == 32:
            row = b"".join(bytes((b, g, r, 255)) for r, g, b in
                           (im.getpixel((x, y)) for x in range(w)))
        elif bpp == 24:
            row = b"".join(bytes((b, g, r)) for r, g, b in (im.getpixel((x, y)) for x in range(w)))
        else:
            bits = 0
            row = bytearray()
            n = 0
            for x in range(w):
                bits = (bits << bpp) | im.getpixel((x, y))
                n += bpp
                if n == 8:
                    row.append(bits)
                    bits = n = 0
            if n:
                row.append(bits << (8 - n))
        xor += row + b"\0" * ((-len(row)) % 4)
    mstride = ((w + 31) // 32) * 4
    andm = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(mstride)
        for x in range(w):
            if mask_rows(x, y):
                row[x >> 3] |= 0x80 >> (x & 7)
        andm += row
    info = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bpp, 0, len(xor), 0, 0, 0, 0)
    return info + pal + bytes(xor) + bytes(andm)


def ico_file(entries):
    """entries: (width, height, colours, bpp, data)"""
    out = struct.pack("<HHH", 0, 1, len(entries))
    off = 6 + 16 * len(entries)
    blobs = b""
    for w, h, colours, bpp, data in entries:
        out += struct.pack("<BBBBHHII", w & 255, h & 255, colours & 255, 0, 1, bpp,
                           len(data), off + len(blobs))
        blobs += data
    return out + blobs


def ico_ref(im, mask):
    rgba = im.convert("RGBA")
    for y in range(im.height):
        for x in range(im.width):
            if mask(x, y):
                rgba.putpixel((x, y), (0, 0, 0, 0))
    return rgba


def corner(x, y):
    return x < 3 and y < 3


def nomask(x, y):
    return False


p16 = palette_source(3, 20, 20, seed=5)
p16.putpalette(palette_source(16).getpalette())
i4 = ico_entry_bmp(p16, 4, corner)
i8 = ico_entry_bmp(palette_source(256, 16, 16, seed=6), 8, nomask)
# Both colours used: the mask has no index to become, the pixels stay.
i1 = ico_entry_bmp(palette_source(2, 16, 16, seed=7), 1, corner)
rgb20 = rgb_source(20, 20, seed=8)
i24 = ico_entry_bmp(rgb20, 24, nomask)
i32 = ico_entry_bmp(rgb20, 32, nomask)
with open(path("multi.ico"), "wb") as f:
    f.write(ico_file([(20, 20, 16, 4, i4), (16, 16, 0, 8, i8), (16, 16, 2, 1, i1),
                      (20, 20, 0, 24, i24), (20, 20, 0, 32, i32)]))
add("multi.ico", 5, write_ref("multi.ico.0", ico_ref(p16, corner)), bpp=4, frames=5)
add("multi.ico", 5, write_ref("multi.ico.1", palette_source(256, 16, 16, seed=6)), bpp=8,
    frames=5, frame=1)
add("multi.ico", 5, write_ref("multi.ico.2", palette_source(2, 16, 16, seed=7)), bpp=1,
    frames=5, frame=2)
add("multi.ico", 5, write_ref("multi.ico.3", rgb20), bpp=24, frames=5, frame=3)
add("multi.ico", 5, write_ref("multi.ico.4", rgb20), bpp=24, frames=5, frame=4)
add("multi.ico", 5, "FAIL", frames=5, frame=5)
# A 256-pixel icon stores its size bytes as 0.
big = palette_source(16, 256, 256, seed=9)
with open(path("big.ico"), "wb") as f:
    f.write(ico_file([(256, 256, 16, 4, ico_entry_bmp(big, 4, nomask))]))
add("big.ico", 5, write_ref("big.ico", big), bpp=4, frames=1)
# An entry stored as PNG is refused cleanly.
buf = io.BytesIO()
rgb20.save(buf, "PNG")
with open(path("pngentry.ico"), "wb") as f:
    f.write(ico_file([(20, 20, 0, 32, buf.getvalue())]))
add("pngentry.ico", 5, "FAIL", frames=1)

# ---------------------------------------------------------------- GIF
for colours, bpp in ((2, 1), (16, 4), (256, 8)):
    name = "pal%d.gif" % colours
    palette_source(colours).save(path("src-" + name + ".png"))
    run(CONVERT, path("src-" + name + ".png"), "-colors", str(colours), "-interlace", "none",
        path(name))
    add(name, 2, pil_ref(name), bpp=bpp, frames=1)
big_src = palette_source(256, 61, 43, seed=11)
for name, mode in (("inter.gif", "GIF"), ("plain.gif", "none")):
    big_src.save(path("src-" + name + ".png"))
    run(CONVERT, path("src-" + name + ".png"), "-interlace", mode, path(name))
    add(name, 2, pil_ref(name), bpp=8, frames=1)
# Enough pixels to fill the 12-bit code table many times over, from both
# encoders.
noisy = palette_source(256, 300, 200, seed=12)
noisy.save(path("noisy-pil.gif"), optimize=False)
add("noisy-pil.gif", 2, pil_ref("noisy-pil.gif"), bpp=8, frames=1)
noisy.save(path("src-noisy.png"))
run(CONVERT, path("src-noisy.png"), path("noisy-im.gif"))
add("noisy-im.gif", 2, pil_ref("noisy-im.gif"), bpp=8, frames=1)
# Interlaced frames of one to five rows.
for rows in (1, 2, 3, 4, 5, 10):
    name = "inter%d.gif" % rows
    palette_source(256, 9, rows, seed=20 + rows).save(path("src-" + name + ".png"))
    run(CONVERT, path("src-" + name + ".png"), "-interlace", "GIF", path(name))
    add(name, 2, pil_ref(name), bpp=8, frames=1)
# Animation: full-size frames, a chosen frame decodes alone.
frames = [palette_source(256, 30, 20, seed=30 + k) for k in range(4)]
pal = frames[0].getpalette()
for fr in frames:
    fr.putpalette(pal)
frames[0].save(path("anim.gif"), save_all=True, append_images=frames[1:], duration=70,
               loop=3, optimize=False, disposal=0, comment=b"made for the tests")
for k in (0, 2, 3):
    add("anim.gif", 2, write_ref("anim.gif.%d" % k, frames[k]), bpp=8, frames=4, frame=k)
add("anim.gif", 2, "FAIL", frames=4, frame=4)
with open(path("pal256.gif"), "rb") as f:
    data = f.read()
with open(path("cut.gif"), "wb") as f:
    f.write(data[:len(data) * 2 // 3])

# ---------------------------------------------------------------- JPEG


def djpeg_ref(name):
    data = run("/usr/bin/djpeg", "-dct", "float", "-pnm", path(name))
    return write_ref(name, Image.open(io.BytesIO(data)))


for name, args, src, bpp in (("base.jpg", [], ppm, 24), ("prog.jpg", ["-progressive"], ppm, 24),
                             ("grey.jpg", [], pgm, 8), ("q30.jpg", ["-quality", "30"], ppm, 24),
                             ("h1v1.jpg", ["-sample", "1x1"], ppm, 24)):
    with open(path(name), "wb") as f:
        f.write(run("/usr/bin/cjpeg", *args, src))
    add(name, 3, djpeg_ref(name), bpp=bpp)
# EXIF written by PIL (big-endian); also kept raw as
# a seed for the EXIF reader's fuzz target.
exif = Image.Exif()
exif[0x010F] = "Maker"
exif[0x0112] = 6
exif[0x011A] = 300.0
exif[0x011B] = 300.0
exif[0x0128] = 2
rgb.save(path("exif.jpg"), exif=exif, quality=90)
add("exif.jpg", 3, djpeg_ref("exif.jpg"), bpp=24)
with open(path("exif.bin"), "wb") as f:
    f.write(exif.tobytes())
# Adobe CMYK: compared with PIL's own conversion, loosely.
Image.new("CMYK", (16, 8), (0, 255, 255, 0)).save(path("cmyk.jpg"), quality=95)
add("cmyk.jpg", 3, write_ref("cmyk.jpg", Image.new("RGB", (16, 8), (255, 0, 0))), bpp=24, tol=8)
with open(path("base.jpg"), "rb") as f:
    data = f.read()
with open(path("cutjpg.jpg"), "wb") as f:
    f.write(data[:len(data) - 200])

# ---------------------------------------------------------------- TIFF
rgb.save(path("rgb.tif"))
add("rgb.tif", 6, pil_ref("rgb.tif"), bpp=24, frames=1)
rgb.save(path("rgblzw.tif"), compression="tiff_lzw")
add("rgblzw.tif", 6, pil_ref("rgblzw.tif"), bpp=24, frames=1)
grey.save(path("grey.tif"), compression="tiff_deflate")
add("grey.tif", 6, pil_ref("grey.tif"), bpp=8, frames=1)
grey.convert("1").save(path("bw.tif"), compression="packbits")
add("bw.tif", 6, pil_ref("bw.tif"), bpp=1, frames=1)
run(CONVERT, path("bw.tif"), "-define", "quantum:polarity=min-is-white", path("bwwhite.tif"))
add("bwwhite.tif", 6, magick_ref("bwwhite.tif"), bpp=1, frames=1)
# ImageMagick writes the colour map as v * 257, the full 16-bit range.
palette_source(256).save(path("pal8-src.png"))
run(CONVERT, path("pal8-src.png"), "-type", "Palette", path("pal8.tif"))
add("pal8.tif", 6, tiff2rgba_ref("pal8.tif"), bpp=8, frames=1)
for bits, bpp in ((2, 8), (4, 4)):
    name = "grey%d.tif" % bits
    run(CONVERT, pgm, "-depth", str(bits), path(name))
    add(name, 6, magick_ref(name), bpp=bpp, frames=1)
run(CONVERT, path("pal4-src.png"), "-type", "Palette", "-depth", "4", path("pal4.tif"))
add("pal4.tif", 6, tiff2rgba_ref("pal4.tif"), frames=1)
run(CONVERT, pgm, "-depth", "16", path("grey16.tif"))
add("grey16.tif", 6, write_ref("grey16.tif", grey), bpp=8, frames=1)
run(CONVERT, ppm, "-depth", "16", path("rgb16.tif"))
add("rgb16.tif", 6, write_ref("rgb16.tif", rgb), bpp=24, frames=1)
# Tiled, the width not a multiple of the tile width.
for src, name, bpp in (("grey.tif", "greytiled.tif", 8), ("rgb.tif", "rgbtiled.tif", 24),
                       ("pal8.tif", "paltiled.tif", 8)):
    run("/usr/bin/tiffcp", "-t", "-w", "16", "-l", "16", path(src), path(name))
    add(name, 6, (tiff2rgba_ref if "pal" in name else magick_ref)(name), bpp=bpp, frames=1)
# Strips of a few rows.
run("/usr/bin/tiffcp", "-r", "5", path("grey.tif"), path("greystrips.tif"))
add("greystrips.tif", 6, pil_ref("greystrips.tif"), bpp=8, frames=1)
# Two pages, the second asked for.
rgb.save(path("pages.tif"), save_all=True, append_images=[rgb_source(19, 11, seed=40)])
add("pages.tif", 6, write_ref("pages.tif.1", rgb_source(19, 11, seed=40)), frames=2, frame=1)
add("pages.tif", 6, "FAIL", frames=2, frame=2)
# raw2tiff: 8-bit grey from raw bytes.
with open(path("raw.gray"), "wb") as f:
    f.write(grey.tobytes())
run("/usr/bin/raw2tiff", "-w", str(W), "-l", str(H), "-d", "byte", "-b", "1", "-p", "minisblack",
    path("raw.gray"), path("raw.tif"))
add("raw.tif", 6, write_ref("raw.tif", grey), bpp=8, frames=1)


def tiff_file(width, height, bps, photometric, data, colormap=None, spp=1):
    """A little-endian, uncompressed, one-strip TIFF written field by field."""
    tags = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, bps), (259, 3, 1, 1),
            (262, 3, 1, photometric), (273, 4, 1, 0), (277, 3, 1, spp), (278, 4, 1, height),
            (279, 4, 1, len(data))]
    if colormap:
        tags.append((320, 3, len(colormap), 0))
    ifd = 8
    extra = ifd + 2 + 12 * len(tags) + 4
    cmap = b"".join(struct.pack("<H", v) for v in colormap or [])
    strip = extra + len(cmap)
    out = bytearray(b"II*\0" + struct.pack("<I", ifd) + struct.pack("<H", len(tags)))
    for tag, typ, count, value in tags:
        if tag == 273:
            value = strip
        if tag == 320:
            value = extra
        out += struct.pack("<HHI", tag, typ, count)
        out += struct.pack("<HH", value, 0) if typ == 3 and count == 1 else struct.pack("<I", value)
    out += b"\0\0\0\0" + cmap + data
    return bytes(out)


def pack_rows(im, bps):
    out = bytearray()
    for y in range(im.height):
        bits = n = 0
        for x in range(im.width):
            bits = (bits << bps) | im.getpixel((x, y))
            n += bps
            if n == 8:
                out.append(bits)
                bits = n = 0
        if n:
            out.append(bits << (8 - n))
    return bytes(out)


# Palette pages of 1 and 2 bits: sub-byte samples become 8-bit indexes.
for bps in (1, 2):
    name = "palsub%d.tif" % bps
    src = palette_source(1 << bps, seed=50 + bps)
    p = src.getpalette()[: 3 << bps]
    cmap = [p[3 * i + c] * 257 for c in range(3) for i in range(1 << bps)]
    with open(path(name), "wb") as f:
        f.write(tiff_file(W, H, bps, 3, pack_rows(src, bps), cmap))
    add(name, 6, tiff2rgba_ref(name), bpp=8, frames=1)
# Grey with an extra (alpha) sample: the grey sample is the pixel.
la.save(path("la.tif"))
add("la.tif", 6, write_ref("la.tif", Image.open(path("la.tif")).getchannel(0)), bpp=8, frames=1)

# Orientation 1 to 8, on the grey, palette and colour paths.
for base, src in (("ogrey", "grey.tif"), ("orgb", "rgb.tif"), ("obw", "bw.tif")):
    for o in range(1, 9):
        name = "%s%d.tif" % (base, o)
        with open(path(src), "rb") as f, open(path(name), "wb") as g:
            g.write(f.read())
        run("/usr/bin/tiffset", "-s", "274", str(o), path(name))
        add(name, 6, magick_ref(name, orient=True), frames=1)
Image.new("LAB", (8, 4), (255, 128, 128)).save(path("lab.tif"))
add("lab.tif", 6, write_ref("lab.tif", Image.new("RGB", (8, 4), (255, 255, 255))), bpp=24,
    frames=1, tol=2)

# Anything else: plain text.
with open(path("text.txt"), "w") as f:
    f.write("This is not a picture.\n" * 20)
add("text.txt", 0, "FAIL")

for tmp in ("src.ppm", "src.pgm", "raw.gray"):
    os.remove(path(tmp))
for f in os.listdir(IMG):
    if f.startswith("src-") or f in ("pal4-src.png", "pal8-src.png"):
        os.remove(path(f))
with open(os.path.join(OUT, "manifest.txt"), "w") as f:
    f.write("\n".join(manifest) + "\n")
