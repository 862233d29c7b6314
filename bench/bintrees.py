# Binary trees: allocation of many short-lived lists, recursion.


def make_tree(depth):
    if depth == 0:
        return [None, None]
    depth -= 1
    return [make_tree(depth), make_tree(depth)]


def check(tree):
    if tree[0] is None:
        return 1
    return 1 + check(tree[0]) + check(tree[1])


max_depth = 15
long_lived = make_tree(max_depth)
total = 0
d = 4
while d <= max_depth:
    iterations = 2 ** (max_depth - d + 4)
    s = 0
    for _ in range(iterations):
        s += check(make_tree(d))
    total += s
    d += 4
print(total, check(long_lived))
