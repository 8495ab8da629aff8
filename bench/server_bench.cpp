// How many submissions a leaderboard server verifies and keeps a second: 64 clients at
// once, each sending runs of 1,000 to 1,200 ticks (the long run's first part, then let
// fall) to a server on 127.0.0.1 with its SQLite file in a scratch folder under $TMPDIR
// (or /tmp), each answer on disk before it is given. Prints the submissions a second and
// the answer times (median and 99th percentile).
//
//   build/bench/skarvolt_server_bench [SUBMISSIONS_PER_CLIENT]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "server/api.h"
#include "server/store.h"
#include "version.h"

namespace {

constexpr int CLIENTS = 64;
constexpr int VARIANTS = 200; // runs of 1,000 to 1,199 ticks before the ship is let fall
constexpr int FIRST_TICKS = 1000;

// The long run flown for `ticks` ticks, then let fall to its crash.
std::string run_of(const std::string& script, int ticks)
{
    std::istringstream lines(script);
    std::string out = std::string("# Skarvolt ") + VERSION + " recording\n";
    std::string line;
    int flown = 0;
    while (std::getline(lines, line) && flown < ticks) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line.rfind("tick ", 0) == 0) {
            const int n = std::atoi(line.c_str() + 5);
            const int take = std::min(n, ticks - flown);
            flown += take;
            out += "tick " + std::to_string(take) + "\n";
        } else {
            out += line + "\n";
        }
    }
    return out + "release\ntick 1000\nframe\n";
}

} // namespace

int main(int argc, char** argv)
{
    const int per_client = argc > 1 ? std::atoi(argv[1]) : 300;
    std::ifstream file(LONG_SCRIPT);
    std::stringstream whole;
    whole << file.rdbuf();
    std::vector<std::string> runs;
    for (int v = 0; v < VARIANTS; ++v)
        runs.push_back(run_of(whole.str(), FIRST_TICKS + v));

    const char* tmp = std::getenv("TMPDIR");
    std::string scratch = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp")
                          + "/skarvolt-server-bench-XXXXXX";
    if (mkdtemp(scratch.data()) == nullptr) {
        std::perror("skarvolt_server_bench: mkdtemp");
        return 1;
    }
    int status = 0;
    {
        Store store(open_sqlite(scratch + "/bench.sqlite"));
        Api api(store, {.site = "", .max_per_minute = 0, .proxies = {}});
        const int port = api.bind("127.0.0.1", 0);
        std::thread server([&api] { api.serve(); });

        std::vector<std::vector<double>> times(CLIENTS);
        std::atomic<int> failed = 0;
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> clients;
        for (int c = 0; c < CLIENTS; ++c)
            clients.emplace_back([&, c] {
                httplib::Client client("127.0.0.1", port);
                client.set_keep_alive(true);
                client.set_tcp_nodelay(true);
                for (int i = 0; i < per_client; ++i) {
                    const int n = c * per_client + i;
                    const std::string path = "/api/runs?name=bench" + std::to_string(c) + "-"
                                             + std::to_string(n / VARIANTS);
                    const auto sent = std::chrono::steady_clock::now();
                    const httplib::Result answer = client.Post(path, runs[n % VARIANTS], "text/plain");
                    const std::chrono::duration<double, std::milli> took =
                        std::chrono::steady_clock::now() - sent;
                    if (!answer || answer->status != 201) {
                        if (failed++ == 0)
                            std::fprintf(stderr, "failed: %s\n",
                                         answer ? std::to_string(answer->status).c_str()
                                                : httplib::to_string(answer.error()).c_str());
                    }
                    times[c].push_back(took.count());
                }
            });
        for (std::thread& t : clients)
            t.join();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        api.stop();
        server.join();

        std::vector<double> all;
        for (const auto& t : times)
            all.insert(all.end(), t.begin(), t.end());
        std::sort(all.begin(), all.end());
        const double total = static_cast<double>(all.size());
        std::printf("%zu submissions of 1000-1199-tick runs from %d clients in %.2f s: "
                    "%.0f a second; answer time median %.1f ms, 99th percentile %.1f ms, "
                    "most %.1f ms; %d failed\n",
                    all.size(), CLIENTS, elapsed.count(), total / elapsed.count(),
                    all[all.size() / 2], all[static_cast<std::size_t>(total * 0.99)],
                    all.back(), failed.load());
        status = failed == 0 ? 0 : 1;
    }
    std::filesystem::remove_all(scratch);
    return status;
}
