-- Block building: table append, nested tables, traversal.
local total = 0
for rnd = 1, 20 do
  local flat = {}
  for i = 1, 50000 do flat[#flat + 1] = i end
  local pairs_ = {}
  for i = 1, 10000 do pairs_[#pairs_ + 1] = {i, i * 2} end
  for _, x in ipairs(flat) do total = total + (x % 3) end
  for _, p in ipairs(pairs_) do total = total + ((p[2] - p[1]) % 5) end
end
print(total)
