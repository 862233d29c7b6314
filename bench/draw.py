# bench: 10,000 primitives into a 1000x1000 image with Cairo through
# python3-cairo, the same shapes as draw.kiv. Only the drawing is timed.
import math
import time

import cairo

seed = 1


def rnd(n):
    global seed
    seed = (seed * 75 + 74) % 65537
    return seed % n


def colour():
    return (rnd(256) / 255, rnd(256) / 255, rnd(256) / 255)


def pt():
    return (rnd(1000), rnd(1000))


def near(p):
    dx = rnd(101) - 50
    dy = rnd(101) - 50
    return (p[0] + dx, p[1] + dy)


cmds = []
for i in range(1, 10001):
    fill, pen = colour(), colour()
    k = i % 5
    if k == 0:
        p = pt()
        cmds.append((0, fill, pen, p, near(p)))
    elif k == 1:
        cmds.append((1, fill, pen, pt(), 5 + rnd(60)))
    elif k == 2:
        p = pt()
        cmds.append((2, fill, pen, p, near(p)))
    elif k == 3:
        p = pt()
        cmds.append((3, fill, pen, [near(p) for _ in range(5)]))
    else:
        cmds.append((4, fill, pen, pt(), (10 + rnd(100), 10 + rnd(100))))

surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, 1000, 1000)
t = time.perf_counter()
cr = cairo.Context(surface)
cr.set_source_rgb(1, 1, 1)
cr.paint()
cr.set_line_width(1)


def paint(fill, pen):
    cr.set_source_rgb(*fill)
    cr.fill_preserve()
    cr.set_source_rgb(*pen)
    cr.stroke()


for c in cmds:
    k = c[0]
    if k == 0:
        (x1, y1), (x2, y2) = c[3], c[4]
        cr.rectangle(min(x1, x2), min(y1, y2), abs(x2 - x1), abs(y2 - y1))
        paint(c[1], c[2])
    elif k == 1:
        (x, y), r = c[3], c[4]
        cr.arc(x, y, r, 0, 2 * math.pi)
        paint(c[1], c[2])
    elif k == 2:
        cr.set_line_width(2)
        cr.move_to(*c[3])
        cr.line_to(*c[4])
        cr.set_source_rgb(*c[2])
        cr.stroke()
        cr.set_line_width(1)
    elif k == 3:
        cr.move_to(*c[3][0])
        for p in c[3][1:]:
            cr.line_to(*p)
        cr.close_path()
        paint(c[1], c[2])
    else:
        (x, y), (w, h) = c[3], c[4]
        cr.save()
        cr.translate(x + w / 2, y + h / 2)
        cr.scale(w / 2, h / 2)
        cr.arc(0, 0, 1, 0, 2 * math.pi)
        cr.restore()
        paint(c[1], c[2])
surface.flush()
ms = (time.perf_counter() - t) * 1000
print("draw: %d ms, %d shapes" % (round(ms), len(cmds)))
