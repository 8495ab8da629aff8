#include "sim/trace.h"

#include <charconv>
#include <cstddef>
#include <cstring>

#include "game/state.h"

namespace {

char* put_unsigned(char* first, char* last, unsigned value)
{
    return std::to_chars(first, last, value).ptr;
}

} // namespace

char* put_general9(char* first, char* last, float value)
{
    return std::to_chars(first, last, static_cast<double>(value), std::chars_format::general, 9)
        .ptr;
}

int format_tick(const GameState& game, char* text)
{
    char* const end = text + TICK_TEXT_MAX;
    char* p = put_unsigned(text, end, game.score);
    const float columns[] = {game.trail[0], game.velocity, game.tunnel_center[0],
                             game.obstacle_center[0]};
    for (const float value : columns) {
        *p++ = ' ';
        p = put_general9(p, end, value);
    }
    *p++ = '\n';
    if (game.state & CRASHED) {
        static constexpr char CRASH[] = "crash ";
        std::memcpy(p, CRASH, sizeof CRASH - 1);
        p += sizeof CRASH - 1;
        p = put_unsigned(p, end, game.score);
        *p++ = '\n';
    }
    return static_cast<int>(p - text);
}

void write_tick(const GameState& game, std::FILE* out)
{
    char text[TICK_TEXT_MAX];
    const int length = format_tick(game, text);
    std::fwrite(text, 1, static_cast<std::size_t>(length), out);
}
