# Text jobs: lines split into words, searched, changed case, replaced.
vocabulary = ["the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "and", "runs", "far", "away"]
lines = []
for i in range(1, 20001):
    line = ""
    for j in range(1, 9):
        line += vocabulary[i * j % 12]
        line += " "
    lines.append(line)
total = 0
for _ in range(45):
    for line in lines:
        words = line.split(" ")
        total = total + len(words)
        if "fox" in line:
            total = total + 1
        upper = line.upper()
        if "DOG" in upper:
            total = total + 2
        changed = line.replace("the", "a")
        total = total + len(changed) % 7
print(total)
