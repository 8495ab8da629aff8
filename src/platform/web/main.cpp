// The game in a web page: the start-up of the desktop game, with the page's address for
// the seed and the browser's storage for the best score.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <GL/freeglut.h>
#include <emscripten/emscripten.h>

#include "app/controls.h"
#include "app/decimal.h"
#include "app/shell.h"
#include "app/window.h"
#include "game/best.h"
#include "game/random.h"
#include "platform/web/glut_page.h"

namespace {

// The longest seed read: a simulator script's whole line, so that any seed a script
// gives plays here too, however many zeros lead it.
constexpr int SEED_TEXT_MAX = 255;

enum SeedText { NO_SEED = 0, SEED_WHOLE = 1, SEED_TOO_LONG = 2 };

// The address's "seed" parameter, written into text (SEED_TEXT_MAX + 1 bytes) with its
// length in bytes in *length, which counts any NUL byte in it (the address may spell one
// as %00): only a text whose length is that of the C string is the parameter whole.
EM_JS(int, page_seed_text, (char* text, int size, int* length), {
    const value = new URLSearchParams(window.location.search).get("seed");
    if (value === null)
        return 0;
    const bytes = lengthBytesUTF8(value);
    if (bytes >= size)
        return 2;
    stringToUTF8(value, text, size);
    HEAP32[length >> 2] = bytes;
    return 1;
});

// Tells the player, on the page, that the address's seed was not used.
EM_JS(void, show_seed_problem, (const char* why), {
    const note = document.getElementById("seed-problem");
    if (note) {
        note.textContent = "The address's seed " + UTF8ToString(why) +
                           ": this is a random tunnel.";
        note.hidden = false;
    }
});

// 64 bits from the browser's random source, as the desktop reads /dev/random.
EM_JS(void, browser_random_seed, (std::uint32_t* words), {
    const values = new Uint32Array(2);
    window.crypto.getRandomValues(values);
    HEAPU32[words >> 2] = values[0];
    HEAPU32[(words >> 2) + 1] = values[1];
});

// ?seed=N plays the tunnel of seed N, as a desktop game whose random device gave N, and
// N is read as the simulator reads --seed N. A wrong seed is said on the page and in the
// console, and a random tunnel is played.
void seed_from_page()
{
    std::uint64_t seed = 1;
    char text[SEED_TEXT_MAX + 1] = "";
    int length = 0;
    const int found = page_seed_text(text, sizeof text, &length);
    const bool whole = found == SEED_WHOLE && std::strlen(text) == static_cast<std::size_t>(length);
    if (whole && parse_count(text, &seed)) {
        random_seed(&game.random, static_cast<std::uint32_t>(seed));
        return;
    }
    if (found != NO_SEED) {
        char why[64];
        if (found == SEED_TOO_LONG)
            std::snprintf(why, sizeof why, "is longer than %d characters", SEED_TEXT_MAX);
        else if (!whole)
            std::snprintf(why, sizeof why, "holds a NUL character");
        else
            std::snprintf(why, sizeof why, "is not a whole number from 0 to 18446744073709551615");
        // The console shows the text, a NUL in it as \0; the page says what is wrong.
        std::fputs("Skarvolt: the seed ", stderr);
        if (found == SEED_WHOLE) {
            std::fputc('"', stderr);
            for (int i = 0; i < length; ++i) {
                if (text[i] == '\0')
                    std::fputs("\\0", stderr);
                else
                    std::fputc(text[i], stderr);
            }
            std::fputs("\" ", stderr);
        }
        std::fprintf(stderr, "%s; playing a random tunnel\n", why);
        show_seed_problem(why);
    }
    std::uint32_t words[2];
    browser_random_seed(words);
    seed = (static_cast<std::uint64_t>(words[1]) << 32) | words[0];
    random_seed(&game.random, static_cast<std::uint32_t>(seed));
}

} // namespace

// The page's settings (its panel, its address's parameters): the button toggled or held,
// the pace in percent, the keys as the button. The page calls it before the game starts
// and whenever the player changes them; a run in progress goes on at the new pace.
extern "C" EMSCRIPTEN_KEEPALIVE void page_controls(int toggle, int speed, int keys)
{
    if (speed < SLOWEST_SPEED || speed > FULL_SPEED)
        speed = FULL_SPEED;
    use_controls({.toggle = toggle != 0, .keys = keys != 0, .speed = speed});
}

// The page's "Play again", after a quit key: a new game in the same canvas, as a reload
// of the page would start it (the address's seed, the title screen), except that the best
// score stays even where the browser's storage keeps nothing.
extern "C" EMSCRIPTEN_KEEPALIVE void play_again()
{
    const std::uint32_t best = game.high_score;
    game = Game{};
    seed_from_page();
    open_title_screen();
    game.high_score = merge_best(game.high_score, best).best;
    glut_resume();
}

int main()
{
    char name[] = "skarvolt";
    char* argv[] = {name, nullptr};
    int argc = 1;
    open_window(&argc, argv);
    seed_from_page();
    open_title_screen();
    glutMainLoop();
    return 0;
}
