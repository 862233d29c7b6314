# The parse benchmark's jobs done with Python's re module, over the same
# 100 MB strings (see bench/parse-run). Prints one line per job: its name
# and the speed in MB/s (best of RUNS, CPU time of the match only).
import re
import sys
import time

RUNS = int(sys.argv[1]) if len(sys.argv) > 1 else 3
SIZE = 100_000_000

def speed(text, fn):
    best = None
    for _ in range(RUNS):
        t = time.process_time()
        ok = fn(text)
        t = time.process_time() - t
        assert ok, "the job must match"
        best = t if best is None or t < best else best
    return len(text) / 1e6 / best

alnum = "abc12" * (SIZE // 5)
needle = alnum + "xyz"
same = "a" * SIZE
words = "ab12 " * (SIZE // 5)
letters = "abcde" * (SIZE // 5)
letters1 = letters + "1"

jobs = [
    ("alternatives", alnum, lambda s: re.fullmatch(r"[abc12]+", s, re.I)),
    ("alpha-digit", alnum, lambda s: re.fullmatch(r"(?:[a-z]|[0-9])+", s, re.I)),
    ("some-char", same, lambda s: re.fullmatch(r"a+", s, re.I)),
    ("thru", needle, lambda s: re.match(r".*?xyz", s, re.I | re.S)),
    ("thru-case", needle, lambda s: re.match(r".*?xyz", s, re.S)),
    ("bitset-some", letters, lambda s: re.fullmatch(r"[a-z]+", s, re.I)),
    ("bitset-thru", letters1, lambda s: re.match(r".*?[0-9]", s, re.S)),
    ("words", words, lambda s: re.fullmatch(r"(?:[a-z]+[0-9]+ )+", s, re.I)),
]
only = sys.argv[2:] 
for name, text, fn in jobs:
    if only and name not in only:
        continue
    print(f"{name} {speed(text, fn):.0f}")
