# String building: append, integer to text, length (pieces joined once, the
# usual way to build a long string).
total = 0
for rnd in range(1, 11):
    parts = []
    for i in range(1, 20001):
        parts.append("item")
        parts.append(str(i))
        parts.append(" ")
    total = total + len("".join(parts))
print(total)
