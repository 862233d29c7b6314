# parse over a 50 MB CSV-like text with re (the same job as csvparse.kiv):
# the fields found by re.findall, and the same pattern matching alone.
import re
import sys
import time

times = len(sys.argv) > 1 and sys.argv[1] == "times"
rows = [
    '10234,"Smith, John",engineer,3.25,"12 Main St, Springfield",active\n',
    '77,"Doe, Jane",manager,120.5,"9 Elm Road",inactive\n',
    '456789,"Lee, Ann",analyst,0.75,"Flat 2, 3 High St",active\n',
    '31,"Kim, Bo",clerk,88.0,"Old Mill Lane",retired\n',
]
parts = []
size = 0
while size < 50_000_000:
    for row in rows:
        parts.append(row)
        size += len(row)
text = "".join(parts)

field = re.compile(r'"([^"]*)"|([^,"\n]+)')
bare = re.compile(r'(?:(?:"[^"]*"|[^,"\n]+)(?:,(?:"[^"]*"|[^,"\n]+))*\n)+')

t = time.perf_counter()
found = field.findall(text)
collect_ms = (time.perf_counter() - t) * 1000
fields = [q or p for q, p in found]
t = time.perf_counter()
matched = bare.fullmatch(text) is not None
match_ms = (time.perf_counter() - t) * 1000
if times:
    print(f"collect {collect_ms:.1f}")
    print(f"match {match_ms:.1f}")
else:
    print(len(fields), fields[0], fields[-1], "true" if matched else "false")
