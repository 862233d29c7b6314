# Mandelbrot: float arithmetic and comparisons in nested loops.


def mandel(size, limit):
    count = 0
    y = 0
    while y < size:
        ci = 2.0 * y / size - 1.0
        x = 0
        while x < size:
            cr = 2.0 * x / size - 1.5
            zr = zi = tr = ti = 0.0
            i = 0
            while i < limit and tr + ti <= 4.0:
                zi = 2.0 * zr * zi + ci
                zr = tr - ti + cr
                tr = zr * zr
                ti = zi * zi
                i += 1
            if i == limit:
                count += 1
            x += 1
        y += 1
    return count


print(mandel(450, 50))
