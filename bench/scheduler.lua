-- Scheduler: objects sharing one metatable, method calls, field updates.
local Task = {}
Task.__index = Task

function Task.new(id, work)
  return setmetatable({id = id, work = work, done = 0, priority = 1}, Task)
end

function Task:step(amount)
  self.work = self.work - amount
  self.done = self.done + amount
  if self.work <= 0 then self.work = 0 end
  return self.work
end

function Task:finished() return self.work == 0 end

function Task:boost()
  self.priority = self.priority + 1
  if self.priority > 5 then self.priority = 1 end
end

local Scheduler = {}
Scheduler.__index = Scheduler

function Scheduler.new() return setmetatable({tasks = {}, ticks = 0}, Scheduler) end

function Scheduler:add(t) self.tasks[#self.tasks + 1] = t end

function Scheduler:run()
  local live = #self.tasks
  while live > 0 do
    live = 0
    for _, t in ipairs(self.tasks) do
      if not t:finished() then
        t:step(t.priority)
        t:boost()
        self.ticks = self.ticks + 1
        if not t:finished() then live = live + 1 end
      end
    end
  end
  return self.ticks
end

local scheduler = Scheduler.new()
local total = 0
for round = 1, 30 do
  scheduler.tasks = {}
  scheduler.ticks = 0
  for i = 1, 200 do scheduler:add(Task.new(i, i * 7 + round)) end
  total = total + scheduler:run()
  for _, t in ipairs(scheduler.tasks) do total = total + t.done % 3 end
end
print(total)
