"""The reference for the CSV tests: the distribution's csv module.

  csv-oracle.py gen DIR        writes DIR/doc-N.csv with csv.writer; prints N
  csv-oracle.py same A B       "same" when csv.reader reads equal rows from both
  csv-oracle.py rows A J       "same" when the rows of CSV file A equal the JSON file J
  csv-oracle.py big FILE MB    writes about MB megabytes of CSV (for the benchmark)
"""
import csv
import json
import random
import sys


def field(rng):
    pools = ["abc", "x y", ",", "\"", "\n", "\r", "\r\n", "é€", "😀", "  ", "123", "-1.5"]
    return "".join(rng.choice(pools) for _ in range(rng.randrange(0, 5)))


def rows_of(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.reader(f))


def gen(folder):
    rng = random.Random(1234)
    count = 40
    for i in range(count):
        cols = rng.randrange(1, 6)
        rows = [[field(rng) for _ in range(cols)] for _ in range(rng.randrange(1, 8))]
        if i % 2:
            # With LF line ends the writer leaves a carriage return unquoted,
            # and its own reader then splits the line there: none here.
            rows = [[x.replace("\r", "") for x in row] for row in rows]
        # A row of one empty field is written "" by the writer; a row with
        # no field at all would be a blank line, which is not a row here.
        with open(f"{folder}/doc-{i}.csv", "w", newline="", encoding="utf-8") as f:
            w = csv.writer(f, lineterminator=["\r\n", "\n"][i % 2])
            w.writerows(rows)
    print(count)


def big(path, megabytes):
    rng = random.Random(99)
    words = ["alpha", "beta", "gamma", "delta", "x,y", "say \"hi\"", "12.5", "-7", "", "été"]
    with open(path, "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f)
        size = 0
        while size < megabytes * 1_000_000:
            row = [rng.choice(words) for _ in range(8)]
            w.writerow(row)
            size += sum(len(x) for x in row) + 12
    print("ok")


def main():
    if sys.argv[1] == "gen":
        gen(sys.argv[2])
    elif sys.argv[1] == "same":
        print("same" if rows_of(sys.argv[2]) == rows_of(sys.argv[3]) else "differs")
    elif sys.argv[1] == "rows":
        with open(sys.argv[3], encoding="utf-8") as f:
            print("same" if rows_of(sys.argv[2]) == json.load(f) else "differs")
    elif sys.argv[1] == "big":
        big(sys.argv[2], int(sys.argv[3]))


main()
