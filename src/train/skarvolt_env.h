/* The game as a batch of reinforcement-learning environments, for any language that can
 * call C: one handle steps many games side by side on a pool of threads, writing into the
 * caller's arrays. Every call returns SKV_OK or an error code; skv_last_error() then says
 * what was wrong, in one line, for the calling thread. A batch may be called from several
 * threads: its calls take turns, each waiting for the one in flight. */
#ifndef SKARVOLT_ENV_H
#define SKARVOLT_ENV_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef SKV_API
#define SKV_API
#endif

#define SKV_OK 0
#define SKV_ERR_ARGUMENT 1     /* a bad argument: nothing was done */
#define SKV_ERR_NO_MEMORY 2
#define SKV_ERR_NO_RENDERER 3  /* built without OSMesa */
#define SKV_ERR_RENDER 4       /* OSMesa would not draw */
#define SKV_ERR_THREADS 5      /* a thread of the pool could not start: no batch was made */
#define SKV_ERR_CLOSED 6       /* the batch was closed */

typedef struct skv_batch skv_batch;

/* Floats in one game's observation. */
SKV_API int skv_obs_size(void);
/* The game's window as it opens, in pixels: the pictures' size unless asked otherwise. */
SKV_API int skv_window_width(void);
SKV_API int skv_window_height(void);
/* Milliseconds of one tick at the full pace: a step of frame_skip ticks is that many times
 * this long in the game's time. */
SKV_API int skv_tick_ms(void);
/* 1 when skv_render can draw. */
SKV_API int skv_can_render(void);

/* num_threads 0: one per core, else at most 256. max_episode_ticks 0: no limit. record:
 * keep each episode's actions for skv_recording. */
SKV_API int skv_create(int num_envs, int num_threads, int frame_skip, int64_t max_episode_ticks,
               double repeat_action_probability, int record, skv_batch** out);
/* Stops the batch and frees its games, once a call in flight on it has returned; every
 * later call but skv_destroy is SKV_ERR_CLOSED. */
SKV_API void skv_close(skv_batch* batch);
/* Closes the batch and frees the handle: no call on it may be in flight or come after. */
SKV_API void skv_destroy(skv_batch* batch);
/* 0 once closed. */
SKV_API int skv_num_threads(const skv_batch* batch);

/* seeds: one per game, 0 to 2^32-1, or -1 for the next seed of the game's own sequence.
 * obs: num_envs * skv_obs_size() floats. */
SKV_API int skv_reset(skv_batch* batch, const int64_t* seeds, float* obs);
/* actions: num_envs bytes, each 0 (release) or 1 (hold). rewards: floats; terminated and
 * truncated: bytes. A game whose episode ended on its last step starts the next one. */
SKV_API int skv_step(skv_batch* batch, const uint8_t* actions, float* obs, float* rewards,
             uint8_t* terminated, uint8_t* truncated);

/* Names the program that flies the batch's games in their recordings ("# agent: NAME"):
 * 1 to 64 printable ASCII characters. The default is "skarvolt library". */
SKV_API int skv_set_agent(skv_batch* batch, const char* name);

/* Every game of the batch races the ghost of a recording from its next reset on: text
 * (length bytes, no NUL needed) is a recording whose first run starts from its seed and
 * ends in a crash. Each episode then flies that run's seed, the ghost beside the ship tick
 * for tick, and every observation gains two floats (skv_batch_obs_size): the ghost's
 * height and 1 while it flies, else 0. SKV_ERR_ARGUMENT, with the reader's reason, for a
 * text that is no recording or holds no such run. */
SKV_API int skv_set_ghost(skv_batch* batch, const char* text, size_t length);
/* Floats in one game's observation in this batch: skv_obs_size(), 2 more with a ghost. */
SKV_API int skv_batch_obs_size(const skv_batch* batch);

/* The recording of game env's episode so far, NUL-terminated in text (size bytes): the
 * header of a recording, the agent's comment, then the simulator script of the episode;
 * *length is its length without the NUL, so a call with size 0 asks how much is needed. */
SKV_API int skv_recording(const skv_batch* batch, int env, char* text, size_t size, size_t* length);
/* The seed of game env's episode, its score so far and the best score of its episodes. */
SKV_API int skv_episode(const skv_batch* batch, int env, uint32_t* seed, uint32_t* score, uint32_t* best);

/* Draws game env's picture as the window of width x height shows it: height rows of
 * width * 3 bytes (RGB), the top row first. */
SKV_API int skv_render(skv_batch* batch, int env, int width, int height, uint8_t* rgb);

SKV_API const char* skv_last_error(void);

#ifdef __cplusplus
}
#endif

#endif
