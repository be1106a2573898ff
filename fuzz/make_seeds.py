#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/: one file per named case, encoded the way the
harnesses read their input (libFuzzer's FuzzedDataProvider takes integers from the end of the
data, most significant byte first). Run it again after changing how a harness reads its input."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


class Input:
    def __init__(self):
        self.taken = []  # bytes in the order the provider takes them

    def range(self, lo, hi, value):
        assert lo <= value <= hi, (lo, hi, value)
        span, offset, n = hi - lo, value - lo, 0
        while n < 8 and (span >> (8 * n)) > 0:
            n += 1
        self.taken += [(offset >> (8 * (n - 1 - i))) & 0xFF for i in range(n)]
        return self

    def boolean(self, value):
        return self.range(0, 255, 1 if value else 0)

    def u8(self, v):
        return self.range(0, 0xFF, v)

    def u16(self, v):
        return self.range(0, 0xFFFF, v)

    def u32(self, v):
        return self.range(0, 0xFFFFFFFF, v)

    def data(self):
        return bytes(reversed(self.taken))


# fuzz_quit_rules ---------------------------------------------------------------------------------

SINGLE = (0, 0, 64, 40)
TWO = (-32, -8, 64, 40)  # the virtual screen with the second monitor


class Session(Input):
    def __init__(self, two_monitors=False, shown=True):
        super().__init__()
        self.screen = TWO if two_monitors else SINGLE
        self.windows = 1
        self.boolean(two_monitors).boolean(shown)

    def window(self, index):  # index == windows: NULL
        return self.range(0, self.windows + 1, index)

    def message(self, kind, *values):
        self.range(0, 11, kind)
        for lo, hi, v in values:
            self.range(lo, hi, v)
        return self

    def move(self, x, y):
        return self.message(0, (0, 0xFFFFFFFF, (x & 0xFFFF) | ((y & 0xFFFF) << 16)), (0, 2, 0))

    def move_near_origin(self, dx, dy):
        return self.message(2, (-4, 4, dx), (-4, 4, dy), (0, 2, 1))

    def send(self, window=0):
        return self.range(0, 9, 0).window(window)

    def dispatch(self, window=0):
        return self.range(0, 9, 3).window(window)

    def inject(self, kind, *values):
        self.range(0, 9, 4).range(0, 5, kind)
        for lo, hi, v in values:
            self.range(lo, hi, v)
        return self

    def inject_move(self, x, y):
        left, top, right, bottom = self.screen
        return self.inject(0, (left - 8, right + 8, x), (top - 8, bottom + 8, y))

    def pump(self):
        return self.range(0, 9, 5)

    def create(self, shown=True):
        self.windows += 1
        return self.range(0, 9, 6).boolean(shown)

    def request_close(self, window=0):
        return self.range(0, 9, 8).window(window)

    def capture(self, window=0):
        return self.range(0, 9, 9).window(window)


def quit_rules_seeds():
    s = {}
    # Within the slop on both axes, then one pixel past it.
    s["slop_edge"] = (Session().send().move(10, 10).send().move_near_origin(2, -2)
                      .send().move_near_origin(-3, 0).pump().data())
    # The first move sets the origin even at 0xFFFF; 0 is 65535 away from it, not 1.
    s["origin_wraps"] = Session().send().move(0xFFFF, 5).send().move_near_origin(1, 0).pump().data()
    # A button, the wheel, and an X button that is no reason to end.
    s["pointer_buttons"] = (Session().send().message(4, (0x1FF, 0x20E, 0x20B), (0, 0xFFFFFFFF, 0),
                                                     (0, 2**64 - 1, 0))
                            .dispatch().message(4, (0x1FF, 0x20E, 0x20A), (0, 0xFFFFFFFF, 0x780000),
                                                (0, 2**64 - 1, 0x00140020))
                            .pump().data())
    # Typing through the real queue: a letter, a key with no character, a packet character.
    s["typing"] = (Session().inject(4, (0, 255, 0x70)).pump().inject(4, (0, 255, ord('A'))).pump()
                   .inject(5, (0, 0xFFFF, 0xE9)).pump().data())
    # Alt+F4 and a close request: the window is destroyed, which ends the program.
    s["closing"] = (Session().inject(3, (0, 255, 0x12), (0, 255, 1)).inject(3, (0, 255, 0x73), (0, 255, 1))
                    .pump().create().request_close(1).pump().send(1).message(6).dispatch(1).message(6).data())
    # Hardware moves on a virtual screen with a negative origin, under capture.
    s["pointer_input"] = (Session(two_monitors=True).capture().inject_move(-30, -6).inject_move(-28, -4)
                          .pump().inject_move(-27, -6).pump().data())
    # Paint, unknown messages and the life-cycle ones, to a window, to none and to a forged handle.
    s["other_messages"] = (Session(shown=False).send().message(6).send(1).message(6)
                           .send().message(10, (0, 0xFFFFFFFF, 0x1234), (0, 2**64 - 1, 7), (0, 2**64 - 1, 9))
                           .send(2).u32(0xDEAD).u32(0xBEEF).message(9, (0, 6, 4), (0, 0xFFFF, 0))
                           .send().message(7, (0, 6, 3), (0, 255, 0x73), (0, 0xFFFFFFFF, 0x20000001))
                           .send().message(8).pump().data())
    return s


