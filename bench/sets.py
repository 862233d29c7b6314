# Set operations: unique and union over two lists of SIZE integers, half of
# them repeated (the same values as sets.kiv). Order-keeping results, as the
# Kiv natives give, through dicts. Usage: sets.py build|sets SIZE
import sys

mode, size = sys.argv[1], int(sys.argv[2])
half = size // 2
a = []
b = []
for i in range(1, size + 1):
    a.append(i * 1999 % half)
    b.append(i * 2003 % size)
if mode == "sets":
    u = list(dict.fromkeys(a))
    v = list(dict.fromkeys(a + b))
    print(len(u), len(v))
else:
    print(len(a), len(b))
