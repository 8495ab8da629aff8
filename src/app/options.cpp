#include "app/options.h"

#include <cstring>

OptionValue match_option_value(int argc, char** argv, int* i, const char* option,
                               const char** value)
{
    const char* arg = argv[*i];
    const std::size_t length = std::strlen(option);
    if (std::strcmp(arg, option) == 0) {
        if (*i + 1 == argc)
            return OptionValue::MISSING;
        *value = argv[++*i];
        return OptionValue::FOUND;
    }
    if (std::strncmp(arg, option, length) == 0 && arg[length] == '=') {
        *value = arg + length + 1;
        return OptionValue::FOUND;
    }
    return OptionValue::NOT_IT;
}
