#include "app/options.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/decimal.h"
#include "game/pace.h"

namespace {

// GLUT's options (freeglut's glutInit), with whether each takes a value.
struct GlutOption {
    const char* name;
    bool value;
};
constexpr GlutOption GLUT_OPTIONS[] = {
    {"-display", true}, {"-geometry", true}, {"-iconic", false}, {"-indirect", false},
    {"-direct", false}, {"-gldebug", false}, {"-sync", false},
};

bool say(const char* program, const char* option, const char* what)
{
    std::fprintf(stderr, "%s: %s %s\n", program, option, what);
    return false;
}

// Edits (a character added, dropped or changed) that turn a into b, counting at most
// 32 characters of each: a mistyped option is short.
int distance(const char* a, const char* b)
{
    constexpr int LONGEST = 32;
    const int n = std::min(static_cast<int>(std::strlen(a)), LONGEST);
    const int m = std::min(static_cast<int>(std::strlen(b)), LONGEST);
    int row[LONGEST + 1];
    for (int j = 0; j <= m; ++j)
        row[j] = j;
    for (int i = 1; i <= n; ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= m; ++j) {
            const int above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[m];
}

// The option whose name is nearest the argument's (its value after "=" left out), of the
// game's and GLUT's.
const char* nearest_option(const char* arg)
{
    char name[40];
    std::snprintf(name, sizeof name, "%.*s", static_cast<int>(std::strcspn(arg, "=")), arg);
    const char* best = nullptr;
    int best_distance = 0;
    const auto consider = [&](const char* candidate) {
        const int d = distance(name, candidate);
        if (best == nullptr || d < best_distance) {
            best = candidate;
            best_distance = d;
        }
    };
    for (const Option& option : GAME_OPTIONS) {
        consider(option.name);
        if (option.alias != nullptr)
            consider(option.alias);
    }
    for (const GlutOption& option : GLUT_OPTIONS)
        consider(option.name);
    return best;
}

// Writes text with every byte a terminal could take as a command shown as \xHH.
void put_shown(const char* text)
{
    for (; *text != '\0'; ++text) {
        const unsigned char c = static_cast<unsigned char>(*text);
        if (c < 0x20 || c >= 0x7f || c == '\\')
            std::fprintf(stderr, "\\x%02x", c);
        else
            std::fputc(c, stderr);
    }
}

} // namespace

const Option GAME_OPTIONS[GAME_OPTION_COUNT] = {
    {"--toggle", nullptr, nullptr, nullptr, nullptr, 0, 0,
     "each press of the button flips the thrust: climb, fall, climb...;\n"
     "releases do nothing"},
    {"--speed", nullptr, "PERCENT", "a percentage from 50 to 100",
     "a whole percentage from 50 to 100", SLOWEST_SPEED, FULL_SPEED,
     "the game's pace, 50 to 100 (default 100); a run scores as ever"},
    {"--keys", nullptr, nullptr, nullptr, nullptr, 0, 0, "every key but q, Q and Esc is the button too"},
    {"--seed", nullptr, "N", "a number", "a whole number from 0 to 18446744073709551615", 0,
     UINT64_MAX, "every run flies the tunnel of seed N, to practise one tunnel"},
    {"--record", nullptr, "FILE", "a file name", nullptr, 0, 0,
     "record the session, to watch with --play or replay with skarvolt-sim"},
    {"--play", nullptr, "FILE", "a file name", nullptr, 0, 0,
     "watch a recorded session: Space pause, . step, Left/Right 5 s,\n"
     "Up/Down (+/-) speed, Page Up/Down run, Home start"},
    {"--version", "-v", nullptr, nullptr, nullptr, 0, 0, "print the version"},
    {"--help", "-h", nullptr, nullptr, nullptr, 0, 0, "print this summary"},
};

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

bool take_option(const char* program, const Option& option, int* argc, char** argv,
                 OptionGiven* given)
{
    *given = OptionGiven{};
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        const char* arg = argv[i];
        const char* value = nullptr;
        OptionValue match = OptionValue::NOT_IT;
        if (option.value != nullptr)
            match = match_option_value(*argc, argv, &i, option.name, &value);
        else if (std::strcmp(arg, option.name) == 0
                 || (option.alias != nullptr && std::strcmp(arg, option.alias) == 0))
            match = OptionValue::FOUND;
        if (match == OptionValue::NOT_IT) {
            argv[kept++] = argv[i];
            continue;
        }
        if (option.value == nullptr) {
            given->given = true;
            continue;
        }
        if (match == OptionValue::MISSING || (option.takes == nullptr && *value == '\0')) {
            char needs[64];
            std::snprintf(needs, sizeof needs, "needs %s", option.needs);
            return say(program, option.name, needs);
        }
        if (given->given)
            return say(program, option.name, "given twice");
        if (option.takes != nullptr
            && (!parse_count(value, &given->number) || given->number < option.least
                || given->number > option.most)) {
            char takes[80];
            std::snprintf(takes, sizeof takes, "takes %s", option.takes);
            return say(program, option.name, takes);
        }
        given->given = true;
        given->text = value;
    }
    if (*argc > 0) {
        argv[kept] = nullptr;
        *argc = kept;
    }
    return true;
}

bool is_glut_option(const char* arg, bool* takes_value)
{
    for (const GlutOption& option : GLUT_OPTIONS)
        if (std::strcmp(arg, option.name) == 0) {
            *takes_value = option.value;
            return true;
        }
    return false;
}

bool only_glut_arguments(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        bool takes_value = false;
        if (is_glut_option(argv[i], &takes_value)) {
            i += takes_value ? 1 : 0;
            continue;
        }
        std::fputs("skarvolt: ", stderr);
        if (argv[i][0] == '-') {
            std::fputs("unknown option ", stderr);
            put_shown(argv[i]);
            std::fprintf(stderr, " (the nearest is %s; --help lists them)\n", nearest_option(argv[i]));
        } else {
            std::fputs("unknown argument ", stderr);
            put_shown(argv[i]);
            std::fputs(" (--help lists the options)\n", stderr);
        }
        return false;
    }
    return true;
}

void print_options(const Option* options, std::size_t count)
{
    constexpr int COLUMN = 17; // where the help lines start
    for (std::size_t k = 0; k < count; ++k) {
        const Option& option = options[k];
        char left[40];
        std::snprintf(left, sizeof left, "  %s%s%s%s%s", option.alias ? option.alias : "",
                      option.alias ? ", " : "", option.name, option.value ? " " : "",
                      option.value ? option.value : "");
        std::printf("%-*s", COLUMN, left);
        if (static_cast<int>(std::strlen(left)) >= COLUMN)
            std::printf("\n%*s", COLUMN, "");
        for (const char* line = option.help; *line != '\0';) {
            const std::size_t n = std::strcspn(line, "\n");
            std::printf("%.*s\n", static_cast<int>(n), line);
            line += n;
            if (*line == '\n') {
                ++line;
                std::printf("%*s", COLUMN, "");
            }
        }
    }
}
