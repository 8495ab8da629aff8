// The C interface over Batch: checks every argument, so that no caller can crash the
// process through it, and turns each failure into a code and a message.
#include "train/skarvolt_env.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>

#include "app/ghost.h"
#include "app/script.h"
#include "game/state.h"
#include "train/batch.h"
#include "train/render.h"
#include "version.h"

// A batch's games step on its pool as one job at a time, and the recording of a game is read
// while no step writes it: so every call on a batch takes its lock, and one thread that
// calls while another's call is in flight waits for it. Closing takes the lock too, so it
// waits for a step in flight, and leaves the handle: a call after it is an error, not a
// use of freed memory.
struct skv_batch {
    mutable std::mutex lock;
    std::unique_ptr<Batch> games; // none once closed
    std::string agent = "skarvolt library";
    explicit skv_batch(const BatchConfig& config) : games(std::make_unique<Batch>(config)) {}
};

namespace {

thread_local char last_error[256] = "";

int fail(int code, const char* format, ...) __attribute__((format(printf, 2, 3)));

int fail(int code, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(last_error, sizeof last_error, format, args);
    va_end(args);
    return code;
}

// With the batch's lock held: whether it is still open.
int check_open(const skv_batch& batch)
{
    if (!batch.games)
        return fail(SKV_ERR_CLOSED, "the batch is closed");
    return SKV_OK;
}

// With the batch's lock held: whether it is open and env one of its games.
int check_env(const skv_batch& batch, int env)
{
    if (const int wrong = check_open(batch))
        return wrong;
    if (env < 0 || env >= batch.games->size())
        return fail(SKV_ERR_ARGUMENT, "game %d is not one of the batch's %d", env,
                    batch.games->size());
    return SKV_OK;
}

using Hold = std::lock_guard<std::mutex>;

// Longest agent's name: its comment stays well within a recording's line.
constexpr std::size_t MAX_AGENT_NAME = 64;

} // namespace

