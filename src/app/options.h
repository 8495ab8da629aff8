// The command line: one table of a program's options (name, value, check, help line), read
// by one reader. The game's options and the simulator's are rows of this kind; GLUT's
// options pass through the game's reading untouched, and anything else is refused.
#pragma once

#include <cstddef>
#include <cstdint>

struct Option {
    const char* name;       // "--speed"
    const char* alias;      // "-v", or nullptr
    const char* value;      // what the value is called in the help ("PERCENT"); nullptr: a flag
    const char* needs;      // the value as "needs ..." names it: "a percentage from 50 to 100"
    const char* takes;      // a bad value, as "takes ..." names it; nullptr: any text but ""
    std::uint64_t least;    // a number's range, when `takes` is set
    std::uint64_t most;
    const char* help;       // its line in the summary, after the name and value
};

// What the command line gave for one option.
struct OptionGiven {
    bool given = false;
    const char* text = nullptr;  // the value as written
    std::uint64_t number = 0;    // the value read as a whole number, for an option that takes one
};

enum class OptionValue {
    NOT_IT,  // argv[*i] is not the option
    FOUND,   // *value is its value; *i stands on the last argument it took
    MISSING, // the option ends the command line, without its value
};

// Whether argv[*i] is the option, and its value ("--option VALUE" or "--option=VALUE").
OptionValue match_option_value(int argc, char** argv, int* i, const char* option,
                               const char** value);

// Takes every use of the option out of the arguments, the others staying in order, and
// sets *given from it. False, after one line on standard error ("PROGRAM: --speed given
// twice"), when its value is missing, not one it takes, or it is given twice.
bool take_option(const char* program, const Option& option, int* argc, char** argv,
                 OptionGiven* given);

// The game's options, in the order the summary lists them.
enum GameOption {
    OPTION_TOGGLE,
    OPTION_SPEED,
    OPTION_KEYS,
    OPTION_SEED,
    OPTION_RECORD,
    OPTION_PLAY,
    OPTION_VERSION,
    OPTION_HELP,
    GAME_OPTION_COUNT,
};
extern const Option GAME_OPTIONS[GAME_OPTION_COUNT];

// GLUT's own options, which go to GLUT; -display and -geometry take a value.
bool is_glut_option(const char* arg, bool* takes_value);

// Once the game has taken its options out, what is left must be GLUT's. False, after one
// line on standard error naming the first argument that is neither the game's nor GLUT's
// and the nearest option that is, when there is one.
bool only_glut_arguments(int argc, char** argv);

// The summary of a table's options, one per line (and more for a long help), as --help
// prints it below the usage lines.
void print_options(const Option* options, std::size_t count);
