// The C interface over Batch: checks every argument, so that no caller can crash the
// process through it, and turns each failure into a code and a message.
#include "train/skarvolt_env.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <system_error>

#include "game/state.h"
#include "train/batch.h"
#include "train/render.h"

struct skv_batch {
    Batch batch;
    explicit skv_batch(const BatchConfig& config) : batch(config) {}
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

// Checks the handle and the game's index.
int check_env(const skv_batch* batch, int env)
{
    if (batch == nullptr)
        return fail(SKV_ERR_ARGUMENT, "no batch");
    if (env < 0 || env >= batch->batch.size())
        return fail(SKV_ERR_ARGUMENT, "game %d is not one of the batch's %d", env,
                    batch->batch.size());
    return SKV_OK;
}

} // namespace

extern "C" {

int skv_obs_size(void)
{
    return OBS_SIZE;
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
        return fail(SKV_ERR_NO_MEMORY, "cannot start the threads: %s", e.what());
    }
    return SKV_OK;
}

void skv_destroy(skv_batch* batch)
{
    delete batch;
}

int skv_num_threads(const skv_batch* batch)
{
    return batch ? batch->batch.threads() : 0;
}

int skv_reset(skv_batch* batch, const int64_t* seeds, float* obs)
{
    if (batch == nullptr || seeds == nullptr || obs == nullptr)
        return fail(SKV_ERR_ARGUMENT, "no batch, seeds or observations");
    for (int i = 0; i < batch->batch.size(); ++i)
        if (seeds[i] < -1 || seeds[i] > INT64_C(0xffffffff))
            return fail(SKV_ERR_ARGUMENT, "seed %lld of game %d is not -1 or 0 to 4294967295",
                        static_cast<long long>(seeds[i]), i);
    batch->batch.reset(seeds, obs);
    return SKV_OK;
}

int skv_step(skv_batch* batch, const uint8_t* actions, float* obs, float* rewards,
             uint8_t* terminated, uint8_t* truncated)
{
    if (batch == nullptr || actions == nullptr || obs == nullptr || rewards == nullptr
        || terminated == nullptr || truncated == nullptr)
        return fail(SKV_ERR_ARGUMENT, "no batch, actions or output arrays");
    const int n = batch->batch.size();
    std::uint8_t any = 0;
    for (int i = 0; i < n; ++i)
        any |= actions[i];
    if (any > 1)
        for (int i = 0; i < n; ++i)
            if (actions[i] > 1)
                return fail(SKV_ERR_ARGUMENT, "action %d of game %d is not 0 or 1", actions[i], i);
    batch->batch.step(actions, obs, rewards, terminated, truncated);
    return SKV_OK;
}

int skv_recording(const skv_batch* batch, int env, char* text, size_t size, size_t* length)
{
    if (const int wrong = check_env(batch, env))
        return wrong;
    if (length == nullptr || (text == nullptr && size > 0))
        return fail(SKV_ERR_ARGUMENT, "nowhere to put the recording");
    std::string script;
    try {
        script = batch->batch.recording(env);
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
    if (const int wrong = check_env(batch, env))
        return wrong;
    if (seed == nullptr || score == nullptr || best == nullptr)
        return fail(SKV_ERR_ARGUMENT, "nowhere to put the episode's numbers");
    *seed = batch->batch.episode_seed(env);
    *score = batch->batch.game(env).score;
    *best = batch->batch.best_score(env);
    return SKV_OK;
}

int skv_render(skv_batch* batch, int env, int width, int height, uint8_t* rgb)
{
    if (const int wrong = check_env(batch, env))
        return wrong;
    if (rgb == nullptr || width < 1 || height < 1 || width > 4096 || height > 4096)
        return fail(SKV_ERR_ARGUMENT, "a picture of %d x %d pixels cannot be drawn (1 to 4096 each way)",
                    width, height);
    if (!can_render())
        return fail(SKV_ERR_NO_RENDERER, "%s", render_game(Game{}, width, height, rgb));
    if (const char* wrong = render_game(batch->batch.game(env), width, height, rgb))
        return fail(SKV_ERR_RENDER, "%s", wrong);
    return SKV_OK;
}

const char* skv_last_error(void)
{
    return last_error;
}

} // extern "C"
