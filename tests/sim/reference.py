#!/usr/bin/env python3
"""An independent model of a replay, for checking the stored traces.

usage: reference.py [--seed N] SCRIPT

A first event `seed N` in SCRIPT chooses the seed as it does for skarvolt-sim.

Flies the game's rules from scratch, with its own single-precision rounding and its own
copy of the C library's random() (the additive feedback generator of glibc), and prints
the trace that skarvolt-sim should print for SCRIPT. It shares no code with the game, so
a trace that both agree on was not merely copied from what the game happens to do.
"""
import struct
import sys


def f32(x):
    return struct.unpack('f', struct.pack('f', x))[0]


def signed(n):
    n &= 0xFFFFFFFF
    return n - (1 << 32) if n >= 1 << 31 else n


class Random:
    """glibc's random() after srandom(seed), its default state of 31 words."""

    def __init__(self, seed):
        seed &= 0xFFFFFFFF
        # The seed is unsigned, but the first word works on it as a signed 32-bit int: a
        # seed of 2^31 or more starts the Lehmer sequence from a negative number, with C's
        # division, which truncates towards zero.
        word = signed(seed if seed else 1)
        r = [word & 0xFFFFFFFF]
        for i in range(1, 31):
            hi = abs(word) // 127773 * (1 if word >= 0 else -1)
            lo = word - hi * 127773
            word = 16807 * lo - 2836 * hi
            if word < 0:
                word += 2147483647
            r.append(word)
        self.r = r + r[:3]  # the last 34 words; the feedback reads 31 and 3 back
        for _ in range(310):
            self.draw()

    def draw(self):
        r = self.r
        value = (r[-31] + r[-3]) & 0xFFFFFFFF
        r.append(value)
        del r[0]
        return value >> 1


THRUST = f32(0.001)


def half_gap(n):
    if n <= 0:
        return 1.0
    return f32(f32(0.2) + f32(4000.0 / f32(float(n) + 5000.0)))


class Game:
    def __init__(self, seed):
        self.random = Random(seed)
        self.state = 2
        self.pending = False
        self.start()

    def start(self):
        self.center = [0.0] * 144
        self.obstacle = [0.0] * 144
        self.trail = [0.0] * 48
        self.accel, self.velocity, self.score = -THRUST, 0.0, 0

    def mouse(self, down):
        if self.state & 1:
            self.accel = THRUST if down else -THRUST
        elif self.state & 2 and down:
            self.start()
            self.state, self.pending, self.accel = 1, True, THRUST

    def tick(self):
        self.pending = False
        self.velocity = f32(self.accel + self.velocity)
        y = f32(self.velocity + self.trail[0])
        self.score = (self.score + 1) & 0xFFFFFFFF
        g = half_gap(signed(self.score))
        self.trail = [y] + self.trail[:-1]
        t = f32(f32(f32(self.random.draw()) * f32(0.1)) / 2147483648.0)
        candidate = self.center[0] + (0.05 - t)
        low, high = f32(g - 1.0), f32(1.0 - g)
        taken = candidate if candidate > low else low
        c = f32(high if taken > high else taken)
        u = f32(f32(f32(f32(self.random.draw()) * 2.0) / 2147483648.0) - 1.0)
        self.center = [c] + self.center[:-1]
        self.obstacle = [f32(c + f32(f32(g - f32(0.3)) * u))] + self.obstacle[:-1]
        d = signed(self.score - 96)
        crashed = y > 1.0 or y < -1.0 or abs(f32(y - self.center[96])) >= half_gap(d)
        if not crashed and d > 0 and d % 50 < 3:
            crashed = abs(f32(y - self.obstacle[96 + d % 50])) < f32(0.15)
        if crashed:
            self.state = 4
        else:
            self.pending = True
        return crashed

    def frame(self):
        if self.state & 4:
            for _ in range(720):  # a colour and a length for each of the 360 rays
                self.random.draw()
            self.state |= 2


def main(argv):
    seed = 1
    if len(argv) >= 2 and argv[0] == '--seed':
        seed, argv = int(argv[1]), argv[2:]
    game = Game(seed)
    out = []
    for line in open(argv[0]):
        words = line.split('#')[0].split()
        if not words:
            continue
        if words[0] == 'seed':
            game.random = Random(int(words[1]))
        elif words[0] in ('press', 'release'):
            game.mouse(words[0] == 'press')
        elif words[0] == 'frame':
            game.frame()
        elif words[0] == 'tick':
            for _ in range(int(words[1]) if len(words) > 1 else 1):
                if not game.pending:
                    break
                crashed = game.tick()
                out.append('%d %.9g %.9g %.9g %.9g\n' % (game.score, game.trail[0], game.velocity,
                                                        game.center[0], game.obstacle[0]))
                if crashed:
                    out.append('crash %d\n' % game.score)
    sys.stdout.write(''.join(out))


if __name__ == '__main__':
    main(sys.argv[1:])
