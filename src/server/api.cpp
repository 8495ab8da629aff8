#include "server/api.h"

#include <chrono>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <cwctype>
#include <deque>
#include <map>
#include <mutex>

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <locale.h>
#include <nlohmann/json.hpp>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include "app/decimal.h"
#include "app/utf8.h"
#include "server/verify.h"

namespace {

using nlohmann::json;

// Connections answered at once: each keeps a thread for as long as it stays open, so a
// few dozen players' browsers and a load balancer's connections all fit.
constexpr int THREADS = 128;
// Requests one connection may make before it is closed.
constexpr int KEEP_ALIVE_REQUESTS = 1000;
constexpr std::int64_t MINUTE_MS = 60'000;
constexpr char JSON_TYPE[] = "application/json";
// A player makes an attempt at every run's press but submits only some runs: attempts
// from one address may come this many times as often as submissions.
constexpr int ATTEMPTS_PER_SUBMISSION = 4;

std::int64_t now_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string utc(std::int64_t ms, const char* format)
{
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, format, &parts);
    return text;
}

std::string dump(const json& value)
{
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void answer(httplib::Response& res, int status, const json& body)
{
    res.status = status;
    res.set_content(dump(body), JSON_TYPE);
}

void refuse(httplib::Response& res, int status, const std::string& why)
{
    answer(res, status, {{"error", why}});
}

json entry_json(const RunEntry& entry, bool with_seed)
{
    json out = {{"rank", entry.rank},   {"name", entry.name},   {"score", entry.score},
                {"category", entry.category}, {"timed", entry.timed}, {"id", entry.id},
                {"when", utc(entry.when_ms, "%Y-%m-%dT%H:%M:%SZ")}};
    if (with_seed)
        out["seed"] = entry.seed;
    return out;
}

// A whole number from a path or a query: digits only, 64 bits.
bool read_count(const std::string& text, std::uint64_t* value)
{
    return parse_count(text.c_str(), value);
}

} // namespace

std::string client_address(const std::string& peer, const std::string& forwarded_for,
                           const std::set<std::string>& proxies)
{
    if (!proxies.contains(peer))
        return peer;
    const std::size_t comma = forwarded_for.rfind(',');
    std::string_view last(forwarded_for);
    if (comma != std::string::npos)
        last.remove_prefix(comma + 1);
    while (!last.empty() && (last.front() == ' ' || last.front() == '\t'))
        last.remove_prefix(1);
    while (!last.empty() && (last.back() == ' ' || last.back() == '\t'))
        last.remove_suffix(1);
    return is_address(last) ? std::string(last) : peer;
}

bool is_address(std::string_view text)
{
    return !text.empty() && text.size() <= 45
           && text.find_first_not_of("0123456789abcdefABCDEF.:") == std::string_view::npos;
}

namespace {

// Submissions per address in the last minute.
class RateLimit {
public:
    explicit RateLimit(int per_minute) : per_minute_(per_minute) {}

    // Counts one more from address at now; the seconds to wait when it is one too many.
    std::int64_t take(const std::string& address, std::int64_t now)
    {
        if (per_minute_ == 0)
            return 0;
        std::lock_guard lock(mutex_);
        // Now and then the addresses that have been quiet for a minute are forgotten.
        if (++calls_ % 1024 == 0)
            std::erase_if(seen_, [&](const auto& item) {
                return item.second.empty() || item.second.back() <= now - MINUTE_MS;
            });
        std::deque<std::int64_t>& times = seen_[address];
        while (!times.empty() && times.front() <= now - MINUTE_MS)
            times.pop_front();
        if (times.size() >= static_cast<std::size_t>(per_minute_))
            return (times.front() + MINUTE_MS - now + 999) / 1000;
        times.push_back(now);
        return 0;
    }

private:
    int per_minute_;
    std::mutex mutex_;
    std::uint64_t calls_ = 0;
    std::map<std::string, std::deque<std::int64_t>> seen_;
};

} // namespace