extern "C" {

int skv_obs_size(void)
{
    return OBS_SIZE;
}

int skv_batch_obs_size(const skv_batch* batch)
{
    if (batch == nullptr)
        return 0;
    const Hold hold(batch->lock);
    return batch->games ? batch->games->obs_size() : 0;
}

int skv_set_ghost(skv_batch* batch, const char* text, size_t length)
{
    if (batch == nullptr || (text == nullptr && length > 0))
        return fail(SKV_ERR_ARGUMENT, "no batch or no text");
    const Hold hold(batch->lock);
    if (const int wrong = check_open(*batch))
        return wrong;
    if (length > MAX_RECORDING_BYTES)
        return fail(SKV_ERR_ARGUMENT, "the ghost's recording is larger than %llu bytes",
                    static_cast<unsigned long long>(MAX_RECORDING_BYTES));
    // Read from memory as a file: the reader of recordings takes a stream.
    std::FILE* file = open_text({text, length});
    if (file == nullptr)
        return fail(SKV_ERR_NO_MEMORY, "cannot read the ghost's recording: %s", std::strerror(errno));
    ScriptReader reader;
    GhostRecording ghost;
    bool found = false;
    ScriptRead read = ScriptRead::END;
    try {
        read = read_ghost_from(file, &reader, &ghost, &found);
    } catch (const std::bad_alloc&) {
        return fail(SKV_ERR_NO_MEMORY, "not enough memory to hold the ghost's run");
    }
    if (read == ScriptRead::BAD)
        return fail(SKV_ERR_ARGUMENT, "the ghost is no recording: line %lu: %s", reader.line,
                    reader.reason);
    if (!found)
        return fail(SKV_ERR_ARGUMENT, "the ghost cannot be raced: %s", NO_GHOST_RUN);
    try {
        batch->games->set_ghost(ghost.run());
    } catch (const std::bad_alloc&) {
        return fail(SKV_ERR_NO_MEMORY, "not enough memory to hold the ghost's run");
    }
    return SKV_OK;
}

int skv_window_width(void)
{
    return WINDOW_WIDTH;
}

int skv_window_height(void)
{
    return WINDOW_HEIGHT;
}

int skv_tick_ms(void)
{
    return static_cast<int>(TICK_MS);
}

int skv_can_render(void)
{
    return can_render() ? 1 : 0;
}

int skv_create(int num_envs, int num_threads, int frame_skip, int64_t max_episode_ticks,
               double repeat_action_probability, int record, skv_batch** out)
{
    if (out == nullptr)
        return fail(SKV_ERR_ARGUMENT, "nowhere to put the batch");
    *out = nullptr;
    BatchConfig config;
    config.num_envs = num_envs;
    config.num_threads = num_threads;
    config.frame_skip = frame_skip;
    config.max_episode_ticks = max_episode_ticks;
    config.repeat_action_probability = repeat_action_probability;
    config.record = record != 0;
    if (const char* wrong = Batch::check(config))
        return fail(SKV_ERR_ARGUMENT, "%s", wrong);
    try {
        *out = new skv_batch(config);
    } catch (const std::bad_alloc&) {
        return fail(SKV_ERR_NO_MEMORY, "not enough memory for %d games", num_envs);
    } catch (const std::system_error& e) {
        return fail(SKV_ERR_THREADS, "cannot start the batch's threads (%s): a smaller num_threads may do",
                    e.what());
    }
    return SKV_OK;
}

void skv_close(skv_batch* batch)
{
    if (batch == nullptr)
        return;
    const Hold hold(batch->lock);
    batch->games.reset();
}

void skv_destroy(skv_batch* batch)
{
    skv_close(batch);
    delete batch;
}

int skv_num_threads(const skv_batch* batch)
{
    if (batch == nullptr)
        return 0;
    const Hold hold(batch->lock);
    return batch->games ? batch->games->threads() : 0;
}

int skv_reset(skv_batch* batch, const int64_t* seeds, float* obs)
{
    if (batch == nullptr || seeds == nullptr || obs == nullptr)
        return fail(SKV_ERR_ARGUMENT, "no batch, seeds or observations");
    const Hold hold(batch->lock);
    if (const int wrong = check_open(*batch))
        return wrong;
    for (int i = 0; i < batch->games->size(); ++i)
        if (seeds[i] < -1 || seeds[i] > INT64_C(0xffffffff))
            return fail(SKV_ERR_ARGUMENT, "seed %lld of game %d is not -1 or 0 to 4294967295",
                        static_cast<long long>(seeds[i]), i);
    batch->games->reset(seeds, obs);
    return SKV_OK;
}

int skv_step(skv_batch* batch, const uint8_t* actions, float* obs, float* rewards,
             uint8_t* terminated, uint8_t* truncated)
{
    if (batch == nullptr || actions == nullptr || obs == nullptr || rewards == nullptr
        || terminated == nullptr || truncated == nullptr)
        return fail(SKV_ERR_ARGUMENT, "no batch, actions or output arrays");
    const Hold hold(batch->lock);
    if (const int wrong = check_open(*batch))
        return wrong;
    const int n = batch->games->size();
    std::uint8_t any = 0;
    for (int i = 0; i < n; ++i)
        any |= actions[i];
    if (any > 1)
        for (int i = 0; i < n; ++i)
            if (actions[i] > 1)
                return fail(SKV_ERR_ARGUMENT, "action %d of game %d is not 0 or 1", actions[i], i);
    batch->games->step(actions, obs, rewards, terminated, truncated);
    return SKV_OK;
}

int skv_set_agent(skv_batch* batch, const char* name)
{
    if (batch == nullptr || name == nullptr)
        return fail(SKV_ERR_ARGUMENT, "no batch or name");
    const std::size_t length = std::strlen(name);
    bool printable = length >= 1 && length <= MAX_AGENT_NAME;
    for (std::size_t i = 0; printable && i < length; ++i)
        printable = name[i] >= ' ' && name[i] <= '~';
    if (!printable)
        return fail(SKV_ERR_ARGUMENT, "an agent's name is 1 to %zu printable ASCII characters",
                    MAX_AGENT_NAME);
    const Hold hold(batch->lock);
    if (const int wrong = check_open(*batch))
        return wrong;
    try {
        batch->agent = name;
    } catch (const std::bad_alloc&) {
        return fail(SKV_ERR_NO_MEMORY, "not enough memory for the agent's name");
    }
    return SKV_OK;
}

int skv_recording(const skv_batch* batch, int env, char* text, size_t size, size_t* length)
{
    if (batch == nullptr)
        return fail(SKV_ERR_ARGUMENT, "no batch");
    const Hold hold(batch->lock);
    if (const int wrong = check_env(*batch, env))
        return wrong;
    if (length == nullptr || (text == nullptr && size > 0))
        return fail(SKV_ERR_ARGUMENT, "nowhere to put the recording");
    std::string script;
    try {
        // A recording as the game's own, so that every reader (the viewer, a leaderboard)
        // takes it as one, and says which program flew it.
        script = std::string(RECORDING_HEADER_START) + VERSION + RECORDING_HEADER_END + '\n'
                 + RECORDING_AGENT + batch->agent + '\n' + batch->games->recording(env);
    } catch (const std::bad_alloc&) {
        return fail(SKV_ERR_NO_MEMORY, "not enough memory for the recording");
    }
    *length = script.size();
    if (size > 0) {
        const std::size_t n = script.size() < size ? script.size() : size - 1;
        std::memcpy(text, script.data(), n);
        text[n] = '\0';
    }
    return SKV_OK;
}

int skv_episode(const skv_batch* batch, int env, uint32_t* seed, uint32_t* score, uint32_t* best)
{
    if (batch == nullptr)
        return fail(SKV_ERR_ARGUMENT, "no batch");
    const Hold hold(batch->lock);
    if (const int wrong = check_env(*batch, env))
        return wrong;
    if (seed == nullptr || score == nullptr || best == nullptr)
        return fail(SKV_ERR_ARGUMENT, "nowhere to put the episode's numbers");
    *seed = batch->games->episode_seed(env);
    *score = batch->games->game(env).score;
    *best = batch->games->best_score(env);
    return SKV_OK;
}

int skv_render(skv_batch* batch, int env, int width, int height, uint8_t* rgb)
{
    if (batch == nullptr)
        return fail(SKV_ERR_ARGUMENT, "no batch");
    const Hold hold(batch->lock);
    if (const int wrong = check_env(*batch, env))
        return wrong;
    if (rgb == nullptr)
        return fail(SKV_ERR_ARGUMENT, "nowhere to put the picture");
    if (width < 1 || height < 1 || width > 4096 || height > 4096)
        return fail(SKV_ERR_ARGUMENT, "a picture of %d x %d pixels cannot be drawn (1 to 4096 each way)",
                    width, height);
    if (!can_render())
        return fail(SKV_ERR_NO_RENDERER, "%s", render_game(Game{}, width, height, rgb));
    if (const char* wrong = render_game(batch->games->game(env), width, height, rgb))
        return fail(SKV_ERR_RENDER, "%s", wrong);
    return SKV_OK;
}

const char* skv_last_error(void)
{
    return last_error;
}

} // extern "C"
