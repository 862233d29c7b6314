# Allocation churn: build and drop strings and nested lists.
kept = []
total = 0
for rnd in range(1, 201):
    tmp = []
    for i in range(1, 2001):
        tmp.append([i, str(i), "text"[:]])
    total += len(tmp)
    if rnd % 20 == 0:
        kept.append(tmp)
print(total)
