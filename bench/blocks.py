# Block building: list append, nested lists, traversal.
total = 0
for rnd in range(1, 21):
    flat = []
    for i in range(1, 50001):
        flat.append(i)
    pairs = []
    for i in range(1, 10001):
        pairs.append([i, i * 2])
    for x in flat:
        total = total + (x % 3)
    for p in pairs:
        total = total + ((p[1] - p[0]) % 5)
print(total)
