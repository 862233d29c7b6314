"""The reference for the JSON tests: the distribution's json module.

  json-oracle.py gen DIR       writes DIR/doc-N.json, documents of many shapes
  json-oracle.py same A B      prints "same" when the two files hold equal JSON
  json-oracle.py show FILE     prints the document canonically (sorted keys, ASCII)
"""
import json
import math
import random
import struct
import sys


def random_string(rng):
    pools = [
        "abc xyz", "\"\\/\b\f\n\r\t", "\x00\x01\x1f\x7f", "é€ßñ", "😀𝄞", "\u2028\u00a0\ufeff",
    ]
    return "".join(rng.choice(rng.choice(pools)) for _ in range(rng.randrange(0, 12)))


def random_float(rng):
    while True:
        f = struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0]
        if math.isfinite(f):
            return f


def random_value(rng, depth):
    kind = rng.randrange(9 if depth < 5 else 6)
    if kind == 0:
        return None
    if kind == 1:
        return rng.choice([True, False])
    if kind == 2:
        return rng.randrange(-2**31, 2**31)
    if kind == 3:
        return rng.choice([random_float(rng), rng.uniform(-1e3, 1e3), 0.1, 1e-300, 2.5])
    if kind in (4, 5):
        return random_string(rng)
    if kind == 6:
        return [random_value(rng, depth + 1) for _ in range(rng.randrange(0, 5))]
    # Keys: words, texts with spaces and digits, empty; unique within an object
    # (case included) so that both sides keep the same members.
    keys = set()
    for _ in range(rng.randrange(0, 5)):
        keys.add(rng.choice(["name", "a-b", "x1", "1st", "", "with space", "é", "k" + str(rng.randrange(99))]))
    return {k: random_value(rng, depth + 1) for k in sorted(keys)}


FIXED = [
    {}, [], "", 0, -0, 1.5, -2147483648, 2147483647, 1e300, 5e-324, 0.30000000000000004,
    {"a": [1, 2, {"b": None}], "c": "d"}, [[[[]]]], ["\u00e9", "\ud83d\ude00", "\u0000"],
    {"nested": {"deep": [True, False, None]}},
]


def gen(folder):
    rng = random.Random(4711)
    docs = FIXED + [random_value(rng, 0) for _ in range(60)]
    for i, doc in enumerate(docs):
        indent = [None, 2, "\t"][i % 3]
        text = json.dumps(doc, indent=indent, ensure_ascii=bool(i % 2))
        with open(f"{folder}/doc-{i}.json", "w", encoding="utf-8") as f:
            f.write(text)
    print(len(docs))


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def main():
    if sys.argv[1] == "gen":
        gen(sys.argv[2])
    elif sys.argv[1] == "same":
        a, b = load(sys.argv[2]), load(sys.argv[3])
        print("same" if a == b and json.dumps(a) == json.dumps(b) else "differs")
    elif sys.argv[1] == "show":
        print(json.dumps(load(sys.argv[2]), sort_keys=True, ensure_ascii=True))


main()
