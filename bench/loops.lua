-- Nested loops over integers: counted loops, variables, arithmetic.
local s = 0
for i = 1, 1000 do
  for j = 1, 1000 do
    s = s + (i * j % 7)
  end
end
local i = 0
while i < 1000000 do
  i = i + 1
  if i % 3 == 0 then s = s - 1 end
end
print(s)