bool valid_name(std::string_view name)
{
    // Letters of every script, as the C library's Unicode table has them.
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    int count = 0;
    for (std::size_t at = 0; at < name.size();) {
        const long c = next_utf8(name, &at);
        if (c < 0 || ++count > MAX_NAME)
            return false;
        const bool ascii_letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool letter = ascii_letter
                            || (c >= 0x80 && unicode != nullptr
                                && iswalpha_l(static_cast<wint_t>(c), unicode));
        const bool allowed = letter || (c >= '0' && c <= '9') || c == ' ' || c == '-'
                             || c == '_' || c == '.';
        if (!allowed)
            return false;
    }
    return count > 0;
}

std::uint64_t daily_seed(const std::string& secret, const std::string& day)
{
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
         reinterpret_cast<const unsigned char*>(day.data()), day.size(), mac, &length);
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits = (bits << 8) | mac[i];
    // Seed 0 flies the tunnel of seed 1: every day's seed is one of its own.
    return bits % 0x7fffffffu + 1;
}

std::string sha256_hex(std::string_view text)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    return hex_of({reinterpret_cast<const char*>(digest), sizeof digest});
}

struct Api::Impl {
    Store& store;
    ApiOptions options;
    std::string secret;
    RateLimit limit;
    RateLimit attempt_limit;
    std::string too_many_submissions; // the refusal of one submission too many
    httplib::Server http;

    Impl(Store& s, ApiOptions o)
        : store(s), options(std::move(o)), secret(store.secret()), limit(options.max_per_minute),
          attempt_limit(options.max_per_minute * ATTEMPTS_PER_SUBMISSION),
          too_many_submissions("too many submissions from this address: at most "
                               + std::to_string(options.max_per_minute) + " a minute")
    {
    }

    // Who a request is counted as, for the limits.
    std::string client(const httplib::Request& req) const
    {
        // The proxy adds its line last, after any the client sent.
        const std::size_t lines = req.get_header_value_count("X-Forwarded-For");
        const std::string forwarded =
            lines == 0 ? "" : req.get_header_value("X-Forwarded-For", lines - 1);
        return client_address(req.remote_addr, forwarded, options.proxies);
    }

    // Counts the request against limit; false, after a 429 that says when to come again
    // and why, when it is one too many.
    bool within(RateLimit& limit, const httplib::Request& req, httplib::Response& res,
                const std::string& why) const
    {
        const std::int64_t wait = limit.take(client(req), now_ms());
        if (wait == 0)
            return true;
        res.set_header("Retry-After", std::to_string(wait));
        refuse(res, 429, why);
        return false;
    }

    void daily(httplib::Response& res)
    {
        const std::string day = utc(now_ms(), "%Y-%m-%d");
        answer(res, 200, {{"day", day}, {"seed", daily_seed(secret, day)}});
    }

    void attempt(const httplib::Request& req, httplib::Response& res)
    {
        if (!within(attempt_limit, req, res, "too many attempts from this address"))
            return;
        const json body = json::parse(req.body, nullptr, false);
        // A whole number that is not negative reads as an unsigned one.
        if (!body.is_object() || !body.contains("seed") || !body["seed"].is_number_unsigned())
            return refuse(res, 400, "the body is not {\"seed\": N}, N a whole number from 0 to "
                                    "18446744073709551615");
        const std::uint64_t seed = body["seed"].get<std::uint64_t>();
        const Attempt made = store.new_attempt(seed, now_ms());
        answer(res, 201, {{"attempt", made.id}, {"seed", made.seed}});
    }

