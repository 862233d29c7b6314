-- N-body: float arithmetic on object fields.
local PI = 3.141592653589793
local SOLAR_MASS = 4.0 * PI * PI
local DAYS = 365.24
local sqrt = math.sqrt

local function body(x, y, z, vx, vy, vz, mass)
  return {x = x, y = y, z = z, vx = vx * DAYS, vy = vy * DAYS, vz = vz * DAYS, mass = mass * SOLAR_MASS}
end

local bodies = {
  body(0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0),
  body(4.84143144246472090e+00, -1.16032004402742839e+00, -1.03622044471123109e-01,
       1.66007664274403694e-03, 7.69901118419740425e-03, -6.90460016972063023e-05, 9.54791938424326609e-04),
  body(8.34336671824457987e+00, 4.12479856412430479e+00, -4.03523417114321381e-01,
       -2.76742510726862411e-03, 4.99852801234917238e-03, 2.30417297573763929e-05, 2.85885980666130812e-04),
  body(1.28943695621391310e+01, -1.51111514016986312e+01, -2.23307578892655734e-01,
       2.96460137564761618e-03, 2.37847173959480950e-03, -2.96589568540237556e-05, 4.36624404335156298e-05),
  body(1.53796971148509165e+01, -2.59193146099879641e+01, 1.79258772950371181e-01,
       2.68067772490389322e-03, 1.62824170038242295e-03, -9.51592254519715870e-05, 5.15138902046611451e-05),
}

local function offset_momentum()
  local px, py, pz = 0.0, 0.0, 0.0
  for _, b in ipairs(bodies) do
    px = px + b.vx * b.mass
    py = py + b.vy * b.mass
    pz = pz + b.vz * b.mass
  end
  local sun = bodies[1]
  sun.vx = 0.0 - px / SOLAR_MASS
  sun.vy = 0.0 - py / SOLAR_MASS
  sun.vz = 0.0 - pz / SOLAR_MASS
end

local function energy()
  local e = 0.0
  local n = #bodies
  for i = 1, n do
    local a = bodies[i]
    e = e + 0.5 * a.mass * (a.vx * a.vx + a.vy * a.vy + a.vz * a.vz)
    for j = i + 1, n do
      local b = bodies[j]
      local dx, dy, dz = a.x - b.x, a.y - b.y, a.z - b.z
      e = e - a.mass * b.mass / sqrt(dx * dx + dy * dy + dz * dz)
    end
  end
  return e
end

local function advance(dt)
  local n = #bodies
  for i = 1, n do
    local a = bodies[i]
    for j = i + 1, n do
      local b = bodies[j]
      local dx, dy, dz = a.x - b.x, a.y - b.y, a.z - b.z
      local d2 = dx * dx + dy * dy + dz * dz
      local mag = dt / (d2 * sqrt(d2))
      local bm = b.mass * mag
      a.vx = a.vx - dx * bm
      a.vy = a.vy - dy * bm
      a.vz = a.vz - dz * bm
      local am = a.mass * mag
      b.vx = b.vx + dx * am
      b.vy = b.vy + dy * am
      b.vz = b.vz + dz * am
    end
  end
  for _, b in ipairs(bodies) do
    b.x = b.x + dt * b.vx
    b.y = b.y + dt * b.vy
    b.z = b.z + dt * b.vz
  end
end

offset_momentum()
local e0 = energy()
for _ = 1, 200000 do advance(0.01) end
local e1 = energy()
print(math.tointeger(math.floor(e0 * -1e9)) .. " " .. math.tointeger(math.floor(e1 * -1e9)))
