-- String building: appends to a buffer table, integer to text, length.
local total = 0
for rnd = 1, 10 do
  local buf, n = {}, 0
  for i = 1, 20000 do
    buf[n + 1] = "item"; buf[n + 2] = tostring(i); buf[n + 3] = " "; n = n + 3
  end
  total = total + #table.concat(buf)
end
print(total)