    void submit(const httplib::Request& req, httplib::Response& res)
    {
        if (!within(limit, req, res, too_many_submissions))
            return;
        if (!req.has_param("name") || !valid_name(req.get_param_value("name")))
            return refuse(res, 400,
                          "a name is 1 to 20 letters, digits, spaces, \"-\", \"_\" and \".\"");
        const std::string name = req.get_param_value("name");
        std::optional<std::string> attempt;
        if (req.has_param("attempt"))
            attempt = req.get_param_value("attempt");
        if (req.body.size() > MAX_BODY_BYTES)
            return refuse(res, 413, "the recording is larger than 1 MiB");

        const Flight flight = fly_recording(req.body, MAX_TICKS);
        if (flight.verdict == Verdict::NOT_A_RECORDING)
            return refuse(res, 400, flight.reason);
        if (flight.verdict == Verdict::TOO_LONG)
            return refuse(res, 413, "the recording flies " + flight.reason);
        if (flight.runs.empty())
            return refuse(res, 400, "no run in the recording starts from its seed and crashes");
        if (attempt && !flight.last_run_entered)
            return refuse(res, 400, "the attempt is for the recording's last run, which does not "
                                    "start from its seed");

        std::vector<NewRun> runs;
        for (const FlownRun& run : flight.runs)
            runs.push_back({run.seed, run.score, run_category(run), run.flight_us, run.recording,
                            sha256_hex(run.recording)});
        const Submission done = store.submit(name, attempt, now_ms(), runs);
        switch (done.result) {
        case Submitted::ENTERED:
            break;
        case Submitted::NO_ATTEMPT:
            return refuse(res, 400, "no such attempt");
        case Submitted::WRONG_SEED:
            return refuse(res, 400, "the attempt was made for another seed than the run's");
        case Submitted::TOO_FAST:
            return refuse(res, 400,
                          "the run came in sooner after its attempt than it can be flown");
        case Submitted::ATTEMPT_USED:
            return refuse(res, 409, "the attempt has timed another run already");
        }
        json entries = json::array();
        for (const RunEntry& entry : done.entries)
            entries.push_back({{"id", entry.id},          {"seed", entry.seed},
                               {"score", entry.score},    {"category", entry.category},
                               {"rank", entry.rank},      {"timed", entry.timed}});
        answer(res, 201, {{"runs", entries}});
    }

    void board(const httplib::Request& req, httplib::Response& res)
    {
        std::uint64_t seed = 0;
        if (!read_count(req.matches[1], &seed))
            return refuse(res, 400, "a seed is a whole number from 0 to 18446744073709551615");
        std::string category;
        if (req.has_param("category")) {
            category = req.get_param_value("category");
            if (category != "standard" && category != "assisted" && category != "agent")
                return refuse(res, 400, "a category is standard, assisted or agent");
        }
        std::uint64_t limit = DEFAULT_BOARD;
        if (req.has_param("limit")
            && (!read_count(req.get_param_value("limit"), &limit) || limit < 1 || limit > MAX_BOARD))
            return refuse(res, 400, "a limit is a whole number from 1 to 100");
        json entries = json::array();
        for (const RunEntry& entry : store.board(seed, category, static_cast<int>(limit)))
            entries.push_back(entry_json(entry, false));
        answer(res, 200, {{"seed", seed}, {"entries", entries}});
    }

    std::optional<std::int64_t> run_id(const httplib::Request& req, httplib::Response& res)
    {
        std::uint64_t id = 0;
        if (!read_count(req.matches[1], &id) || id > INT64_MAX) {
            refuse(res, 404, "no such run");
            return std::nullopt;
        }
        return static_cast<std::int64_t>(id);
    }

    void run(const httplib::Request& req, httplib::Response& res)
    {
        const std::optional<std::int64_t> id = run_id(req, res);
        if (!id)
            return;
        const std::optional<RunEntry> entry = store.run(*id);
        if (!entry)
            return refuse(res, 404, "no such run");
        answer(res, 200, entry_json(*entry, true));
    }

