# Permutations: swaps in a list, recursion, indexing.
count = 0
total = 0


def permute(b, k):
    global count, total
    if k == 1:
        count += 1
        total = (total + b[0] * 3 + b[1] + 10 - b[len(b) - 1]) % 1000
    else:
        permute(b, k - 1)
        i = 1
        while i < k:
            if k % 2 == 0:
                b[i - 1], b[k - 1] = b[k - 1], b[i - 1]
            else:
                b[0], b[k - 1] = b[k - 1], b[0]
            permute(b, k - 1)
            i += 1


items = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]
permute(items, len(items))
print(count, total)
