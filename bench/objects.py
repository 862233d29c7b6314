# Objects: field reads and writes, method calls.
class Point:
    def __init__(self):
        self.x = 0
        self.y = 0
    def move(self, dx, dy):
        self.x = self.x + dx
        self.y = self.y + dy
    def sum(self):
        return self.x + self.y

p = Point()
total = 0
for i in range(1, 300001):
    p.move(1, 2)
    total = total + p.x - p.y + (p.sum() % 7)
    p.y = p.y - 1
print(total)
