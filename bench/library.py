# Library functions: replace/all, split, rejoin, extract, sum, as Python
# does them (str.replace, str.split, "".join, slicing, sum). Prints one line
# of results; with the argument `times` it prints instead the milliseconds
# (to 0.1) each call took (the data made beforehand is not counted).
import sys
import time

times = len(sys.argv) > 1 and sys.argv[1] == "times"
results = []


def measure(name, code):
    t = time.perf_counter()
    r = code()
    if times:
        print(name, round((time.perf_counter() - t) * 1000, 1))
    else:
        results.append(r)


text = "lorem ipsum dolor, sit amet " * 357143
measure("replace/all", lambda: len(text.replace("dolor", "pain")))

text = "ab," * 999999 + "ab"
measure("split", lambda: len(text.split(",")))

values = []
for i in range(1, 100001):
    values.append(i)
measure("rejoin", lambda: len("".join(map(str, values))))

values = []
for i in range(1, 1000001):
    values.append(i % 1000)
measure("extract", lambda: len(values[::2]))

measure("sum", lambda: sum(values))

if not times:
    print(" ".join(map(str, results)))
