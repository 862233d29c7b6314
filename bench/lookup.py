# Key look-ups: a dict of SIZE integer keys, then COUNT look-ups spread over
# them (the same keys and order as lookup.kiv). Usage: lookup.py map|hash SIZE COUNT
import sys

kind, size, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
total = 0
if kind == "map":
    m = {}
    for i in range(1, size + 1):
        m[i] = i * 2
    for i in range(1, count + 1):
        total = total + m[i * 613 % size + 1] % 7
else:
    # A hash! finds a value and gives the series at it: a dict from value
    # to position stands in for it.
    h = {}
    for i in range(1, size + 1):
        h.setdefault(i, i - 1)
    values = list(range(1, size + 1))
    for i in range(1, count + 1):
        total = total + values[h[i * 613 % size + 1]] % 7
print(total)
