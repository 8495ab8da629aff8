// The game in a web page: the start-up of the desktop game, with the page's address for
// the seed and the browser's storage for the best score.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <GL/freeglut.h>
#include <emscripten/emscripten.h>

#include "app/controls.h"
#include "app/shell.h"
#include "app/window.h"
#include "game/random.h"

namespace {

constexpr int SEED_TEXT_SIZE = 32;

// The text of the address's "seed" parameter: 0 when there is none, 1 when it is in text
// whole, 2 when it was too long and text holds only its beginning. No number needs that
// many characters, so a cut one is a wrong one, never the number its beginning spells.
EM_JS(int, page_seed_text, (char* text, int size), {
    const value = new URLSearchParams(window.location.search).get("seed");
    if (value === null)
        return 0;
    stringToUTF8(value, text, size);
    return value.length < size ? 1 : 2;
});

// 64 bits from the browser's random source, as the desktop reads /dev/random.
EM_JS(void, browser_random_seed, (std::uint32_t* words), {
    const values = new Uint32Array(2);
    window.crypto.getRandomValues(values);
    HEAPU32[words >> 2] = values[0];
    HEAPU32[(words >> 2) + 1] = values[1];
});

bool parse_seed(const char* text, std::uint64_t* seed)
{
    if (*text < '0' || *text > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    *seed = value;
    return true;
}

// ?seed=N plays the tunnel of seed N, as a desktop game whose random device gave N.
void seed_from_page()
{
    std::uint64_t seed = 1;
    char text[SEED_TEXT_SIZE] = "";
    if (page_seed_text(text, sizeof text) == 1 && parse_seed(text, &seed)) {
        random_seed(&game.random, static_cast<std::uint32_t>(seed));
        return;
    }
    if (text[0] != '\0')
        std::fprintf(stderr, "Skarvolt: the seed \"%s\" is not a whole number from 0 to "
                             "18446744073709551615; playing a random tunnel\n", text);
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
