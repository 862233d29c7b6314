-- String building: appends, concatenation and formatting of numbers into growing strings.
local total = 0
for _ = 1, 25 do
  local out = {}
  for i = 1, 30000 do
    out[#out + 1] = tostring(i)
    out[#out + 1] = ","
    if i % 10 == 0 then out[#out + 1] = "\n" end
  end
  total = total + #table.concat(out)
  local csv = {}
  for i = 1, 10000 do
    csv[#csv + 1] = "row" .. i .. ";" .. i * 2 .. ";" .. tostring(i % 7) .. "\n"
  end
  total = total + #table.concat(csv)
  local parts = {}
  for i = 1, 1000 do parts[#parts + 1] = tostring(i) end
  total = total + #table.concat(parts, " ")
end
print(total)
