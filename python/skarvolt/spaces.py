"""The spaces: Gymnasium's where it is installed, else small stand-ins with the same calls
(sample, contains, seed, shape, dtype, n, nvec, low, high)."""

import numpy as np

try:
    from gymnasium.spaces import Box, Discrete, MultiDiscrete  # noqa: F401
    HAVE_GYMNASIUM = True
except ImportError:
    HAVE_GYMNASIUM = False


def _is_integer(x):
    return isinstance(x, (int, np.integer)) or (
        isinstance(x, np.ndarray) and x.shape == () and x.dtype.kind in "iub")


if not HAVE_GYMNASIUM:

    class _Space:
        def __init__(self, shape, dtype, seed):
            self.shape = shape
            self.dtype = np.dtype(dtype)
            self.np_random = np.random.default_rng(seed)

        def seed(self, seed=None):
            self.np_random = np.random.default_rng(seed)
            return [seed]

        def __contains__(self, x):
            return self.contains(x)

    class Discrete(_Space):
        """The whole numbers start, ..., start + n - 1."""

        def __init__(self, n, seed=None, start=0):
            super().__init__((), np.int64, seed)
            self.n = np.int64(n)
            self.start = np.int64(start)

        def sample(self):
            return np.int64(self.start + self.np_random.integers(self.n))

        def contains(self, x):
            return _is_integer(x) and self.start <= int(x) < self.start + self.n

        def __repr__(self):
            return f"Discrete({int(self.n)})"

        def __eq__(self, other):
            return isinstance(other, Discrete) and (self.n, self.start) == (other.n, other.start)

    class MultiDiscrete(_Space):
        """An array of whole numbers, element i from 0 to nvec[i] - 1."""

        def __init__(self, nvec, dtype=np.int64, seed=None):
            self.nvec = np.asarray(nvec, dtype=dtype)
            super().__init__(self.nvec.shape, dtype, seed)

        def sample(self):
            return self.np_random.integers(self.nvec).astype(self.dtype)

        def contains(self, x):
            x = np.asarray(x) if isinstance(x, (list, tuple)) else x
            return (isinstance(x, np.ndarray) and x.shape == self.shape and x.dtype.kind in "iu"
                    and bool(np.all((x >= 0) & (x < self.nvec))))

        def __repr__(self):
            return f"MultiDiscrete({self.nvec})"

        def __eq__(self, other):
            return isinstance(other, MultiDiscrete) and np.array_equal(self.nvec, other.nvec)

    class Box(_Space):
        """Arrays of the shape and dtype whose every element lies in [low, high]."""

        def __init__(self, low, high, shape=None, dtype=np.float32, seed=None):
            if shape is None:
                shape = np.shape(low)
            super().__init__(tuple(shape), dtype, seed)
            self.low = np.broadcast_to(np.asarray(low, dtype=self.dtype), self.shape).copy()
            self.high = np.broadcast_to(np.asarray(high, dtype=self.dtype), self.shape).copy()

        def sample(self):
            # Unbounded elements are drawn from a normal distribution, bounded ones uniformly,
            # as Gymnasium does.
            low = np.where(np.isfinite(self.low), self.low, -1.0)
            high = np.where(np.isfinite(self.high), self.high, 1.0)
            x = self.np_random.uniform(low, high, self.shape)
            unbounded = ~(np.isfinite(self.low) & np.isfinite(self.high))
            x[unbounded] = self.np_random.normal(size=int(unbounded.sum()))
            return x.astype(self.dtype)

        def contains(self, x):
            return (isinstance(x, np.ndarray) and x.shape == self.shape
                    and np.can_cast(x.dtype, self.dtype)
                    and bool(np.all((x >= self.low) & (x <= self.high))))

        def __repr__(self):
            return f"Box({self.shape}, {self.dtype})"

        def __eq__(self, other):
            return (isinstance(other, Box) and self.shape == other.shape
                    and np.array_equal(self.low, other.low) and np.array_equal(self.high, other.high))
