-- Higher-order functions: functions passed as values, map, filter and fold written by hand.
local function map_each(f, items)
  local out = {}
  for i = 1, #items do out[i] = f(items[i]) end
  return out
end

local function keep_if(f, items)
  local out = {}
  for i = 1, #items do
    local x = items[i]
    if f(x) then out[#out + 1] = x end
  end
  return out
end

local function fold(f, acc, items)
  for i = 1, #items do acc = f(acc, items[i]) end
  return acc
end

local function compose2(f, g) return function(x) return f(g(x)) end end
local function double(x) return x * 2 end
local function inc(x) return x + 1 end
local function odd(x) return x % 2 == 1 end
local function add(a, b) return (a + b) % 1000003 end

local numbers = {}
for i = 1, 10000 do numbers[i] = i end
local total = 0
for _ = 1, 200 do
  local step = compose2(double, inc)
  local mapped = map_each(step, numbers)
  local kept = keep_if(odd, map_each(inc, mapped))
  total = total + fold(add, 0, kept) % 1000
end
print(total)
