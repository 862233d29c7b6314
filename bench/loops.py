# Nested loops over integers: counted loops, variables, arithmetic.
s = 0
for i in range(1, 1001):
    for j in range(1, 1001):
        s = s + (i * j % 7)
i = 0
while i < 1000000:
    i = i + 1
    if i % 3 == 0:
        s = s - 1
print(s)
