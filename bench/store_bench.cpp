// What the crash tick pays for the score file: a crash that beats the stored number
// (lock, read, write, flush to disk, rename) and one that does not (lock and read). The
// file lives in a scratch directory under $TMPDIR (or /tmp), so its disk decides.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include "game/state.h"
#include "store/high_score.h"

namespace {

// The game whose crashes are stored.
GameState game;

struct ScratchFile {
    ScratchFile()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/skarvolt-bench.XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        dir = pattern;
        use_score_path((dir + "/" + SCORE_FILE_NAME).c_str());
        std::FILE* file = std::fopen(score_file_path(), "w");
        if (!file || std::fputs("0\n", file) < 0 || std::fclose(file) != 0)
            std::abort();
    }
    ~ScratchFile()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string dir;
};

void BM_save(benchmark::State& state)
{
    ScratchFile file;
    std::uint32_t best = 0;
    for (auto _ : state)
        save_best_score(game, ++best);
}
BENCHMARK(BM_save)->Unit(benchmark::kMicrosecond);

void BM_crash_below_the_best(benchmark::State& state)
{
    ScratchFile file;
    save_best_score(game, 1000);
    for (auto _ : state)
        save_best_score(game, 45);
}
BENCHMARK(BM_crash_below_the_best)->Unit(benchmark::kMicrosecond);

} // namespace
