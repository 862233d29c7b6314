# The data of bench/serialize_bench.cpp in Python's pickle (protocol 5):
# 100,000 records [int, str, float, symbol-like str, [int, int], float].
# Prints milliseconds per dump and per load, and the size.
import pickle
import time

records = [[i * 7, "name %d" % i, i + 0.25, "field", [i % 100, -3], 1.5] for i in range(100000)]


def best(f, runs=5):
    t = []
    for _ in range(runs):
        start = time.perf_counter()
        f()
        t.append(time.perf_counter() - start)
    return min(t) * 1000


data = pickle.dumps(records, protocol=5)
print("pickle dump %.1f ms" % best(lambda: pickle.dumps(records, protocol=5)))
print("pickle load %.1f ms" % best(lambda: pickle.loads(data)))
print("pickle bytes %d" % len(data))
