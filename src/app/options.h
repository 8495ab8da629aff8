// The command line's options that take a value: "--option VALUE" or "--option=VALUE".
#pragma once

enum class OptionValue {
    NOT_IT,  // argv[*i] is not the option
    FOUND,   // *value is its value; *i stands on the last argument it took
    MISSING, // the option ends the command line, without its value
};

// Whether argv[*i] is the option, and its value.
OptionValue match_option_value(int argc, char** argv, int* i, const char* option,
                               const char** value);
