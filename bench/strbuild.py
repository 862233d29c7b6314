# String building: appends, joins and formatting of numbers into growing strings.
total = 0
for _ in range(25):
    out = []
    for i in range(1, 30001):
        out.append(str(i))
        out.append(",")
        if i % 10 == 0:
            out.append("\n")
    total = total + len("".join(out))
    csv = ""
    for i in range(1, 10001):
        csv += "row" + str(i) + ";" + str(i * 2) + ";" + str(i % 7) + "\n"
    total = total + len(csv)
    parts = []
    for i in range(1, 1001):
        parts.append(str(i))
    total = total + len(" ".join(parts))
print(total)
