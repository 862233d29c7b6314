-- Binary trees: allocation of many short-lived tables, recursion.
local function make_tree(depth)
  if depth == 0 then return {false, false} end
  depth = depth - 1
  return {make_tree(depth), make_tree(depth)}
end

local function check(tree)
  if not tree[1] then return 1 end
  return 1 + check(tree[1]) + check(tree[2])
end

local max_depth = 15
local long_lived = make_tree(max_depth)
local total = 0
local d = 4
while d <= max_depth do
  local iterations = 1 << (max_depth - d + 4)
  local s = 0
  for _ = 1, iterations do s = s + check(make_tree(d)) end
  total = total + s
  d = d + 4
end
print(total .. " " .. check(long_lived))
