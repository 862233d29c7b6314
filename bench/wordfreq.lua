-- Word frequencies: words cut from a text, counted in a table.
local words = {"the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "and", "cat"}
local parts = {}
for i = 1, 100000 do parts[#parts + 1] = words[i * 7 % 10 + 1]; parts[#parts + 1] = " " end
local text = table.concat(parts)
local counts, order = {}, {}
for w in string.gmatch(text, "([^ ]*) ") do
  if not counts[w] then order[#order + 1] = w end
  counts[w] = 1 + (counts[w] or 0)
end
local best, best_n = nil, 0
for _, w in ipairs(order) do
  if counts[w] > best_n then best, best_n = w, counts[w] end
end
print(#order .. " " .. best .. " " .. best_n)
