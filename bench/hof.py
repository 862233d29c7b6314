# Higher-order functions: functions passed as values, map, filter and fold written by hand.


def map_each(f, items):
    out = []
    for x in items:
        out.append(f(x))
    return out


def keep_if(f, items):
    out = []
    for x in items:
        if f(x):
            out.append(x)
    return out


def fold(f, acc, items):
    for x in items:
        acc = f(acc, x)
    return acc


def compose2(f, g):
    return lambda x: f(g(x))


def double(x):
    return x * 2


def inc(x):
    return x + 1


def odd(x):
    return x % 2 == 1


def add(a, b):
    return (a + b) % 1000003


numbers = list(range(1, 10001))
total = 0
for _ in range(200):
    step = compose2(double, inc)
    mapped = map_each(step, numbers)
    kept = keep_if(odd, map_each(inc, mapped))
    total = total + fold(add, 0, kept) % 1000
print(total)
