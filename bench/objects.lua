-- Objects: field reads and writes, method calls.
local Point = {}
Point.__index = Point
function Point.new() return setmetatable({x = 0, y = 0}, Point) end
function Point:move(dx, dy) self.x = self.x + dx; self.y = self.y + dy end
function Point:sum() return self.x + self.y end

local p = Point.new()
local total = 0
for i = 1, 300000 do
  p:move(1, 2)
  total = total + p.x - p.y + (p:sum() % 7)
  p.y = p.y - 1
end
print(total)
