# Word frequencies: words cut from a text, counted in a dict.
words = ["the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "and", "cat"]
parts = []
for i in range(1, 100001):
    parts.append(words[i * 7 % 10])
    parts.append(" ")
text = "".join(parts)
counts = {}
for w in text.split(" ")[:-1]:
    counts[w] = 1 + counts.get(w, 0)
best, best_n = None, 0
for w, n in counts.items():
    if n > best_n:
        best, best_n = w, n
print(len(counts), best, best_n)
