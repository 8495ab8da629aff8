// The best score in the browser's storage: one number under one key, loaded and saved
// as the desktop loads and saves its file, and read by the same reader. When the page
// may keep nothing (a private window, storage switched off) the score lives in memory
// only, and the console says so once.
#include <cstdint>
#include <cstdio>

#include <emscripten/emscripten.h>

#include "app/hooks.h"
#include "game/best.h"
#include "game/state.h"
#include "game/stored_score.h"

namespace {

constexpr char SCORE_STORAGE_KEY[] = "skarvolt.best-score";
constexpr int STORED_TEXT_SIZE = SCORE_READ_MAX + 1;

enum Stored : int { UNAVAILABLE = -1, ABSENT = 0, PRESENT = 1 };

bool memory_only = false;

// Copies at most size - 1 characters of the stored text into text, as the desktop reads
// at most that much of its file.
EM_JS(int, storage_read, (const char* key, char* text, int size), {
    let value;
    try {
        value = window.localStorage.getItem(UTF8ToString(key));
    } catch (error) {
        return -1;
    }
    if (value === null)
        return 0;
    stringToUTF8(value.substring(0, size - 1), text, size);
    return 1;
});

EM_JS(int, storage_write, (const char* key, const char* text), {
    try {
        window.localStorage.setItem(UTF8ToString(key), UTF8ToString(text));
        return 1;
    } catch (error) {
        return 0;
    }
});

EM_JS(void, console_warn, (const char* text), { console.warn(UTF8ToString(text)); });

void keep_in_memory()
{
    if (memory_only)
        return;
    memory_only = true;
    char line[160];
    std::snprintf(line, sizeof line,
                  "Skarvolt: this page may not keep \"%s\" in the browser's storage; the best "
                  "score lasts until the page is closed",
                  SCORE_STORAGE_KEY);
    console_warn(line);
}

} // namespace

std::uint32_t load_best_score(const GameState& /*game*/)
{
    if (memory_only)
        return 0;
    char text[STORED_TEXT_SIZE] = "";
    const int found = storage_read(SCORE_STORAGE_KEY, text, sizeof text);
    if (found == UNAVAILABLE)
        keep_in_memory();
    return found == PRESENT ? parse_stored_score(text) : 0;
}

SavedBest save_best_score(const GameState& game, std::uint32_t best)
{
    // Once the page may keep nothing, the best lives in the game's memory alone: there
    // is nothing to save it to, and nothing to try again on the way out.
    const std::uint32_t stored = load_best_score(game);
    if (memory_only)
        return {0, true};
    const BestMerge merge = merge_best(best, stored);
    if (!merge.store)
        return {stored, true};
    char text[STORED_TEXT_SIZE];
    std::snprintf(text, sizeof text, "%u", merge.best);
    if (!storage_write(SCORE_STORAGE_KEY, text))
        keep_in_memory();
    return {stored, true};
}
