-- Float recursion: recursive calls on float arguments.
local function ffib(n)
  if n < 2.0 then return n end
  return ffib(n - 1.0) + ffib(n - 2.0)
end

local function tak(x, y, z)
  if y < x then
    return tak(tak(x - 1.0, y, z), tak(y - 1.0, z, x), tak(z - 1.0, x, y))
  end
  return z
end

print(math.tointeger(ffib(32.0)) .. " " .. math.tointeger(tak(24.0, 16.0, 8.0)))
