# Sorting: a list of pseudo-random integers, sorted plainly and by a key.
seed = 42


def next_random():
    global seed
    seed = (seed * 1105 + 12345) % 1048576
    return seed


total = 0
for _ in range(3):
    numbers = []
    for _ in range(300000):
        numbers.append(next_random())
    s = sorted(numbers)
    total = total + s[0] + s[-1] + s[149999]
    pairs = []
    for i in range(1, 30001):
        pairs.append([numbers[i - 1], i])
    pairs.sort(key=lambda p: p[0], reverse=True)
    total = total + pairs[0][1] % 1000 + pairs[29999][0] % 1000
print(total)
