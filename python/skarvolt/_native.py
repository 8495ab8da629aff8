"""The C library under the package: one batch of games, its arrays and its calls."""

import ctypes
import os

import numpy as np

_LIBRARY_NAME = "libskarvolt_env.so"
SEED_LIMIT = 2**32  # seeds are 0 to 2**32 - 1, as the game's generator takes them

# How the recordings name the program that flew them: a leaderboard files them apart.
AGENT = b"skarvolt python"

_OK = 0
_ERR_ARGUMENT = 1
_ERR_NO_RENDERER = 3
_ERR_CLOSED = 6


class SkarvoltError(RuntimeError):
    """The game's library could not do what was asked (no memory, no off-screen drawing)."""


def _load():
    path = os.environ.get("SKARVOLT_LIBRARY") or os.path.join(
        os.path.dirname(os.path.abspath(__file__)), _LIBRARY_NAME)
    try:
        lib = ctypes.CDLL(path)
    except OSError as error:
        raise ImportError(f"skarvolt: cannot load the game's library {path}: {error}") from None
    p = ctypes.c_void_p
    i = ctypes.c_int
    signatures = {
        "skv_obs_size": ([], i),
        "skv_can_render": ([], i),
        "skv_window_width": ([], i),
        "skv_window_height": ([], i),
        "skv_tick_ms": ([], i),
        "skv_create": ([i, i, i, ctypes.c_int64, ctypes.c_double, i, ctypes.POINTER(p)], i),
        "skv_close": ([p], None),
        "skv_destroy": ([p], None),
        "skv_num_threads": ([p], i),
        "skv_reset": ([p, p, p], i),
        "skv_step": ([p, p, p, p, p, p], i),
        "skv_set_agent": ([p, ctypes.c_char_p], i),
        "skv_recording": ([p, i, ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(ctypes.c_size_t)], i),
        "skv_episode": ([p, i, p, p, p], i),
        "skv_render": ([p, i, i, i, p], i),
        "skv_set_ghost": ([p, ctypes.c_char_p, ctypes.c_size_t], i),
        "skv_batch_obs_size": ([p], i),
        "skv_last_error": ([], ctypes.c_char_p),
    }
    for name, (args, result) in signatures.items():
        function = getattr(lib, name)
        function.argtypes = args
        function.restype = result
    return lib


_lib = _load()
OBS_SIZE = _lib.skv_obs_size()
WINDOW_SIZE = (_lib.skv_window_width(), _lib.skv_window_height())  # in pixels
TICK_MS = _lib.skv_tick_ms()


def can_render():
    """True when this build draws the game's picture (it was built with OSMesa)."""
    return bool(_lib.skv_can_render())


def _check(code):
    if code == _OK:
        return
    message = _lib.skv_last_error().decode("utf-8", "replace")
    if code == _ERR_ARGUMENT:
        raise ValueError(message)
    if code == _ERR_CLOSED:
        # Another thread closed the environment while this one was on its way in.
        raise RuntimeError("the environment is closed")
    raise SkarvoltError(message)


class Batch:
    """num_envs games stepped together; the arrays are the batch's own and are written
    in place by every reset and step."""

    def __init__(self, num_envs, num_threads, frame_skip, max_episode_ticks,
                 repeat_action_probability, record, ghost=None):
        self._handle = None
        self.closed = True
        handle = ctypes.c_void_p()
        _check(_lib.skv_create(num_envs, num_threads, frame_skip, max_episode_ticks,
                               float(repeat_action_probability), 1 if record else 0,
                               ctypes.byref(handle)))
        self._handle = handle.value
        self.closed = False
        _check(_lib.skv_set_agent(self._handle, AGENT))
        if ghost is not None:
            text = ghost.encode("utf-8") if isinstance(ghost, str) else bytes(ghost)
            try:
                _check(_lib.skv_set_ghost(self._handle, text, len(text)))
            except BaseException:
                self.close()
                raise
        self.obs_size = _lib.skv_batch_obs_size(self._handle)
        self.num_envs = num_envs
        self.num_threads = _lib.skv_num_threads(self._handle)
        self.obs = np.zeros((num_envs, self.obs_size), dtype=np.float32)
        self.rewards = np.zeros(num_envs, dtype=np.float32)
        self.terminated = np.zeros(num_envs, dtype=np.uint8)
        self.truncated = np.zeros(num_envs, dtype=np.uint8)
        self.actions = np.zeros(num_envs, dtype=np.uint8)
        self.seeds = np.full(num_envs, -1, dtype=np.int64)
        self._step_args = (self._handle, self.actions.ctypes.data, self.obs.ctypes.data,
                           self.rewards.ctypes.data, self.terminated.ctypes.data,
                           self.truncated.ctypes.data)
        self._step = _lib.skv_step

    def reset(self):
        """Starts every game's next episode with self.seeds (-1: the game's next seed)."""
        _check(_lib.skv_reset(self._handle, self.seeds.ctypes.data, self.obs.ctypes.data))

    def step(self):
        """Steps every game with self.actions."""
        code = self._step(*self._step_args)
        if code:
            _check(code)

    def recording(self, index):
        length = ctypes.c_size_t()
        _check(_lib.skv_recording(self._handle, index, None, 0, ctypes.byref(length)))
        text = ctypes.create_string_buffer(length.value + 1)
        _check(_lib.skv_recording(self._handle, index, text, len(text), ctypes.byref(length)))
        return text.value.decode("ascii")

    def episode(self, index):
        """(seed, score, best score of its episodes) of game index."""
        numbers = np.zeros(3, dtype=np.uint32)
        data = numbers.ctypes.data
        _check(_lib.skv_episode(self._handle, index, data, data + 4, data + 8))
        return int(numbers[0]), int(numbers[1]), int(numbers[2])

    def render(self, index, width, height):
        picture = np.zeros((height, width, 3), dtype=np.uint8)
        _check(_lib.skv_render(self._handle, index, width, height, picture.ctypes.data))
        return picture

    def close(self):
        """Stops the games, once a step in flight in another thread is done; the handle
        stays until the batch is freed, so a call that another thread makes after this is
        an error, never a use of freed memory."""
        if not self.closed:
            self.closed = True
            _lib.skv_close(self._handle)

    def __del__(self):
        # No thread is in a call of this batch any more: each holds the batch while in one.
        handle, self._handle = getattr(self, "_handle", None), None
        if handle is not None:
            _lib.skv_destroy(handle)
