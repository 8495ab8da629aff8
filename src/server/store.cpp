#include "server/store.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include <sys/random.h>

namespace {

// Seeds are whole numbers of 64 bits; both databases keep signed ones, so a seed is kept
// as the signed number with the same bits.
std::int64_t seed_key(std::uint64_t seed)
{
    return static_cast<std::int64_t>(seed);
}

std::int64_t number(const std::optional<std::string>& text)
{
    return text ? std::stoll(*text) : 0;
}

// Longer than the longest run a submission may hold takes at the slowest pace (10
// million ticks of 24 ms: 67 hours).
constexpr std::int64_t ATTEMPT_KEPT_MS = 4LL * 24 * 3600 * 1000;

constexpr char RUN_COLUMNS[] = "r.id, r.seed, r.name, r.score, r.category, r.timed, r.when_ms";

RunEntry entry_of(const SqlRow& row)
{
    RunEntry entry;
    entry.id = number(row[0]);
    entry.seed = static_cast<std::uint64_t>(number(row[1]));
    entry.name = row[2].value_or("");
    entry.score = static_cast<std::uint32_t>(number(row[3]));
    entry.category = row[4].value_or("");
    entry.timed = number(row[5]) != 0;
    entry.when_ms = number(row[6]);
    return entry;
}

// Where a run stands on the board of its seed and category: after every other name whose
// best is higher, or as high and earlier.
std::int64_t rank_of(SqlConnection& db, const RunEntry& entry)
{
    const SqlRows rows = db.query(
        "SELECT COUNT(*) FROM bests WHERE seed = $1 AND category = $2 AND name <> $3"
        " AND (score > $4 OR (score = $4 AND run_id < $5))",
        {seed_key(entry.seed), entry.category, entry.name, std::int64_t{entry.score}, entry.id});
    return number(rows.at(0).at(0)) + 1;
}

std::optional<RunEntry> find_run(SqlConnection& db, std::int64_t id)
{
    const SqlRows rows = db.query(
        (std::string("SELECT ") + RUN_COLUMNS + " FROM runs r WHERE r.id = $1").c_str(), {id});
    if (rows.empty())
        return std::nullopt;
    RunEntry entry = entry_of(rows[0]);
    entry.rank = rank_of(db, entry);
    return entry;
}

std::optional<std::int64_t> run_id(SqlConnection& db, const std::string& name,
                                   const std::string& digest)
{
    const SqlRows rows =
        db.query("SELECT id FROM runs WHERE name = $1 AND digest = $2", {name, digest});
    if (rows.empty())
        return std::nullopt;
    return number(rows[0][0]);
}

// Enters a run unless the same run is there under the same name, and makes it its name's
// best on its board when it beats the one there. Its id either way.
std::int64_t enter(SqlConnection& db, const std::string& name, const NewRun& run, bool timed,
                   std::int64_t now_ms)
{
    const SqlRows inserted = db.query(
        "INSERT INTO runs (name, seed, score, category, timed, when_ms, digest, recording)"
        " VALUES ($1, $2, $3, $4, $5, $6, $7, $8) ON CONFLICT (name, digest) DO NOTHING"
        " RETURNING id",
        {name, seed_key(run.seed), std::int64_t{run.score}, run.category,
         std::int64_t{timed ? 1 : 0}, now_ms, run.digest, run.recording});
    if (inserted.empty())
        return run_id(db, name, run.digest).value();
    const std::int64_t id = number(inserted[0][0]);
    db.query("INSERT INTO bests (seed, category, name, score, run_id) VALUES ($1, $2, $3, $4, $5)"
             " ON CONFLICT (seed, category, name) DO UPDATE"
             " SET score = excluded.score, run_id = excluded.run_id"
             " WHERE excluded.score > bests.score",
             {seed_key(run.seed), run.category, name, std::int64_t{run.score}, id});
    return id;
}

} // namespace

std::string random_hex(std::size_t bytes)
{
    std::string raw(bytes, '\0');
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t n = getrandom(raw.data() + got, bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw StoreError(std::string("no random bytes from the system: ") + std::strerror(errno));
        got += static_cast<std::size_t>(n);
    }
    return hex_of(raw);
}

std::string hex_of(std::string_view bytes)
{
    std::string hex;
    char pair[3];
    for (const char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
        hex += pair;
    }
    return hex;
}

Store::Store(std::unique_ptr<SqlDatabase> database) : database_(std::move(database))
{
    const std::string runs = std::string("CREATE TABLE IF NOT EXISTS runs (id ")
                             + database_->serial_key()
                             + ", name TEXT NOT NULL, seed BIGINT NOT NULL,"
                               " score BIGINT NOT NULL, category TEXT NOT NULL,"
                               " timed INTEGER NOT NULL, when_ms BIGINT NOT NULL,"
                               " digest TEXT NOT NULL, recording TEXT NOT NULL,"
                               " UNIQUE (name, digest))";
    database_->write([&](SqlConnection& db) {
        if (*database_->schema_lock() != '\0')
            db.query(database_->schema_lock());
        db.query("CREATE TABLE IF NOT EXISTS secret (id INTEGER PRIMARY KEY, value TEXT NOT NULL)");
        db.query("CREATE TABLE IF NOT EXISTS attempts (id TEXT PRIMARY KEY, seed BIGINT NOT NULL,"
                 " started_ms BIGINT NOT NULL, run_id BIGINT)");
        db.query("CREATE INDEX IF NOT EXISTS attempts_started ON attempts (started_ms)");
        db.query(runs.c_str());
        // Each name's best run on each board: the boards and the ranks read only these.
        db.query("CREATE TABLE IF NOT EXISTS bests (seed BIGINT NOT NULL, category TEXT NOT NULL,"
                 " name TEXT NOT NULL, score BIGINT NOT NULL, run_id BIGINT NOT NULL,"
                 " PRIMARY KEY (seed, category, name))");
        db.query("CREATE INDEX IF NOT EXISTS bests_board ON bests (seed, category, score DESC, run_id)");
        db.query("INSERT INTO secret (id, value) VALUES (1, $1) ON CONFLICT (id) DO NOTHING",
                 {random_hex(32)});
        return true;
    });
}

