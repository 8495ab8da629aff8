// skarvolt-server: a leaderboard that flies every run submitted to it and ranks only what
// it flew itself.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/decimal.h"
#include "app/options.h"
#include "server/api.h"
#include "server/store.h"
#include "version.h"

namespace {

constexpr int EXIT_BAD_USAGE = 2;
constexpr int EXIT_FAILED = 1;
constexpr char DEFAULT_HOST[] = "127.0.0.1";
constexpr int DEFAULT_PORT = 8080;
// Under --data; a name of the server's own, so the folder may hold other things.
constexpr char DATABASE_FILE[] = "skarvolt-server.sqlite";
// Connections to PostgreSQL that one server keeps at most.
constexpr int POSTGRES_CONNECTIONS = 16;

constexpr char USAGE[] =
    "usage: skarvolt-server [--listen HOST:PORT] [--data DIR | --database URI] [--site DIR]\n"
    "                       [--max-per-minute N]\n"
    "A leaderboard for Skarvolt: it flies every recording submitted to it and ranks what\n"
    "it flew.\n"
    "  --listen HOST:PORT   where to answer (default 127.0.0.1:8080; port 0: any free one)\n"
    "  --data DIR           keep everything in one SQLite file in DIR, made on first start\n"
    "                       (default ~/.local/share/skarvolt-server)\n"
    "  --database URI       keep everything in PostgreSQL instead (postgresql://...)\n"
    "  --site DIR           serve the browser's site from DIR at the same address\n"
    "  --max-per-minute N   submissions one address may make in a minute (default 30;\n"
    "                       0: no limit)\n"
    "  --proxy ADDRESS      a load balancer's address: what comes from it is counted by\n"
    "                       the client its X-Forwarded-For names (may be given again)\n"
    "  -v, --version        print the version\n"
    "  -h, --help           print this summary\n";

int bad_usage(const std::string& message)
{
    std::fprintf(stderr, "skarvolt-server: %s (see skarvolt-server --help)\n", message.c_str());
    return EXIT_BAD_USAGE;
}

struct Options {
    std::string host = DEFAULT_HOST;
    int port = DEFAULT_PORT;
    std::string data;
    std::string database;
    std::string site;
    int max_per_minute = DEFAULT_PER_MINUTE;
    std::set<std::string> proxies;
};

// HOST:PORT, the host of an IPv6 address in brackets ([::1]:8080).
bool read_listen(const std::string& text, Options* options)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    std::uint64_t port = 0;
    if (!parse_count(text.c_str() + colon + 1, &port) || port > 65535)
        return false;
    options->host = host;
    options->port = static_cast<int>(port);
    return true;
}

// The folder and its parents, made as the player's own where they are missing.
bool make_folders(const std::string& path)
{
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/')
            continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "skarvolt-server: cannot make %s: %s\n", part.c_str(),
                         std::strerror(errno));
            return false;
        }
    }
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "skarvolt-server: %s is not a folder\n", path.c_str());
        return false;
    }
    return true;
}

