-- Text jobs: lines split into words, searched, changed case, replaced.
local vocabulary = {"the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "and", "runs", "far", "away"}
local lines = {}
for i = 1, 20000 do
  local parts = {}
  for j = 1, 8 do
    parts[#parts + 1] = vocabulary[i * j % 12 + 1]
    parts[#parts + 1] = " "
  end
  lines[i] = table.concat(parts)
end
local total = 0
for _ = 1, 45 do
  for _, line in ipairs(lines) do
    local n = 0
    for _ in (line .. " "):gmatch("([^ ]*) ") do n = n + 1 end
    total = total + n
    if line:find("fox", 1, true) then total = total + 1 end
    local upper = line:upper()
    if upper:find("DOG", 1, true) then total = total + 2 end
    local changed = line:gsub("the", "a")
    total = total + #changed % 7
  end
end
print(total)