std::string Store::secret()
{
    std::string value;
    database_->read([&](SqlConnection& db) {
        value = db.query("SELECT value FROM secret WHERE id = 1").at(0).at(0).value();
    });
    return value;
}

Attempt Store::new_attempt(std::uint64_t seed, std::int64_t now_ms)
{
    Attempt attempt{random_hex(16), seed};
    database_->write([&](SqlConnection& db) {
        // An attempt that timed nothing for longer than any run can last is forgotten.
        db.query("DELETE FROM attempts WHERE started_ms < $1 AND run_id IS NULL",
                 {now_ms - ATTEMPT_KEPT_MS});
        db.query("INSERT INTO attempts (id, seed, started_ms) VALUES ($1, $2, $3)",
                 {attempt.id, seed_key(seed), now_ms});
        return true;
    });
    return attempt;
}

Submission Store::submit(const std::string& name, const std::optional<std::string>& attempt,
                         std::int64_t now_ms, const std::vector<NewRun>& runs)
{
    Submission submission;
    database_->write([&](SqlConnection& db) {
        submission = {};
        bool timed = false;
        bool attempt_free = false;
        if (attempt) {
            const SqlRows rows =
                db.query("SELECT seed, started_ms, run_id FROM attempts WHERE id = $1", {*attempt});
            if (rows.empty() || runs.empty()) {
                submission.result = Submitted::NO_ATTEMPT;
                return false;
            }
            const NewRun& last = runs.back();
            if (static_cast<std::uint64_t>(number(rows[0][0])) != last.seed) {
                submission.result = Submitted::WRONG_SEED;
                return false;
            }
            attempt_free = !rows[0][2];
            if (!attempt_free && run_id(db, name, last.digest) != number(rows[0][2])) {
                submission.result = Submitted::ATTEMPT_USED;
                return false;
            }
            // Whole milliseconds on both sides: a run that took its full time is never
            // refused for the part of a millisecond the clock did not count.
            const double elapsed_ms = static_cast<double>(now_ms - number(rows[0][1]));
            if (elapsed_ms + 1 < std::floor(last.flight_us / 1000)) {
                submission.result = Submitted::TOO_FAST;
                return false;
            }
            timed = true;
        }
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const bool last = i + 1 == runs.size();
            const std::int64_t id = enter(db, name, runs[i], timed && last, now_ms);
            if (last && attempt_free
                && db.query("UPDATE attempts SET run_id = $1 WHERE id = $2 AND run_id IS NULL"
                            " RETURNING id",
                            {id, *attempt})
                       .empty()) {
                // Another server timed a run with it meanwhile.
                submission.result = Submitted::ATTEMPT_USED;
                return false;
            }
            submission.entries.push_back(find_run(db, id).value());
        }
        return true;
    });
    return submission;
}

std::optional<RunEntry> Store::run(std::int64_t id)
{
    std::optional<RunEntry> entry;
    database_->read([&](SqlConnection& db) { entry = find_run(db, id); });
    return entry;
}

std::optional<std::string> Store::recording(std::int64_t id)
{
    std::optional<std::string> text;
    database_->read([&](SqlConnection& db) {
        const SqlRows rows = db.query("SELECT recording FROM runs WHERE id = $1", {id});
        if (!rows.empty())
            text = rows[0][0];
    });
    return text;
}

std::vector<RunEntry> Store::board(std::uint64_t seed, const std::string& category, int limit)
{
    std::vector<RunEntry> entries;
    database_->read([&](SqlConnection& db) {
        const std::string columns = RUN_COLUMNS;
        const SqlRows rows =
            category.empty()
                ? db.query(("SELECT " + columns
                            + " FROM (SELECT run_id, score, ROW_NUMBER() OVER (PARTITION BY name"
                              " ORDER BY score DESC, run_id) AS place FROM bests WHERE seed = $1) b"
                              " JOIN runs r ON r.id = b.run_id WHERE b.place = 1"
                              " ORDER BY b.score DESC, b.run_id LIMIT $2")
                               .c_str(),
                           {seed_key(seed), std::int64_t{limit}})
                : db.query(("SELECT " + columns
                            + " FROM bests b JOIN runs r ON r.id = b.run_id"
                              " WHERE b.seed = $1 AND b.category = $2"
                              " ORDER BY b.score DESC, b.run_id LIMIT $3")
                               .c_str(),
                           {seed_key(seed), category, std::int64_t{limit}});
        for (const SqlRow& row : rows) {
            entries.push_back(entry_of(row));
            entries.back().rank = static_cast<std::int64_t>(entries.size());
        }
    });
    return entries;
}