    void recording(const httplib::Request& req, httplib::Response& res)
    {
        const std::optional<std::int64_t> id = run_id(req, res);
        if (!id)
            return;
        const std::optional<std::string> text = store.recording(*id);
        if (!text)
            return refuse(res, 404, "no such run");
        res.set_content(*text, "text/plain; charset=utf-8");
    }
};

Api::Api(Store& store, ApiOptions options) : impl_(std::make_unique<Impl>(store, std::move(options)))
{
    Impl& api = *impl_;
    httplib::Server& http = api.http;
    http.new_task_queue = [] { return new httplib::ThreadPool(THREADS); };
    http.set_keep_alive_max_count(KEEP_ALIVE_REQUESTS);
    // An answer goes out at once, not after the client's acknowledgement of the last one.
    http.set_tcp_nodelay(true);
    http.set_payload_max_length(MAX_BODY_BYTES);
    // Nothing the server sends is ever taken for a page: a name or a recording is text.
    http.set_default_headers({{"X-Content-Type-Options", "nosniff"}});
    http.Get("/api/daily", [&api](const httplib::Request&, httplib::Response& res) { api.daily(res); });
    http.Post("/api/attempts", [&api](const httplib::Request& req, httplib::Response& res) {
        api.attempt(req, res);
    });
    http.Post("/api/runs", [&api](const httplib::Request& req, httplib::Response& res) {
        api.submit(req, res);
    });
    http.Get(R"(/api/boards/([^/]+))", [&api](const httplib::Request& req, httplib::Response& res) {
        api.board(req, res);
    });
    http.Get(R"(/api/runs/([^/]+))", [&api](const httplib::Request& req, httplib::Response& res) {
        api.run(req, res);
    });
    http.Get(R"(/api/runs/([^/]+)/recording)",
             [&api](const httplib::Request& req, httplib::Response& res) { api.recording(req, res); });
    // Whatever else is asked (a path nobody serves, a body too large) is answered in JSON.
    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty())
            return;
        if (res.status == 404)
            refuse(res, 404, "not found");
        else if (res.status == 413)
            refuse(res, 413, "the body is larger than 1 MiB");
        else
            refuse(res, res.status, "the request was refused");
    });
    http.set_exception_handler(
        [](const httplib::Request& req, httplib::Response& res, std::exception_ptr failure) {
            std::string why = "unknown failure";
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& e) {
                why = e.what();
            } catch (...) {
            }
            std::fprintf(stderr, "skarvolt-server: %s %s: %s\n", req.method.c_str(),
                         req.path.c_str(), why.c_str());
            refuse(res, 500, "the server failed to answer; nothing was kept");
        });
    if (!api.options.site.empty()) {
        http.set_file_extension_and_mimetype_mapping("wasm", "application/wasm");
        http.set_file_extension_and_mimetype_mapping("mjs", "text/javascript");
        http.set_mount_point("/", api.options.site);
    }
}

Api::~Api() = default;

namespace {

// The HTTP library listens with room for 5 connections that wait to be accepted: when
// dozens of clients connect at once, the rest are dropped and each tries again only a
// second later. The socket is given the system's full queue instead.
void widen_listen_queue(int port)
{
    for (int fd = 0; fd < 1024; ++fd) {
        int listening = 0;
        socklen_t size = sizeof listening;
        sockaddr_storage address{};
        socklen_t address_size = sizeof address;
        if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || !listening
            || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &address_size) != 0)
            continue;
        const int bound = address.ss_family == AF_INET6
            ? ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port)
            : ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
        if (bound == port)
            ::listen(fd, SOMAXCONN);
    }
}

} // namespace

int Api::bind(const std::string& host, int port)
{
    const int bound = port == 0 ? impl_->http.bind_to_any_port(host)
                                : (impl_->http.bind_to_port(host, port) ? port : -1);
    if (bound > 0)
        widen_listen_queue(bound);
    return bound;
}

void Api::serve()
{
    impl_->http.listen_after_bind();
}

void Api::stop()
{
    impl_->http.stop();
}
