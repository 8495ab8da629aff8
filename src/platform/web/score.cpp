// The best score in the browser's storage: one number under one key, merged at every
// crash as the desktop merges its file (the higher wins). When the page may keep
// nothing (a private window, storage switched off) the score lives in memory only, and
// the console says so once.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <emscripten/emscripten.h>

#include "app/hooks.h"
#include "game/state.h"
#include "game/stored_score.h"
#include "store/high_score.h"

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

void sync_high_score(GameState& game)
{
    game.high_score = std::max(game.score, game.high_score);
    if (memory_only)
        return;

    char text[STORED_TEXT_SIZE] = "";
    const int found = storage_read(SCORE_STORAGE_KEY, text, sizeof text);
    if (found == UNAVAILABLE) {
        keep_in_memory();
        return;
    }
    const std::uint32_t stored = found == PRESENT ? parse_stored_score(text) : 0;
    game.high_score = std::max(stored, game.high_score);
    if (stored == game.high_score)
        return;
    std::snprintf(text, sizeof text, "%u", game.high_score);
    if (!storage_write(SCORE_STORAGE_KEY, text))
        keep_in_memory();
}
