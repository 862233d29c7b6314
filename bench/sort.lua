-- Sorting: an array of pseudo-random integers, sorted plainly and by a comparator.
local seed = 42
local function next_random()
  seed = (seed * 1105 + 12345) % 1048576
  return seed
end

local total = 0
for _ = 1, 3 do
  local numbers = {}
  for i = 1, 300000 do numbers[i] = next_random() end
  local sorted = {}
  for i = 1, #numbers do sorted[i] = numbers[i] end
  table.sort(sorted)
  total = total + sorted[1] + sorted[#sorted] + sorted[150000]
  local pairs_ = {}
  for i = 1, 30000 do pairs_[i] = {numbers[i], i} end
  table.sort(pairs_, function(a, b) return a[1] > b[1] end)
  total = total + pairs_[1][2] % 1000 + pairs_[30000][1] % 1000
end
print(total)
