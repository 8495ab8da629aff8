// The store in one SQLite file. Writes queue for one writer, which commits everything
// waiting in one transaction and one flush to disk: a thousand submissions a second cost
// a few hundred flushes, and every one is on disk before it is answered. Readers each
// have a connection of their own and read beside the writer (write-ahead log).
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include <sqlite3.h>

#include "server/store.h"

namespace {

// How long a connection waits for the file's lock (another program holding it) before
// the request fails.
constexpr int BUSY_MS = 10000;
// The writer commits at most this many writes at once.
constexpr std::size_t BATCH = 256;

class SqliteConnection final : public SqlConnection {
public:
    SqliteConnection(const std::string& path, bool create)
    {
        const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0)
                          | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            db_ = nullptr;
            throw StoreError(path + ": " + why);
        }
        sqlite3_busy_timeout(db_, BUSY_MS);
        sqlite3_extended_result_codes(db_, 1);
    }
    ~SqliteConnection() override
    {
        for (auto& [sql, statement] : statements_)
            sqlite3_finalize(statement);
        sqlite3_close(db_);
    }

    SqlRows query(const char* sql, const std::vector<SqlParam>& params = {}) override
    {
        sqlite3_stmt* statement = prepare(sql);
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        for (std::size_t i = 0; i < params.size(); ++i) {
            char name[24];
            std::snprintf(name, sizeof name, "$%zu", i + 1);
            const int index = sqlite3_bind_parameter_index(statement, name);
            if (index == 0)
                continue;
            const SqlParam& p = params[i];
            const int bound = p.integer
                ? sqlite3_bind_int64(statement, index, p.number)
                : sqlite3_bind_text(statement, index, p.text.data(),
                                    static_cast<int>(p.text.size()), SQLITE_TRANSIENT);
            if (bound != SQLITE_OK)
                fail();
        }
        SqlRows rows;
        for (;;) {
            const int step = sqlite3_step(statement);
            if (step == SQLITE_DONE)
                break;
            if (step != SQLITE_ROW) {
                sqlite3_reset(statement);
                fail();
            }
            SqlRow row;
            const int columns = sqlite3_column_count(statement);
            for (int c = 0; c < columns; ++c) {
                if (sqlite3_column_type(statement, c) == SQLITE_NULL) {
                    row.emplace_back();
                    continue;
                }
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
                row.emplace_back(std::string(text, static_cast<std::size_t>(
                                                       sqlite3_column_bytes(statement, c))));
            }
            rows.push_back(std::move(row));
        }
        sqlite3_reset(statement);
        return rows;
    }

    void exec(const char* sql)
    {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            fail();
    }

private:
    sqlite3_stmt* prepare(const char* sql)
    {
        auto found = statements_.find(sql);
        if (found != statements_.end())
            return found->second;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr)
            != SQLITE_OK)
            fail();
        statements_.emplace(sql, statement);
        return statement;
    }

    [[noreturn]] void fail()
    {
        throw StoreError(sqlite3_errmsg(db_));
    }

    sqlite3* db_ = nullptr;
    std::map<std::string, sqlite3_stmt*> statements_;
};

class SqliteDatabase final : public SqlDatabase {
public:
    explicit SqliteDatabase(const std::string& path) : path_(path)
    {
        writer_connection_ = std::make_unique<SqliteConnection>(path, true);
        try {
            // A database of another program's is left as it is.
            const SqlRows foreign = writer_connection_->query(
                "SELECT name FROM sqlite_master WHERE type = 'table'"
                " AND name NOT IN ('secret', 'attempts', 'runs', 'bests')");
            if (!foreign.empty())
                throw StoreError("holds tables of another program's (" + foreign[0][0].value_or("")
                                 + ")");
            // Nothing answered is lost when the server is killed, nor when the machine
            // stops: every commit reaches the disk before the writer goes on.
            writer_connection_->query("PRAGMA journal_mode = WAL");
            writer_connection_->exec("PRAGMA synchronous = FULL");
        } catch (const StoreError& failure) {
            throw StoreError(path + ": " + failure.what());
        }
        writer_ = std::thread([this] { write_loop(); });
    }

    ~SqliteDatabase() override
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_writer_.notify_all();
        writer_.join();
    }

    void write(const std::function<bool(SqlConnection&)>& work) override
    {
        Job job{&work, {}};
        std::future<void> done = job.done.get_future();
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_writer_.notify_one();
        done.get();
    }

    void read(const std::function<void(SqlConnection&)>& work) override
    {
        std::unique_ptr<SqliteConnection> connection;
        {
            std::lock_guard lock(mutex_);
            if (!readers_.empty()) {
                connection = std::move(readers_.back());
                readers_.pop_back();
            }
        }
        if (!connection)
            connection = std::make_unique<SqliteConnection>(path_, false);
        connection->exec("BEGIN");
        try {
            work(*connection);
        } catch (...) {
            connection->exec("ROLLBACK");
            give_back(std::move(connection));
            throw;
        }
        connection->exec("COMMIT");
        give_back(std::move(connection));
    }

    const char* serial_key() const override { return "INTEGER PRIMARY KEY"; }
    const char* schema_lock() const override { return ""; }
    std::string describe() const override { return "the SQLite file " + path_; }

private:
    struct Job {
        const std::function<bool(SqlConnection&)>* work;
        std::promise<void> done;
    };

    void give_back(std::unique_ptr<SqliteConnection> connection)
    {
        std::lock_guard lock(mutex_);
        readers_.push_back(std::move(connection));
    }

    // Each job in a savepoint of its own, so that one that refuses or fails takes nothing
    // of the others with it; then one commit for all.
    void write_loop()
    {
        for (;;) {
            std::vector<Job> batch;
            {
                std::unique_lock lock(mutex_);
                wake_writer_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty())
                    return;
                while (!jobs_.empty() && batch.size() < BATCH) {
                    batch.push_back(std::move(jobs_.front()));
                    jobs_.pop_front();
                }
            }
            std::vector<std::exception_ptr> failed(batch.size());
            std::exception_ptr commit_failed;
            SqliteConnection& db = *writer_connection_;
            try {
                db.exec("BEGIN IMMEDIATE");
                for (std::size_t i = 0; i < batch.size(); ++i) {
                    db.exec("SAVEPOINT job");
                    bool keep = false;
                    try {
                        keep = (*batch[i].work)(db);
                    } catch (...) {
                        failed[i] = std::current_exception();
                    }
                    if (!keep)
                        db.exec("ROLLBACK TO job");
                    db.exec("RELEASE job");
                }
                db.exec("COMMIT");
            } catch (...) {
                commit_failed = std::current_exception();
                try {
                    db.exec("ROLLBACK");
                } catch (...) {
                }
            }
            for (std::size_t i = 0; i < batch.size(); ++i) {
                if (commit_failed)
                    batch[i].done.set_exception(commit_failed);
                else if (failed[i])
                    batch[i].done.set_exception(failed[i]);
                else
                    batch[i].done.set_value();
            }
        }
    }

    std::string path_;
    std::unique_ptr<SqliteConnection> writer_connection_;
    std::thread writer_;
    std::mutex mutex_;
    std::condition_variable wake_writer_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::vector<std::unique_ptr<SqliteConnection>> readers_;
};

} // namespace

std::unique_ptr<SqlDatabase> open_sqlite(const std::string& path)
{
    return std::make_unique<SqliteDatabase>(path);
}
