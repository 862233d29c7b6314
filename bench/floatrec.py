# Float recursion: recursive calls on float arguments.


def ffib(n):
    return n if n < 2.0 else ffib(n - 1.0) + ffib(n - 2.0)


def tak(x, y, z):
    if y < x:
        return tak(tak(x - 1.0, y, z), tak(y - 1.0, z, x), tak(z - 1.0, x, y))
    return z


print(int(ffib(32.0)), int(tak(24.0, 16.0, 8.0)))
