#include "app/utf8.h"

long next_utf8(std::string_view text, std::size_t* at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(*at);
    int more = 0;
    long c = 0;
    long least = 0;
    if (lead < 0x80) {
        ++*at;
        return lead;
    } else if ((lead & 0xe0) == 0xc0) {
        more = 1, c = lead & 0x1f, least = 0x80;
    } else if ((lead & 0xf0) == 0xe0) {
        more = 2, c = lead & 0x0f, least = 0x800;
    } else if ((lead & 0xf8) == 0xf0) {
        more = 3, c = lead & 0x07, least = 0x10000;
    } else {
        return -1;
    }
    if (*at + more >= text.size())
        return -1;
    for (int i = 1; i <= more; ++i) {
        if ((byte(*at + i) & 0xc0) != 0x80)
            return -1;
        c = (c << 6) | (byte(*at + i) & 0x3f);
    }
    *at += static_cast<std::size_t>(more) + 1;
    if (c < least || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff))
        return -1;
    return c;
}

bool is_utf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();)
        if (next_utf8(text, &at) < 0)
            return false;
    return true;
}