std::string default_data()
{
    const passwd* entry = getpwuid(getuid());
    if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] != '/')
        return "";
    return std::string(entry->pw_dir) + "/.local/share/skarvolt-server";
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    bool data_given = false;
    bool listen_given = false;
    bool limit_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (arg == "-v" || arg == "--version") {
            std::printf("Skarvolt %s\n", VERSION);
            return 0;
        }
        // A proxy's address, as the server sees its peers (127.0.0.1, ::1, 10.0.0.5).
        const char* proxy = nullptr;
        const OptionValue proxied = match_option_value(argc, argv, &i, "--proxy", &proxy);
        if (proxied != OptionValue::NOT_IT) {
            if (proxied == OptionValue::MISSING || *proxy == '\0')
                return bad_usage("--proxy needs a value");
            const std::string address = proxy;
            if (!is_address(address))
                return bad_usage("--proxy takes an IPv4 or IPv6 address, not: " + address);
            options.proxies.insert(address);
            continue;
        }
        struct Valued {
            const char* name;
            bool* given;
            std::string* text;
        };
        std::string listen_text;
        std::string limit_text;
        bool database_given = !options.database.empty();
        bool site_given = !options.site.empty();
        const Valued valued[] = {
            {"--listen", &listen_given, &listen_text},
            {"--data", &data_given, &options.data},
            {"--database", &database_given, &options.database},
            {"--site", &site_given, &options.site},
            {"--max-per-minute", &limit_given, &limit_text},
        };
        bool known = false;
        for (const Valued& option : valued) {
            const char* value = nullptr;
            const OptionValue match = match_option_value(argc, argv, &i, option.name, &value);
            if (match == OptionValue::NOT_IT)
                continue;
            known = true;
            if (match == OptionValue::MISSING || *value == '\0')
                return bad_usage(std::string(option.name) + " needs a value");
            if (*option.given)
                return bad_usage(std::string(option.name) + " given twice");
            *option.given = true;
            *option.text = value;
            break;
        }
        if (!known)
            return bad_usage("unknown option: " + arg);
        if (!listen_text.empty() && !read_listen(listen_text, &options))
            return bad_usage("--listen takes HOST:PORT, a port from 0 to 65535, not: " + listen_text);
        if (!limit_text.empty()) {
            std::uint64_t limit = 0;
            if (!parse_count(limit_text.c_str(), &limit) || limit > 1'000'000)
                return bad_usage("--max-per-minute takes a whole number from 0 to 1000000, not: "
                                 + limit_text);
            options.max_per_minute = static_cast<int>(limit);
        }
    }
    if (data_given && !options.database.empty())
        return bad_usage("--data and --database both say where to keep the runs: give one");

    // A client that goes away mid-answer is its own business.
    std::signal(SIGPIPE, SIG_IGN);
    // The quit signals are waited for by one thread, which stops the server: what it has
    // answered is on disk already, and what it is writing is finished first.
    sigset_t quit;
    sigemptyset(&quit);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&quit, signal_number);
    pthread_sigmask(SIG_BLOCK, &quit, nullptr);

    try {
        std::unique_ptr<SqlDatabase> database;
        if (!options.database.empty()) {
            database = open_postgres(options.database, POSTGRES_CONNECTIONS);
        } else {
            if (!data_given)
                options.data = default_data();
            if (options.data.empty()) {
                std::fprintf(stderr, "skarvolt-server: no home folder in the password database:"
                                     " give --data DIR\n");
                return EXIT_FAILED;
            }
            if (!make_folders(options.data))
                return EXIT_FAILED;
            const std::string path = options.data + "/" + DATABASE_FILE;
            // Only a file can be the store: anything else (a FIFO would hang the open) is
            // left alone.
            struct stat st {};
            if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
                std::fprintf(stderr, "skarvolt-server: %s is not a regular file\n", path.c_str());
                return EXIT_FAILED;
            }
            database = open_sqlite(path);
        }
        Store store(std::move(database));
        Api api(store, {options.site, options.max_per_minute, options.proxies});
        const int port = api.bind(options.host, options.port);
        if (port < 0) {
            std::fprintf(stderr, "skarvolt-server: cannot listen on %s:%d: %s\n",
                         options.host.c_str(), options.port,
                         errno != 0 ? std::strerror(errno) : "refused");
            return EXIT_FAILED;
        }
        const bool v6 = options.host.find(':') != std::string::npos;
        std::printf("skarvolt-server: listening on http://%s%s%s:%d, keeping runs in %s\n",
                    v6 ? "[" : "", options.host.c_str(), v6 ? "]" : "", port,
                    store.describe().c_str());
        std::fflush(stdout);
        // A signal that comes before the server has begun to answer stops it as soon
        // as it has.
        std::atomic<bool> served = false;
        std::thread stopper([&api, &served, quit] {
            int signal_number = 0;
            sigwait(&quit, &signal_number);
            while (!served) {
                api.stop();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        api.serve();
        served = true;
        // Had it stopped by itself, the stopper still waits for its signal.
        pthread_kill(stopper.native_handle(), SIGTERM);
        stopper.join();
    } catch (const StoreError& failure) {
        std::fprintf(stderr, "skarvolt-server: %s\n", failure.what());
        return EXIT_FAILED;
    }
    return 0;
}
