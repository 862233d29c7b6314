# Maps: dicts with string and integer keys, counting and look-ups.
words = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta", "iota", "kappa"]
counts = {}
squares = {}
total = 0
for i in range(1, 1500001):
    key = words[i % 10] + str(i % 97)
    n = counts.get(key)
    if n:
        counts[key] = n + 1
    else:
        counts[key] = 1
    squares[i % 5000] = i * 3 % 1000
for k, v in counts.items():
    total = total + v * len(k)
for i in range(1, 5001):
    total = total + squares[i - 1]
print(len(counts), total)
