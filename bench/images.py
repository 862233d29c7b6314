"""Image codecs: decode and encode one PNG or JPEG file with Pillow.

Usage: python3 images.py read|png|jpeg FILE (the peer of images.kiv).
"""
import io
import sys

from PIL import Image

mode, path = sys.argv[1], sys.argv[2]
with open(path, "rb") as f:
    data = f.read()
if mode == "read":
    print(len(data))
else:
    img = Image.open(io.BytesIO(data))
    img.load()
    out = io.BytesIO()
    if mode == "png":
        img.save(out, "PNG", compress_level=6)
    else:
        img.save(out, "JPEG", quality=90)
    print("%dx%d" % img.size)
