-- Matrix norm by power iteration: float math over arrays, function calls in inner loops.
local function eval_a(i, j)
  return 1.0 / ((i + j) * (i + j + 1) // 2 + i + 1)
end

local function times_u(u, n)
  local v = {}
  for i = 0, n - 1 do
    local s = 0.0
    for j = 0, n - 1 do
      s = s + eval_a(i, j) * u[j + 1]
    end
    v[i + 1] = s
  end
  return v
end

local function times_ut(u, n)
  local v = {}
  for i = 0, n - 1 do
    local s = 0.0
    for j = 0, n - 1 do
      s = s + eval_a(j, i) * u[j + 1]
    end
    v[i + 1] = s
  end
  return v
end

local function times_atu(u, n)
  return times_ut(times_u(u, n), n)
end

local function matnorm(n)
  local u = {}
  for i = 1, n do u[i] = 1.0 end
  local v
  for _ = 1, 10 do
    v = times_atu(u, n)
    u = times_atu(v, n)
  end
  local vbv, vv = 0.0, 0.0
  for i = 1, n do
    vbv = vbv + u[i] * v[i]
    vv = vv + v[i] * v[i]
  end
  return math.sqrt(vbv / vv)
end

print(math.tointeger(math.floor(1e9 * matnorm(300))))
