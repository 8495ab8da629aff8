// Where the server keeps its runs, attempts and secret: one small interface, two
// databases. SQLite (one file, nothing to install) for a server of its own; PostgreSQL for
// several servers sharing one database. The rules of what is kept (one run entered once,
// an attempt used once, the best run of each name on its board) are written once, in
// SQL both understand (store.cpp); the databases differ only in how a statement reaches
// them (sqlite_store.cpp, postgres_store.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A database that failed (full disk, lost connection): the request is answered 500 and
// nothing of it is kept.
struct StoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A value bound to a statement's parameter $1, $2... (each numbered in the order it
// first appears in the statement).
struct SqlParam {
    bool integer;
    std::int64_t number;
    std::string text;
    SqlParam(std::int64_t n) : integer(true), number(n) {}
    SqlParam(std::string t) : integer(false), number(0), text(std::move(t)) {}
    SqlParam(const char* t) : integer(false), number(0), text(t) {}
};

// Rows of text, NULL as an empty optional.
using SqlRow = std::vector<std::optional<std::string>>;
using SqlRows = std::vector<SqlRow>;

class SqlConnection {
public:
    virtual ~SqlConnection() = default;
    virtual SqlRows query(const char* sql, const std::vector<SqlParam>& params = {}) = 0;
};

// A database: statements run on a connection it lends, inside a transaction.
class SqlDatabase {
public:
    virtual ~SqlDatabase() = default;
    // Runs work in a transaction that is on disk when this returns, unless work returns
    // false (it refused: nothing it did is kept) or throws (StoreError: nothing kept).
    virtual void write(const std::function<bool(SqlConnection&)>& work) = 0;
    // Runs work on a consistent view of what is committed.
    virtual void read(const std::function<void(SqlConnection&)>& work) = 0;
    // The column type of an id that the database counts up by itself.
    virtual const char* serial_key() const = 0;
    // A statement that keeps other servers from making the tables at the same time, for
    // the rest of the transaction; "" where only one server opens the database.
    virtual const char* schema_lock() const = 0;
    // "SQLite file PATH", "PostgreSQL database NAME on HOST": for the start-up line.
    virtual std::string describe() const = 0;
};

// The SQLite file at path, made (with its directory's parents left as they are) when it
// is not there. Throws StoreError, naming the path, when it cannot be had.
std::unique_ptr<SqlDatabase> open_sqlite(const std::string& path);
// The PostgreSQL database at a libpq connection URI; connections up to `connections`.
std::unique_ptr<SqlDatabase> open_postgres(const std::string& uri, int connections);

// A run entered on a board.
struct RunEntry {
    std::int64_t id = 0;
    std::uint64_t seed = 0;
    std::string name;
    std::uint32_t score = 0;
    std::string category;
    bool timed = false;
    std::int64_t when_ms = 0; // milliseconds since 1970 UTC, when it was entered
    std::int64_t rank = 0;    // on the board of its seed and category
};

// A run to enter, as the server flew it.
struct NewRun {
    std::uint64_t seed;
    std::uint32_t score;
    std::string category;
    double flight_us;
    std::string recording; // the run alone
    std::string digest;    // of the recording: the same run is entered once
};

struct Attempt {
    std::string id;
    std::uint64_t seed;
};

// What a submission came to.
enum class Submitted {
    ENTERED,         // entries holds each run (an equal run entered before: that one)
    NO_ATTEMPT,      // the attempt named is unknown
    WRONG_SEED,      // the attempt was for another tunnel than the last run's
    TOO_FAST,        // the last run came in before it could have been flown since the attempt
    ATTEMPT_USED,    // the attempt has timed another run already
};

struct Submission {
    Submitted result = Submitted::ENTERED;
    std::vector<RunEntry> entries;
};

class Store {
public:
    explicit Store(std::unique_ptr<SqlDatabase> database);
    std::string describe() const { return database_->describe(); }

    // The server's secret, made at the first start: 32 random bytes, hex.
    std::string secret();

    Attempt new_attempt(std::uint64_t seed, std::int64_t now_ms);

    // Enters the runs under name. With an attempt, the last run is timed against it:
    // timed when at least its flight time has passed since the attempt, refused when less
    // has; the attempt times one run only. Nothing is entered unless all can be.
    Submission submit(const std::string& name, const std::optional<std::string>& attempt,
                      std::int64_t now_ms, const std::vector<NewRun>& runs);

    std::optional<RunEntry> run(std::int64_t id);
    std::optional<std::string> recording(std::int64_t id);
    // The best run of each name on the seed's board, highest first, ties by the earlier;
    // category "" for every category.
    std::vector<RunEntry> board(std::uint64_t seed, const std::string& category, int limit);

private:
    std::unique_ptr<SqlDatabase> database_;
};

// Random bytes from the system, as hex.
std::string random_hex(std::size_t bytes);
// Bytes as lowercase hex, two digits each.
std::string hex_of(std::string_view bytes);
