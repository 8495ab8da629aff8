"""The game as Gymnasium environments: Env (one game) and VectorEnv (many, stepped together
on a pool of threads)."""

import inspect
import secrets

import numpy as np

from . import _native
from .spaces import HAVE_GYMNASIUM, Box, Discrete, MultiDiscrete

if HAVE_GYMNASIUM:
    import gymnasium
    _EnvBase = gymnasium.Env
    _VectorBase = gymnasium.vector.VectorEnv
else:
    _EnvBase = object
    _VectorBase = object

OBS_SIZE = _native.OBS_SIZE
WINDOW_SIZE = _native.WINDOW_SIZE  # the game's window, width and height in pixels
TICKS_PER_SECOND = 1000 / _native.TICK_MS
# The C library counts games and threads in a C int and runs at most 256 threads: a larger
# number is refused here, before ctypes would cut it to its low 32 bits.
_MAX_ENVS = 2**31 - 1
_MAX_THREADS = 256


def _observation_space(size=OBS_SIZE, seed=None):
    high = np.full(size, np.inf, dtype=np.float32)
    return Box(-high, high, dtype=np.float32, seed=seed)


def _check_seed(seed):
    if isinstance(seed, bool) or not isinstance(seed, (int, np.integer)):
        raise TypeError(f"a seed is a whole number from 0 to {_native.SEED_LIMIT - 1}, not {seed!r}")
    if not 0 <= int(seed) < _native.SEED_LIMIT:
        raise ValueError(f"seed {seed} is outside 0 to {_native.SEED_LIMIT - 1}")
    return int(seed)


def _check_options(render_mode, frame_skip, max_episode_ticks, repeat_action_probability,
                   render_size):
    if render_mode not in (None, "rgb_array"):
        raise ValueError(f"render_mode {render_mode!r} is not None or 'rgb_array'")
    if render_mode == "rgb_array" and not _native.can_render():
        raise _native.SkarvoltError("render_mode 'rgb_array' needs a build of skarvolt with OSMesa "
                                    "(package libosmesa6-dev)")
    for name, value in (("frame_skip", frame_skip), ("max_episode_ticks", max_episode_ticks or 0)):
        if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
            raise TypeError(f"{name} must be a whole number, not {value!r}")
    if not 1 <= frame_skip < 2**31:
        raise ValueError(f"frame_skip {frame_skip} must be 1 to {2**31 - 1}")
    if max_episode_ticks is not None and not 0 < max_episode_ticks < 2**63:
        raise ValueError(f"max_episode_ticks {max_episode_ticks} must be None or 1 to {2**63 - 1}")
    if not 0.0 <= float(repeat_action_probability) <= 1.0:
        raise ValueError(f"repeat_action_probability {repeat_action_probability} is outside [0, 1]")
    # Checked here, not at the first picture: a size that cannot be drawn is known now.
    try:
        size = tuple(render_size)
    except TypeError:
        size = ()
    if len(size) != 2 or not all(isinstance(n, (int, np.integer)) and not isinstance(n, bool)
                                 for n in size):
        raise TypeError(f"render_size must be (width, height) in whole pixels, not {render_size!r}")
    if not all(1 <= n <= 4096 for n in size):
        raise ValueError(f"render_size {render_size} must be 1 to 4096 pixels each way")


