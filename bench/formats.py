"""The data formats against Python: json.loads / json.dumps of a 20 MB
document, csv.reader over a 50 MB file, pickle of 100 k records. Run by
bench/formats-run, which makes the files first (`make FOLDER`); prints the
milliseconds of each step."""
import csv
import io
import json
import pickle
import random
import sys
import time


def make(folder):
    rng = random.Random(5)
    words = ["alpha", "beta", "gamma", "x y", "é€", "quote \"q\"", "line\nbreak"]
    records = []
    size = 0
    while size < 20_000_000:
        r = {"id": len(records), "name": rng.choice(words) + str(rng.randrange(1000)),
             "score": rng.random() * 100, "tags": [rng.choice(words) for _ in range(3)],
             "active": rng.random() < 0.5, "parent": None}
        records.append(r)
        size += 150
    with open(f"{folder}/doc.json", "w", encoding="utf-8") as f:
        json.dump(records, f)
    with open(f"{folder}/data.csv", "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f)
        n = 0
        while n < 50_000_000:
            row = [rng.choice(words) for _ in range(4)] + [str(rng.randrange(10**6)), "%.3f" % rng.random()]
            w.writerow(row)
            n += sum(len(x) for x in row) + 8


def ms(start):
    return round((time.perf_counter() - start) * 1000)


def main():
    if sys.argv[1] == "make":
        make(sys.argv[2])
        return
    folder = sys.argv[1]
    with open(f"{folder}/doc.json", encoding="utf-8") as f:
        text = f.read()
    t = time.perf_counter()
    value = json.loads(text)
    load_ms = ms(t)
    t = time.perf_counter()
    out = json.dumps(value)
    dump_ms = ms(t)
    with open(f"{folder}/data.csv", newline="", encoding="utf-8") as f:
        data = f.read()
    t = time.perf_counter()
    rows = list(csv.reader(io.StringIO(data)))
    csv_ms = ms(t)
    records = [[i, "name" + str(i), i * 0.5, [i, i + 1]] for i in range(100_000)]
    t = time.perf_counter()
    with open(f"{folder}/records.pickle", "wb") as f:
        pickle.dump(records, f)
    with open(f"{folder}/records.pickle", "rb") as f:
        back = pickle.load(f)
    pickle_ms = ms(t)
    print(f"load-json {load_ms} to-json {dump_ms} load-csv {csv_ms} save+load {pickle_ms}"
          f" ({len(value)} records, {len(out)} chars, {len(rows)} rows, {len(back)} saved)")


main()
