// The simulator as a whole process: ticks per second over a long run, its trace thrown
// away.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

extern char** environ;

namespace {

// Runs the simulator on the long script with its trace on the descriptor out; its exit
// status, or -1 when it could not be started.
int run_sim(int out)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    // The script names its own seed.
    char program[] = SIM_PATH;
    char script[] = LONG_SCRIPT;
    char* argv[] = {program, script, nullptr};
    pid_t pid = 0;
    const int error = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Ticks in the long run's trace: every line but the crash lines.
long count_ticks()
{
    std::FILE* trace = std::tmpfile();
    if (trace == nullptr || run_sim(fileno(trace)) != 0)
        return -1;
    std::rewind(trace);
    long ticks = 0;
    bool line_start = true;
    for (int c; (c = std::getc(trace)) != EOF;) {
        if (line_start && c != 'c')
            ++ticks;
        line_start = c == '\n';
    }
    std::fclose(trace);
    return ticks;
}

void BM_sim_long_run(benchmark::State& state)
{
    const long ticks = count_ticks();
    const int null = open("/dev/null", O_WRONLY);
    if (ticks <= 0 || null < 0) {
        state.SkipWithError("cannot run " SIM_PATH);
        return;
    }
    for (auto _ : state)
        if (run_sim(null) != 0)
            state.SkipWithError("the simulator failed");
    close(null);
    state.SetItemsProcessed(state.iterations() * ticks);
    state.counters["ticks_per_run"] = static_cast<double>(ticks);
}
BENCHMARK(BM_sim_long_run)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
