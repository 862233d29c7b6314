# Scheduler: objects of one class, method calls, field updates.


class Task:
    def __init__(self, id, work):
        self.id = id
        self.work = work
        self.done = 0
        self.priority = 1

    def step(self, amount):
        self.work = self.work - amount
        self.done = self.done + amount
        if self.work <= 0:
            self.work = 0
        return self.work

    def finished(self):
        return self.work == 0

    def boost(self):
        self.priority = self.priority + 1
        if self.priority > 5:
            self.priority = 1


class Scheduler:
    def __init__(self):
        self.tasks = []
        self.ticks = 0

    def add(self, t):
        self.tasks.append(t)

    def run(self):
        live = len(self.tasks)
        while live > 0:
            live = 0
            for t in self.tasks:
                if not t.finished():
                    t.step(t.priority)
                    t.boost()
                    self.ticks = self.ticks + 1
                    if not t.finished():
                        live = live + 1
        return self.ticks


scheduler = Scheduler()
total = 0
for rnd in range(1, 31):
    scheduler.tasks = []
    scheduler.ticks = 0
    for i in range(1, 201):
        scheduler.add(Task(i, i * 7 + rnd))
    total = total + scheduler.run()
    for t in scheduler.tasks:
        total = total + t.done % 3
print(total)
