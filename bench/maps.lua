-- Maps: tables with string and integer keys, counting and look-ups.
local words = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta", "iota", "kappa"}
local counts, squares = {}, {}
local ncounts = 0
local total = 0
for i = 1, 1500000 do
  local key = words[i % 10 + 1] .. tostring(i % 97)
  local n = counts[key]
  if n then counts[key] = n + 1 else counts[key] = 1; ncounts = ncounts + 1 end
  squares[i % 5000] = i * 3 % 1000
end
for k, v in pairs(counts) do total = total + v * #k end
for i = 1, 5000 do total = total + squares[i - 1] end
print(ncounts .. " " .. total)