# fuzz_layouts and fuzz_quads_layouts -------------------------------------------------------------

BUCKETS = [(0, 1, 16), (4, 17, 512), (7, 513, 4096), (9, 4097, 16384)]


def extent(i, v):
    bucket, lo, hi = [b for b in BUCKETS if b[1] <= v <= b[2]][0]
    i.range(0, 9, bucket).range(lo, hi, v)


def layout(i, monitors, raw=False, primary_at_origin=True):
    """monitors: (w, h) for the primary, then (w, h, side, neighbour, gap, along_x, along_y) beside
    a placed one (side 0 right, 1 left, 2 below, 3 above), (w, h, x, y) anywhere, or ('raw', rect)."""
    i.u8((0 if raw else 2) | (0 if primary_at_origin else 1))
    i.range(1, 16, len(monitors))
    placed = []
    for m in monitors:
        if raw:
            i.boolean(m[0] == 'raw')
        if m[0] == 'raw':
            left, top, right, bottom = m[1]
            i.boolean(False).range(-(1 << 21), 1 << 21, left).range(-(1 << 21), 1 << 21, top)
            i.range(-2, 64, right - left).range(-2, 64, bottom - top)
            placed.append(m[1])
            continue
        w, h = m[0], m[1]
        extent(i, w)
        extent(i, h)
        if not placed and primary_at_origin:
            placed.append((0, 0, w, h))
            continue
        if len(m) == 4:
            if placed:
                i.range(0, 4, 4)
            i.range(-40000, 40000, m[2]).range(-40000, 40000, m[3])
            placed.append((m[2], m[3], m[2] + w, m[3] + h))
            continue
        side, j, gap, ax, ay = m[2:]
        r = placed[j]
        i.range(0, 4, side).range(0, len(placed) - 1, j).range(-24, 24, gap)
        i.range(-w, max(-w, r[2] - r[0]), ax).range(-h, max(-h, r[3] - r[1]), ay)
        x, y = [(r[2] + gap, r[1] + ay), (r[0] - w - gap, r[1] + ay), (r[0] + ax, r[3] + gap),
                (r[0] + ax, r[1] - h - gap)][side]
        placed.append((x, y, x + w, y + h))


LAYOUTS = {
    "single_1024x768": [(1024, 768)],
    "left_of_primary": [(1024, 768), (800, 600, 1, 0, 0, 0, 0)],
    "above_with_gap": [(640, 480), (320, 200, 3, 0, 8, 100, 0)],
    "overlapping_three": [(300, 200), (200, 150, 0, 0, -20, 0, 30), (250, 100, 2, 1, -10, -40, 0)],
    "tiny_monitors": [(1, 1), (2, 1, 5, -3), (3, 2, -7, 4), (1, 3, 0, 1, 1, 0, 0)],
    "wide_strip": [(16384, 64), (1, 1, -5, -5)],
    "sixteen": [(64, 48)] + [(64, 48, 0 if k % 4 else 2, k - 1 if k % 4 else k - 4, 2, 0, 0)
                             for k in range(1, 16)],
    "anywhere": [(500, 300, -1200, -900), (400, 400, 0, 0, 20, 0, -100)],
}


def layout_seeds():
    s = {}
    for n, (name, monitors) in enumerate(LAYOUTS.items()):
        i = Input().range(0, 8, 1 + n % 8).range(0, 4, n % 5).u32(1000 * n)
        layout(i, monitors, primary_at_origin=name != "anywhere")
        s[name] = i.data()
    i = Input().range(0, 8, 2).range(0, 4, 0).u32(0)
    layout(i, [('raw', (5, 5, 5, 9)), ('raw', (0, 0, 10, 10))], raw=True)
    s["refused_empty_monitor"] = i.data()
    return s


def quads_layout_seeds():
    s = {}
    for n, name in enumerate(["single_1024x768", "left_of_primary", "above_with_gap", "overlapping_three",
                              "tiny_monitors", "anywhere"]):
        i = Input().range(1, 3, 1 + n % 3).range(0, 2, n % 3)
        layout(i, LAYOUTS[name], primary_at_origin=name != "anywhere")
        s[name] = i.data()
    return s


def write(target, seeds):
    directory = os.path.join(HERE, "corpus", target)
    os.makedirs(directory, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(directory, "seed_" + name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    write("fuzz_quit_rules", quit_rules_seeds())
    write("fuzz_layouts", layout_seeds())
    write("fuzz_quads_layouts", quads_layout_seeds())
