// The leaderboard's HTTP side: its JSON API over a store, and the browser's site beside
// it at the same origin.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "server/store.h"

// What a submission may hold: larger bodies are refused before they are read whole, and
// a recording is flown no further than this many ticks (about 33 hours of play).
inline constexpr std::size_t MAX_BODY_BYTES = 1 << 20;
inline constexpr std::uint64_t MAX_TICKS = 10'000'000;
// Submissions from one address in any minute, unless the server is told otherwise.
inline constexpr int DEFAULT_PER_MINUTE = 30;
// A name: 1 to 20 letters, digits, spaces, "-", "_" and ".".
inline constexpr int MAX_NAME = 20;
// Longest board an answer gives, and the one given when none is asked for.
inline constexpr int MAX_BOARD = 100;
inline constexpr int DEFAULT_BOARD = 20;

struct ApiOptions {
    std::string site;                        // the browser's files; "" for none
    int max_per_minute = DEFAULT_PER_MINUTE; // 0: no limit
    std::set<std::string> proxies;           // peers whose X-Forwarded-For names the client
};

// The address a request is counted under for the limits: the peer's own, or, where the
// peer is one of the proxies (a load balancer in front of the servers), the address that
// proxy put last in X-Forwarded-For, the client it took the request from. A header from
// any other peer, or one that names no address, is not believed.
std::string client_address(const std::string& peer, const std::string& forwarded_for,
                           const std::set<std::string>& proxies);

// Whether text can be an IPv4 or IPv6 address as a peer's is written: 1 to 45 hex digits,
// dots and colons, nothing else.
bool is_address(std::string_view text);

// Whether name is one a board shows: 1 to MAX_NAME characters (UTF-8), each a letter (of
// any script), a digit, a space, "-", "_" or ".".
bool valid_name(std::string_view name);

// The tunnel of a UTC day ("YYYY-MM-DD"): from the day and the server's secret, so nobody
// can know it before the day begins. A seed from 1 to 2^31 - 1.
std::uint64_t daily_seed(const std::string& secret, const std::string& day);

// The hex SHA-256 of text.
std::string sha256_hex(std::string_view text);

class Api {
public:
    Api(Store& store, ApiOptions options);
    ~Api();
    // Binds host:port (port 0: any free one) and answers the port, or -1 when it cannot.
    int bind(const std::string& host, int port);
    // Answers requests until stop() is called.
    void serve();
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