class _Games:
    """What Env and VectorEnv share: the batch, its seeding and its pictures."""

    metadata = {"render_modes": ["rgb_array"], "render_fps": TICKS_PER_SECOND}

    def _open(self, arguments, num_envs, num_threads):
        """arguments: the constructor's, by name (its locals() on entry), for the options
        and to say how to make an equal environment."""
        self._arguments = {k: v for k, v in arguments.items() if k not in ("self", "__class__")}
        render_mode, frame_skip, max_episode_ticks, repeat_action_probability, record, \
            render_size = (arguments[name] for name in (
                "render_mode", "frame_skip", "max_episode_ticks", "repeat_action_probability",
                "record", "render_size"))
        _check_options(render_mode, frame_skip, max_episode_ticks, repeat_action_probability,
                       render_size)
        self.render_mode = render_mode
        self.frame_skip = int(frame_skip)
        self.max_episode_ticks = max_episode_ticks
        self.render_size = (int(render_size[0]), int(render_size[1]))
        self._record = bool(record)
        self._batch = _native.Batch(num_envs, num_threads, self.frame_skip,
                                    int(max_episode_ticks or 0), repeat_action_probability, record,
                                    arguments.get("ghost"))
        self._seeded = False

    def _live_batch(self):
        if self._batch is None or self._batch.closed:
            raise RuntimeError("the environment is closed")
        return self._batch

    def _start(self, seeds):
        """Starts every game's episode: seeds, one per game, None for its next seed."""
        batch = self._live_batch()
        if not self._seeded and any(s is None for s in seeds):
            # An environment never seeded draws its games' seed sequences from the system.
            base = secrets.randbelow(_native.SEED_LIMIT)
            seeds = [(base + i) % _native.SEED_LIMIT if s is None else s
                     for i, s in enumerate(seeds)]
        batch.seeds[:] = [-1 if s is None else s for s in seeds]
        batch.reset()
        self._seeded = True

    def _picture(self, index):
        if self.render_mode is None:
            return None
        width, height = self.render_size
        return self._live_batch().render(index, width, height)

    def recording(self, index=0):
        """The recording of the current episode so far, as the game writes one, naming the
        agent ("# agent: skarvolt python"): `skarvolt-sim` replays it to the same score,
        `skarvolt --play` shows it, and a leaderboard server takes it as a program's run."""
        batch = self._live_batch()
        if not self._record:
            raise RuntimeError("this environment was made with record=False and keeps no recording")
        return batch.recording(index)

    def episode_seed(self, index=0):
        """The seed of the current episode: its tunnel is the game's first run with it."""
        return self._live_batch().episode(index)[0]

    def __reduce_ex__(self, protocol):
        # Reached by pickle, copy and deepcopy alike: the games live in the C library, where
        # neither can reach them.
        cls = type(self)
        parameters = inspect.signature(cls.__init__).parameters
        shown = []
        for name, value in self._arguments.items():
            default = parameters[name].default
            if default is inspect.Parameter.empty:
                shown.append(repr(value))
            elif name == "ghost" and value is not None:
                # A recording may run to megabytes: named, not written out.
                shown.append("ghost=<the same recording>")
            elif not (value is default or value == default):
                shown.append(f"{name}={value!r}")
        raise TypeError(
            f"a {cls.__module__.split('.')[0]}.{cls.__name__} cannot be pickled or copied: its "
            f"games run in the game's C library. Make an equal one with "
            f"skarvolt.{cls.__name__}({', '.join(shown)}) and reset(seed=...) with the same "
            f"seed; recording() lists the actions that brought a game to where it is")

    def close(self):
        # Also when the constructor failed before the batch was made.
        batch = getattr(self, "_batch", None)
        if batch is not None:
            batch.close()


class Env(_Games, _EnvBase):
    """One game, one run an episode.

    Actions: Discrete(2): 1 holds the button, 0 releases it, for frame_skip ticks.
    An episode with seed s is the game's first run after seeding with s: the simulator
    script `seed s`, `press`, then for each step `press` or `release` and `tick K`.
    Reward: 1 for each tick survived, so an episode's return is its score. terminated: the
    ship crashed; truncated: the episode reached max_episode_ticks.

    Observation (float32, heights in screen units relative to the ship, positive above it;
    the window spans -1 to 1):
      0  the ship's height (absolute, -1 to 1)
      1  its speed, screen units per tick, times 20 (positive climbing)
      2  1 while the button is held, else 0
      3  ticks until the next block reaches the ship, / 50 (0 to -0.04 while the ship is
         in it; the run's first block stands in the column the run starts with, 96 ahead)
      4  that block's lower edge
      5  that block's upper edge
      6  .. 21  for the ship's column and each 8th column ahead (0, 8, ..., 56 columns
         ahead): the ceiling, then the floor of the passage there
    With ghost=TEXT, the text of a recording, every episode races the ghost of its first
    run (it must start from the recording's seed and end in a crash): each episode flies
    that run's seed, the ghost beside the ship tick for tick, and two more fields follow:
      22  the ghost's height (absolute, -1 to 1)
      23  1 while the ghost flies, 0 once it has crashed
    A text that is no such recording is a ValueError naming the reason.
    """

    def __init__(self, render_mode=None, frame_skip=1, max_episode_ticks=None,
                 repeat_action_probability=0.0, record=True, render_size=WINDOW_SIZE,
                 ghost=None):
        self._open(locals(), 1, 1)
        self.action_space = Discrete(2)
        self.observation_space = _observation_space(self._batch.obs_size)
        self._needs_reset = True
        b = self._batch
        self._obs, self._rewards, self._terminated, self._truncated, self._actions = (
            b.obs[0], b.rewards, b.terminated, b.truncated, b.actions)

    def reset(self, *, seed=None, options=None):
        if seed is not None:
            seed = _check_seed(seed)
        if HAVE_GYMNASIUM:
            super().reset(seed=seed)
        self._start([seed])
        self._needs_reset = False
        return self._obs.copy(), {"seed": self.episode_seed()}

    def step(self, action):
        batch = self._live_batch()
        if self._needs_reset:
            raise RuntimeError("the episode has ended (or not begun): call reset() first")
        if not (type(action) is int and 0 <= action <= 1):
            if not self.action_space.contains(action):
                raise ValueError(f"action {action!r} is not in {self.action_space}: "
                                 "0 (release) or 1 (hold)")
            action = int(action)
        self._actions[0] = action
        batch.step()
        terminated = bool(self._terminated[0])
        truncated = bool(self._truncated[0])
        self._needs_reset = terminated or truncated
        return self._obs.copy(), float(self._rewards[0]), terminated, truncated, {}

    def render(self):
        """The picture of the window (render_size, the window's 400 x 300 by default) as an
        (H, W, 3) uint8 array, with render_mode "rgb_array"; None without a render_mode."""
        return self._picture(0)


