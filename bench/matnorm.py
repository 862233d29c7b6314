# Matrix norm by power iteration: float math over lists, function calls in inner loops.
import math


def eval_a(i, j):
    return 1.0 / ((i + j) * (i + j + 1) // 2 + i + 1)


def times_u(u, n):
    v = []
    for i in range(n):
        s = 0.0
        for j in range(n):
            s += eval_a(i, j) * u[j]
        v.append(s)
    return v


def times_ut(u, n):
    v = []
    for i in range(n):
        s = 0.0
        for j in range(n):
            s += eval_a(j, i) * u[j]
        v.append(s)
    return v


def times_atu(u, n):
    return times_ut(times_u(u, n), n)


def matnorm(n):
    u = [1.0] * n
    for _ in range(10):
        v = times_atu(u, n)
        u = times_atu(v, n)
    vbv = vv = 0.0
    for i in range(n):
        vbv += u[i] * v[i]
        vv += v[i] * v[i]
    return math.sqrt(vbv / vv)


print(int(1e9 * matnorm(300)))
