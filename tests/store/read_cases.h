// What stored texts read as: the table that the store's tests and the reader's check on
// other machines (score_reader_check.cpp) share.
#pragma once

#include <cstdint>
#include <string>

struct ReadCase {
    const char* name;
    std::string content;
    std::uint32_t expected;
};

inline const ReadCase READ_CASES[] = {
    {"plain", "45\n", 45},
    {"empty", "", 0},
    {"blanks only", " \t\n\v\f\r  ", 0},
    {"leading blanks and plus", " \t\n +17\n", 17},
    {"leading zeros", "00042\n", 42},
    {"minus zero", "-0\n", 0},
    {"text after the number", "123abc 999\n", 123},
    {"further lines", "7\n8\n9\n", 7},
    {"text first", "best: 50\n", 0},
    {"hexadecimal is not read", "0x1F\n", 0},
    {"62 blanks then 123", std::string(62, ' ') + "123", 1},
    {"63 blanks then 5", std::string(63, ' ') + "5", 0},
    {"minus one", "-1\n", 4294967295u},
    {"largest 32-bit signed", "2147483647\n", 2147483647u},
    {"2^31", "2147483648\n", 2147483648u},
    {"2^32", "4294967296\n", 0},
    {"2^32 + 1", "4294967297\n", 1},
    {"2^32 + 2^31", "6442450944\n", 2147483648u},
    {"minus 2^31 - 1", "-2147483649\n", 2147483647u},
    {"minus (2^32 - 1)", "-4294967295\n", 1},
    {"largest 64-bit", "9223372036854775807\n", 4294967295u},
    {"far beyond 64 bits", std::string(40, '9') + "\n", 4294967295u},
    {"far below 64 bits", std::string("-").append(40, '9') + "\n", 0},
    {"binary junk", std::string("\x01\xff\xfe\x80" "99\n", 7), 0},
    {"NUL ends the number", std::string("12\0" "34\n", 6), 12},
    {"NUL first", std::string("\0" "77\n", 4), 0},
    {"sign alone", "-\n", 0},
    {"two signs", "+-5\n", 0},
};
