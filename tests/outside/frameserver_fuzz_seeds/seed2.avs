v = BlankClip(pattern=true, pixel_type="RGB24").BilinearResize(320, 240, 8, 8, -8, -8)
x = 3 * (2 + 1) % 5 > 1 ? "a" + "b" : "c"
v.Trim(10, -5)
