# Parse over a string: key=value pairs, the numeric values summed.
import re
parts = []
for i in range(1, 20001):
    parts.append("key" + str(i) + "=" + str(i * 3) + "; name=abc; ")
text = "".join(parts)
count = 0
total = 0
for m in re.finditer(r"([^=]*)=([^;]*); *", text):
    count += 1
    v = m.group(2)
    if v[0].isdigit():
        total += int(v)
print(count, total)