class VectorEnv(_Games, _VectorBase):
    """num_envs games stepped together on num_threads threads (0: one per core), each as
    Env describes. Autoreset is Gymnasium's "next step": the step after one that ended a
    game's episode starts its next one, giving its first observation, reward 0 and
    neither flag, and ignoring its action. The trajectories do not depend on num_threads
    or num_envs: game i of any batch, seeded alike, flies alike. With ghost=TEXT every
    game races the same ghost, as Env describes, each beside its own: every episode flies
    the ghost's seed, and each game's observation has the ghost's two fields."""

    def __init__(self, num_envs, render_mode=None, frame_skip=1, max_episode_ticks=None,
                 repeat_action_probability=0.0, num_threads=0, record=True,
                 render_size=WINDOW_SIZE, ghost=None):
        arguments = dict(locals())  # before any other local name is made
        if isinstance(num_envs, bool) or not isinstance(num_envs, (int, np.integer)) or num_envs < 1:
            raise ValueError(f"num_envs must be a whole number of at least 1, not {num_envs!r}")
        if num_envs > _MAX_ENVS:
            raise ValueError(f"num_envs {num_envs} is too many: a batch holds at most {_MAX_ENVS} games")
        if isinstance(num_threads, bool) or not isinstance(num_threads, (int, np.integer)) \
                or not 0 <= num_threads <= _MAX_THREADS:
            raise ValueError(f"num_threads must be 0 (one per core) to {_MAX_THREADS}, not {num_threads!r}")
        self._open(arguments, int(num_envs), int(num_threads))
        self.num_envs = int(num_envs)
        self.num_threads = self._batch.num_threads
        self.single_action_space = Discrete(2)
        size = self._batch.obs_size
        self.single_observation_space = _observation_space(size)
        self.action_space = MultiDiscrete(np.full(self.num_envs, 2))
        high = self.single_observation_space.high
        self.observation_space = Box(np.broadcast_to(-high, (self.num_envs, size)),
                                     np.broadcast_to(high, (self.num_envs, size)), dtype=np.float32)
        self.metadata = dict(_Games.metadata)
        if HAVE_GYMNASIUM and hasattr(gymnasium.vector, "AutoresetMode"):
            self.metadata["autoreset_mode"] = gymnasium.vector.AutoresetMode.NEXT_STEP
        else:
            self.metadata["autoreset_mode"] = "NextStep"  # the value of Gymnasium's NEXT_STEP
        self._started = False

    def reset(self, *, seed=None, options=None):
        """seed: None (every game's next seed), a whole number s (game i gets s + i) or a
        list of num_envs seeds or Nones."""
        if seed is None:
            seeds = [None] * self.num_envs
        elif isinstance(seed, (list, tuple, np.ndarray)):
            if len(seed) != self.num_envs:
                raise ValueError(f"{len(seed)} seeds for {self.num_envs} games")
            seeds = [None if s is None else _check_seed(s) for s in seed]
        else:
            seeds = [_check_seed(seed) + i for i in range(self.num_envs)]
            if seeds[-1] >= _native.SEED_LIMIT:
                raise ValueError(f"seed {seed} + {self.num_envs - 1} is beyond {_native.SEED_LIMIT - 1}")
        self._start(seeds)
        self._started = True
        return self._batch.obs.copy(), {}

    def step(self, actions):
        batch = self._live_batch()
        if not self._started:
            raise RuntimeError("call reset() before the first step")
        if not isinstance(actions, np.ndarray):
            actions = np.asarray(actions)
        if actions.shape != (self.num_envs,):
            raise ValueError(f"actions must have the shape ({self.num_envs},), not {actions.shape}")
        kind = actions.dtype.kind
        if kind == "b" or actions.dtype == np.uint8:
            batch.actions[:] = actions
        elif kind in "iu":
            if not np.all((actions >= 0) & (actions <= 1)):
                bad = int(np.flatnonzero((actions < 0) | (actions > 1))[0])
                raise ValueError(f"action {actions[bad]} of game {bad} is not 0 (release) or 1 (hold)")
            batch.actions[:] = actions
        else:
            raise TypeError(f"actions must be whole numbers (0 or 1), not of dtype {actions.dtype}")
        batch.step()
        return (batch.obs.copy(), batch.rewards.copy(), batch.terminated.astype(bool),
                batch.truncated.astype(bool), {})

    def render(self):
        """One picture per game (see Env.render), or None without a render_mode."""
        if self.render_mode is None:
            return None
        return tuple(self._picture(i) for i in range(self.num_envs))
