-- Permutations: swaps in an array, recursion, indexing.
local count, total = 0, 0

local function permute(b, k)
  if k == 1 then
    count = count + 1
    total = (total + b[1] * 3 + b[2] + 10 - b[#b]) % 1000
  else
    permute(b, k - 1)
    local i = 1
    while i < k do
      if k % 2 == 0 then
        b[i], b[k] = b[k], b[i]
      else
        b[1], b[k] = b[k], b[1]
      end
      permute(b, k - 1)
      i = i + 1
    end
  end
end

local items = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}
permute(items, #items)
print(count .. " " .. total)
