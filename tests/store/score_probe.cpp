// Start-up's half of the store under a faked password entry, for the home-directory
// tests: builds the path from the password database, prints it, and only when it is the
// expected one merges a score (optionally after a chroot into a scratch directory) and
// prints the high score.
//
//     score_probe EXPECTED_PATH [SCORE HIGH_SCORE [ROOT]]
//
// It refuses to run unless the password entry is faked, so it can never reach the real
// home directory.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

#include "game/best.h"
#include "game/state.h"
#include "store/high_score.h"

int main(int argc, char** argv)
{
    alarm(10);
    if (argc != 2 && argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s EXPECTED_PATH [SCORE HIGH_SCORE [ROOT]]\n", argv[0]);
        return 2;
    }
    const auto faked = reinterpret_cast<bool (*)()>(dlsym(RTLD_DEFAULT, "nss_wrapper_enabled"));
    if (!faked || !faked()) {
        std::fprintf(stderr, "refusing to run: the password entry is not faked\n");
        return 3;
    }

    GameState game{};
    build_score_path();
    std::printf("%s\n", score_file_path());
    if (std::strcmp(score_file_path(), argv[1]) != 0)
        return 4;
    if (argc == 2)
        return 0;

    if (argc == 5 && (chroot(argv[4]) != 0 || chdir("/") != 0)) {
        std::perror("chroot");
        return 5;
    }
    const std::uint32_t score = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const std::uint32_t high_score = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
    const std::uint32_t known = merge_best(score, high_score).best;
    std::printf("%u\n", merge_best(known, save_best_score(game, known).stored).best);
    return 0;
}
