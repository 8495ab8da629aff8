#include "train/batch.h"

#include <algorithm>
#include <chrono>

#include "game/events.h"
#include "game/rules.h"
#include "session/session.h"

namespace {

constexpr int JOB_RESET = 0;
constexpr int JOB_STEP = 1;
constexpr std::uint32_t PRESS_BIT = 0x80000000u;
// Runs of equal actions kept before the first growth. An episode's record keeps its room
// for the next, so only an episode with more changes of action than any before it grows it.
constexpr std::size_t RUNS_RESERVED = 256;
// Mixed into an episode's seed for its sticky actions' generator, so that it draws
// nothing like the seed sequence's.
constexpr std::uint64_t STICKY_SALT = 0x5851f42d4c957f2dull;
// How long a thread watches for the next step before it sleeps: a step of a thousand
// games takes about a tenth of a millisecond, less than a sleeping thread takes to wake,
// and the caller's own work between two steps takes some more. Counted in time, not in
// turns of the loop: a pause lasts a few cycles on some processors and a hundred on others.
constexpr auto SPIN_TIME = std::chrono::microseconds(400);
// Turns of the loop between two looks at the clock.
constexpr int SPINS_PER_LOOK = 64;
// Games a thread takes at a time: enough to outweigh taking them, few enough that a thread
// slowed by another program leaves the rest to the others.
constexpr std::uint64_t SLICE = 32;

// Waits until value is no longer old: a while spinning, then asleep.
template <typename T>
void await_change(const std::atomic<T>& value, T old)
{
    const auto until = std::chrono::steady_clock::now() + SPIN_TIME;
    do {
        for (int i = 0; i < SPINS_PER_LOOK; ++i) {
            if (value.load(std::memory_order_acquire) != old)
                return;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
    } while (std::chrono::steady_clock::now() < until);
    value.wait(old);
}

// SplitMix64: small, fast and good enough for choosing seeds and sticky actions; the
// tunnel never draws from it.
std::uint64_t split_mix(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

// The newest block's own column at or behind the last column a block still covers the
// ship from (SHIP_COLUMN + OBSTACLE_WIDTH - 1): the block the ship is in or meets next.
// A block's own column is its leftmost, the first to reach the ship.
int next_block_column(std::uint32_t score)
{
    const int last = SHIP_COLUMN + OBSTACLE_WIDTH - 1;
    const std::int32_t d = generation_index(score, last);
    const int back = d >= 0 ? (OBSTACLE_SPACING - d % OBSTACLE_SPACING) % OBSTACLE_SPACING : -d;
    return last - back;
}

} // namespace

void observe(const GameState& game, float* obs)
{
    const float y = game.trail[0];
    obs[OBS_HEIGHT] = y;
    obs[OBS_VELOCITY] = game.velocity * VELOCITY_SCALE;
    obs[OBS_HELD] = game.accel > 0.0f ? 1.0f : 0.0f;
    // The reset's column holds the run's first block, so there is always one.
    const int block = next_block_column(game.score);
    const float center = game.obstacle_center[block];
    obs[OBS_BLOCK_DISTANCE] = static_cast<float>(SHIP_COLUMN - block) / OBSTACLE_SPACING;
    obs[OBS_BLOCK_BOTTOM] = center - OBSTACLE_HALF_HEIGHT - y;
    obs[OBS_BLOCK_TOP] = center + OBSTACLE_HALF_HEIGHT - y;
    for (int k = 0; k < LOOKAHEAD; ++k) {
        const int column = SHIP_COLUMN - k * LOOKAHEAD_STEP;
        const float g = half_gap(generation_index(game.score, column));
        const float center = game.tunnel_center[column];
        obs[OBS_WALLS + 2 * k] = center + g - y;
        obs[OBS_WALLS + 2 * k + 1] = center - g - y;
    }
}

const char* Batch::check(const BatchConfig& config)
{
    if (config.num_envs < 1)
        return "num_envs must be at least 1";
    static_assert(MAX_THREADS == 256, "the message below names the bound");
    if (config.num_threads < 0 || config.num_threads > MAX_THREADS)
        return "num_threads must be 0 (one per core) to 256";
    if (config.frame_skip < 1)
        return "frame_skip must be at least 1";
    if (config.max_episode_ticks < 0)
        return "max_episode_ticks must be 0 (no limit) or more";
    if (!(config.repeat_action_probability >= 0.0 && config.repeat_action_probability <= 1.0))
        return "repeat_action_probability must lie in [0, 1]";
    return nullptr;
}

Batch::Batch(const BatchConfig& config)
    : config_(config), envs_(static_cast<std::size_t>(config.num_envs))
{
    int threads = config.num_threads;
    if (threads == 0)
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    threads_ = std::min({threads, config.num_envs, MAX_THREADS});
    for (std::size_t i = 0; i < envs_.size(); ++i) {
        if (config.record)
            envs_[i].runs.reserve(RUNS_RESERVED);
        // Until the first reset chooses, game i's seeds follow from i.
        envs_[i].seed_stream = i;
        envs_[i].done = true;
    }
    parts_ = std::vector<Part>(static_cast<std::size_t>(threads_));
    for (int t = 0; t < threads_; ++t)
        parts_[static_cast<std::size_t>(t)].end = envs_.size() * static_cast<std::size_t>(t + 1)
                                                  / static_cast<std::size_t>(threads_);
    workers_.reserve(static_cast<std::size_t>(threads_));
    try {
        for (int t = 1; t < threads_; ++t)
            workers_.emplace_back([this, t] { worker(t); });
    } catch (...) {
        // A thread that cannot start (a process limit, say) leaves the others waiting for
        // work: they are stopped and joined here, since a vector of running threads that
        // is destroyed ends the process.
        stop_workers();
        throw;
    }
}

Batch::~Batch()
{
    stop_workers();
}

void Batch::stop_workers()
{
    stopping_ = true;
    generation_.fetch_add(1);
    generation_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

void Batch::set_ghost(const GhostRun& run)
{
    ghost_inputs_.assign(run.inputs, run.inputs + run.count);
    GhostRun own = run;
    own.inputs = ghost_inputs_.data();
    for (Env& env : envs_) {
        env.ghost = Ghost{};
        env.ghost.run = own;
    }
    has_ghost_ = true;
}

void Batch::observe_env(const Env& env, float* obs) const
{
    observe(env.session.game, obs);
    if (has_ghost_) {
        const Game& ghost = env.ghost.session.game;
        obs[OBS_GHOST_HEIGHT] = ghost.trail[0];
        obs[OBS_GHOST_FLYING] = (ghost.state & RUNNING) ? 1.0f : 0.0f;
    }
}

void Batch::start_episode(Env& env, std::uint32_t seed)
{
    // A race always flies the ghost's own tunnel.
    if (has_ghost_)
        seed = env.ghost.run.seed;
    // The session as the simulator starts it after "seed s", keeping the best of the
    // episodes before, then the press that starts the first run.
    const std::uint32_t best = env.session.game.high_score;
    session_start(env.session, seed);
    env.session.game.high_score = best;
    session_press(env.session);
    if (has_ghost_)
        ghost_start(env.ghost);
    env.seed = seed;
    env.sticky_stream = seed ^ STICKY_SALT;
    env.episode_ticks = 0;
    env.last_action = 1;
    env.done = false;
    env.runs.clear();
}

void Batch::step_one(Env& env, std::uint8_t action, float* obs, float* reward,
                     std::uint8_t* terminated, std::uint8_t* truncated)
{
    if (env.done) {
        start_episode(env, static_cast<std::uint32_t>(split_mix(env.seed_stream) >> 32));
        observe_env(env, obs);
        *reward = 0.0f;
        *terminated = 0;
        *truncated = 0;
        return;
    }
    const double p = config_.repeat_action_probability;
    if (p > 0.0 && static_cast<double>(split_mix(env.sticky_stream) >> 11) * 0x1.0p-53 < p)
        action = env.last_action;
    env.last_action = action;
    session_apply(env.session, {action ? Event::PRESS : Event::RELEASE, 1});

    std::int64_t ticks = config_.frame_skip;
    const std::int64_t limit = config_.max_episode_ticks;
    if (limit > 0)
        ticks = std::min(ticks, limit - env.episode_ticks);
    // Every tick exactly on time, as the simulator fires them.
    const Applied flown = session_apply(env.session, {Event::TICK, static_cast<std::uint64_t>(ticks)});
    const bool crashed = flown.crashed;
    const auto ran = static_cast<std::int64_t>(flown.ticks);
    env.episode_ticks += ran;
    if (has_ghost_)
        ghost_follow(env.ghost, ran);

    if (config_.record) {
        const std::uint32_t bit = action ? PRESS_BIT : 0;
        if (!env.runs.empty() && (env.runs.back() & PRESS_BIT) == bit
            && (env.runs.back() & ~PRESS_BIT) + ran < PRESS_BIT)
            env.runs.back() += static_cast<std::uint32_t>(ran);
        else
            env.runs.push_back(bit | static_cast<std::uint32_t>(ran));
    }
    observe_env(env, obs);
    *reward = static_cast<float>(ran);
    *terminated = crashed;
    *truncated = !crashed && limit > 0 && env.episode_ticks >= limit;
    env.done = *terminated || *truncated;
}

void Batch::run_slice(std::size_t begin, std::size_t end)
{
    for (std::size_t i = begin; i < end; ++i) {
        float* obs = obs_ + i * static_cast<std::size_t>(obs_size());
        if (job_ == JOB_RESET) {
            Env& env = envs_[i];
            const std::int64_t seed = seeds_[i];
            if (seed >= 0)
                env.seed_stream = static_cast<std::uint64_t>(seed);
            start_episode(env, seed >= 0 ? static_cast<std::uint32_t>(seed)
                                         : static_cast<std::uint32_t>(split_mix(env.seed_stream) >> 32));
            observe_env(env, obs);
        } else {
            step_one(envs_[i], actions_[i], obs, rewards_ + i, terminated_ + i, truncated_ + i);
        }
    }
}

void Batch::take_part(std::uint32_t generation, int index)
{
    Part& part = parts_[static_cast<std::size_t>(index)];
    std::uint64_t next = part.next.load(std::memory_order_acquire);
    for (;;) {
        const std::uint64_t begin = next & 0xffffffffu;
        if ((next >> 32) != generation || begin >= part.end)
            return;
        const std::uint64_t end = std::min(part.end, begin + SLICE);
        if (!part.next.compare_exchange_weak(next, (next & ~std::uint64_t{0xffffffffu}) | end,
                                             std::memory_order_acq_rel))
            continue;
        run_slice(begin, end);
        const auto count = static_cast<std::uint32_t>(end - begin);
        const auto n = static_cast<std::uint32_t>(envs_.size());
        if (games_done_.fetch_add(count, std::memory_order_acq_rel) + count == n)
            games_done_.notify_one();
        next = part.next.load(std::memory_order_acquire);
    }
}

void Batch::take_slices(std::uint32_t generation, int self)
{
    for (int k = 0; k < threads_; ++k)
        take_part(generation, (self + k) % threads_);
}

void Batch::worker(int self)
{
    std::uint32_t seen = 0;
    for (;;) {
        await_change(generation_, seen);
        seen = generation_.load(std::memory_order_acquire);
        if (stopping_)
            return;
        take_slices(seen, self);
    }
}

void Batch::run_job(int job)
{
    job_ = job;
    if (threads_ == 1) {
        run_slice(0, envs_.size());
        return;
    }
    const std::uint32_t generation = generation_.load() + 1;
    games_done_.store(0);
    for (std::size_t t = 0; t < parts_.size(); ++t)
        parts_[t].next.store(std::uint64_t{generation} << 32 | (t == 0 ? 0 : parts_[t - 1].end),
                             std::memory_order_release);
    generation_.store(generation, std::memory_order_release);
    generation_.notify_all();
    take_slices(generation, 0);
    const auto n = static_cast<std::uint32_t>(envs_.size());
    for (std::uint32_t done = games_done_.load(); done != n; done = games_done_.load())
        await_change(games_done_, done);
}

void Batch::reset(const std::int64_t* seeds, float* obs)
{
    seeds_ = seeds;
    obs_ = obs;
    run_job(JOB_RESET);
}

void Batch::step(const std::uint8_t* actions, float* obs, float* rewards, std::uint8_t* terminated,
                 std::uint8_t* truncated)
{
    actions_ = actions;
    obs_ = obs;
    rewards_ = rewards;
    terminated_ = terminated;
    truncated_ = truncated;
    run_job(JOB_STEP);
}

std::string Batch::recording(int i) const
{
    // The record keeps runs of equal actions; each run is whole steps of frame_skip ticks,
    // except that the episode's last step may have been cut short by its end.
    const Env& env = envs_[static_cast<std::size_t>(i)];
    const auto k = static_cast<std::uint32_t>(config_.frame_skip);
    const std::string press = event_word(Event::PRESS).word;
    const std::string release = event_word(Event::RELEASE).word;
    const std::string tick = std::string(event_word(Event::TICK).word) + ' ';
    const std::string skip = std::to_string(k);
    std::string text = std::string(event_word(Event::SEED).word) + ' ' + std::to_string(env.seed)
                       + '\n' + press + '\n';
    for (const std::uint32_t run : env.runs) {
        const std::string verb = ((run & PRESS_BIT) ? press : release) + '\n' + tick;
        const std::uint32_t ticks = run & ~PRESS_BIT;
        for (std::uint32_t step = 0; step < ticks / k; ++step)
            text += verb + skip + '\n';
        if (ticks % k != 0)
            text += verb + std::to_string(ticks % k) + '\n';
    }
    return text;
}
