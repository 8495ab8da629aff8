// Many games stepped side by side for an agent: each game flies its own episodes, one run
// each, and every step writes its observation, reward and episode end straight into the
// caller's arrays. The threads of a pool take the games a slice at a time, whichever is
// free first; games never touch each other, so which thread steps a game never changes
// what it does.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "game/state.h"
#include "session/ghost.h"
#include "session/session.h"

// The observation, field by field (the README's "Train an agent" lists the same): every
// height is in screen units relative to the ship, positive above it.
inline constexpr int OBS_HEIGHT = 0;        // the ship's height, -1 (floor of the window) to 1
inline constexpr int OBS_VELOCITY = 1;      // its speed, screen units per tick, times VELOCITY_SCALE
inline constexpr int OBS_HELD = 2;          // 1 while the button is held, else 0
inline constexpr int OBS_BLOCK_DISTANCE = 3; // ticks until the next block reaches the ship, / OBSTACLE_SPACING
inline constexpr int OBS_BLOCK_BOTTOM = 4;  // that block's lower edge
inline constexpr int OBS_BLOCK_TOP = 5;     // and its upper edge
inline constexpr int OBS_WALLS = 6;         // then, for each of the LOOKAHEAD columns: ceiling, floor
inline constexpr int LOOKAHEAD = 8;         // columns ahead sampled, the ship's own first
inline constexpr int LOOKAHEAD_STEP = 8;    // columns between two samples
inline constexpr int OBS_SIZE = OBS_WALLS + 2 * LOOKAHEAD;
// With a ghost to race, two more after those:
inline constexpr int OBS_GHOST_HEIGHT = OBS_SIZE;     // the ghost's height, -1 to 1, absolute
inline constexpr int OBS_GHOST_FLYING = OBS_SIZE + 1; // 1 while it has not crashed, else 0
inline constexpr int OBS_SIZE_GHOST = OBS_SIZE + 2;
inline constexpr float VELOCITY_SCALE = 20.0f;
// Threads a batch may ask for: more than any machine it runs on has cores, and few enough
// that a number gone wrong is refused rather than tried.
inline constexpr int MAX_THREADS = 256;

// How a batch is made; every field is checked by Batch::check.
struct BatchConfig {
    int num_envs = 1;
    int num_threads = 0;             // 0: one per core, never more than there are games or MAX_THREADS
    int frame_skip = 1;              // ticks per step, the action held for all of them
    std::int64_t max_episode_ticks = 0; // 0: no limit
    double repeat_action_probability = 0.0; // sticky actions, from a generator of their own
    bool record = true;              // keep each episode's actions for its script
};

class Batch {
public:
    // nullptr when the configuration is sound, else what is wrong with it.
    static const char* check(const BatchConfig& config);

    // Throws std::system_error when a thread of the pool cannot start, having stopped the
    // ones that did.
    explicit Batch(const BatchConfig& config);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    int size() const { return static_cast<int>(envs_.size()); }
    int threads() const { return threads_; }
    // Floats of one game's observation: OBS_SIZE, or OBS_SIZE_GHOST with a ghost.
    int obs_size() const { return has_ghost_ ? OBS_SIZE_GHOST : OBS_SIZE; }

    // Every game races the recorded run from now on: each episode starts from the ghost's
    // seed, the ghost flying beside the ship tick for tick, and the observations grow by
    // the ghost's two fields. The run's inputs are copied. Takes effect at the next reset.
    void set_ghost(const GhostRun& run);

    // Starts a new episode in every game: seeds[i] is its seed, or negative to take the
    // next seed of that game's own sequence. obs is size() * OBS_SIZE floats.
    void reset(const std::int64_t* seeds, float* obs);
    // One step of every game. actions: size() bytes, 0 or 1. A game whose last step ended
    // its episode starts the next one instead (next-step autoreset: its first observation,
    // reward 0, neither flag). Nothing is allocated, except when recording and an episode
    // changes its action more often than every episode of its game before it.
    void step(const std::uint8_t* actions, float* obs, float* rewards, std::uint8_t* terminated,
              std::uint8_t* truncated);

    // The simulator script of game i's episode so far: "seed s", "press", then for each
    // step "press" or "release" and "tick K".
    std::string recording(int i) const;
    const Game& game(int i) const { return envs_[static_cast<std::size_t>(i)].session.game; }
    std::uint32_t episode_seed(int i) const { return envs_[static_cast<std::size_t>(i)].seed; }
    // The best score of its episodes, as the picture shows it.
    std::uint32_t best_score(int i) const { return game(i).high_score; }

private:
    struct Env {
        Session session;                // the game, its clock and the best of its episodes
        std::int64_t episode_ticks = 0;
        std::uint64_t seed_stream = 0;  // where the next episode's seed comes from
        std::uint64_t sticky_stream = 0; // the sticky actions' draws
        std::uint32_t seed = 0;
        std::uint8_t last_action = 1;   // the episode starts with the button pressed
        bool done = false;
        std::vector<std::uint32_t> runs; // ticks per run of equal actions, the action in the top bit
        Ghost ghost;                    // flown only when the batch has one
    };
    void observe_env(const Env& env, float* obs) const;

    void start_episode(Env& env, std::uint32_t seed);
    void step_one(Env& env, std::uint8_t action, float* obs, float* reward, std::uint8_t* terminated,
                  std::uint8_t* truncated);
    void run_job(int job);
    // Steps slices of the job of generation until none is left: those of its own part
    // first, then what the other threads have not taken yet of theirs.
    void take_slices(std::uint32_t generation, int self);
    // Steps slices of one part of the games while the job of generation has some left.
    void take_part(std::uint32_t generation, int part);
    void run_slice(std::size_t begin, std::size_t end);
    void worker(int self);
    // Wakes every worker to stop and waits until each has.
    void stop_workers();

    static constexpr std::size_t CACHE_LINE = 64;

    BatchConfig config_;
    std::vector<Env> envs_;
    int threads_;
    bool has_ghost_ = false;
    std::vector<GhostInput> ghost_inputs_; // the ghost's run's, which every game's ghost reads

    // The job in flight, read by the workers after they see a new generation.
    int job_ = 0;
    const std::int64_t* seeds_ = nullptr;
    const std::uint8_t* actions_ = nullptr;
    float* obs_ = nullptr;
    float* rewards_ = nullptr;
    std::uint8_t* terminated_ = nullptr;
    std::uint8_t* truncated_ = nullptr;
    // Each counter that the threads write has a cache line of its own: one that shared a
    // line with the job above, or with another counter, would take it from every thread
    // that reads them at each slice, and two threads would step slower than one.
    alignas(CACHE_LINE) std::atomic<std::uint32_t> generation_{0};
    std::atomic<bool> stopping_{false};
    // The games are cut into one part per thread, and each thread steps its own part
    // first: a game stays in the cache of the core that stepped it last, where one moved
    // from core to core at each step would cost more than the step. A thread that is done
    // takes slices of the others' parts, so that one slowed by another program holds no
    // step up. For each part, the job's generation in the high half and the first game no
    // thread has taken yet in the low half: a thread that wakes too late for a job finds
    // another generation and takes nothing of the next.
    struct alignas(CACHE_LINE) Part {
        std::atomic<std::uint64_t> next{0};
        std::uint64_t end = 0;
    };
    std::vector<Part> parts_;
    alignas(CACHE_LINE) std::atomic<std::uint32_t> games_done_{0};
    alignas(CACHE_LINE) std::vector<std::thread> workers_;
};

// Writes the observation of a game into obs (OBS_SIZE floats).
void observe(const GameState& game, float* obs);
