-- Parse over a string: key=value pairs, the numeric values summed.
local parts = {}
for i = 1, 20000 do parts[#parts + 1] = "key" .. i .. "=" .. (i * 3) .. "; name=abc; " end
local text = table.concat(parts)
local count, total = 0, 0
for k, v in string.gmatch(text, "([^=]*)=([^;]*); *") do
  count = count + 1
  if v:match("^%d") then total = total + tonumber(v) end
end
print(count .. " " .. total)
