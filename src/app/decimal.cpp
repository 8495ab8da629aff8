#include "app/decimal.h"

bool parse_count(const char* text, std::uint64_t* value)
{
    if (*text == '\0')
        return false;
    std::uint64_t n = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9')
            return false;
        const unsigned digit = static_cast<unsigned>(*text - '0');
        if (n > (UINT64_MAX - digit) / 10)
            return false;
        n = n * 10 + digit;
    }
    *value = n;
    return true;
}
