-- Mandelbrot: float arithmetic and comparisons in nested loops.
local function mandel(size, limit)
  local count = 0
  local y = 0
  while y < size do
    local ci = 2.0 * y / size - 1.0
    local x = 0
    while x < size do
      local cr = 2.0 * x / size - 1.5
      local zr, zi, tr, ti = 0.0, 0.0, 0.0, 0.0
      local i = 0
      while i < limit and tr + ti <= 4.0 do
        zi = 2.0 * zr * zi + ci
        zr = tr - ti + cr
        tr = zr * zr
        ti = zi * zi
        i = i + 1
      end
      if i == limit then count = count + 1 end
      x = x + 1
    end
    y = y + 1
  end
  return count
end

print(mandel(450, 50))
