// The store in a PostgreSQL database, which several servers may share: each request takes
// a connection of this server's own for one transaction, and PostgreSQL keeps the
// servers' writes apart.
#include <condition_variable>
#include <mutex>

#include <libpq-fe.h>

#include "server/store.h"

namespace {

class PostgresConnection final : public SqlConnection {
public:
    explicit PostgresConnection(const std::string& uri) : db_(PQconnectdb(uri.c_str()))
    {
        if (PQstatus(db_) != CONNECTION_OK) {
            const std::string why = PQerrorMessage(db_);
            PQfinish(db_);
            throw StoreError("cannot connect to PostgreSQL: " + first_line(why));
        }
        // The store's own notices (a table that is there already) are nobody's business.
        PQsetNoticeProcessor(db_, [](void*, const char*) {}, nullptr);
    }
    ~PostgresConnection() override { PQfinish(db_); }

    bool broken() const { return PQstatus(db_) != CONNECTION_OK; }

    SqlRows query(const char* sql, const std::vector<SqlParam>& params = {}) override
    {
        std::vector<std::string> texts;
        texts.reserve(params.size());
        for (const SqlParam& p : params)
            texts.push_back(p.integer ? std::to_string(p.number) : p.text);
        std::vector<const char*> values;
        for (const std::string& t : texts)
            values.push_back(t.c_str());
        PGresult* result = PQexecParams(db_, sql, static_cast<int>(values.size()), nullptr,
                                        values.data(), nullptr, nullptr, 0);
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const std::string why = PQresultErrorMessage(result);
            PQclear(result);
            throw StoreError("PostgreSQL: " + first_line(why));
        }
        SqlRows rows;
        const int count = PQntuples(result);
        const int columns = PQnfields(result);
        for (int r = 0; r < count; ++r) {
            SqlRow row;
            for (int c = 0; c < columns; ++c) {
                if (PQgetisnull(result, r, c))
                    row.emplace_back();
                else
                    row.emplace_back(std::string(PQgetvalue(result, r, c),
                                                 static_cast<std::size_t>(PQgetlength(result, r, c))));
            }
            rows.push_back(std::move(row));
        }
        PQclear(result);
        return rows;
    }

private:
    static std::string first_line(const std::string& text)
    {
        return text.substr(0, text.find('\n'));
    }

    PGconn* db_;
};

class PostgresDatabase final : public SqlDatabase {
public:
    PostgresDatabase(const std::string& uri, int connections) : uri_(uri), most_(connections)
    {
        // Connects once now, so that a wrong address is said at start-up.
        auto first = std::make_unique<PostgresConnection>(uri_);
        const SqlRows where = first->query(
            "SELECT current_database(), COALESCE(inet_server_addr()::text, 'a local socket')", {});
        description_ = "the PostgreSQL database " + where.at(0).at(0).value_or("?") + " on "
                       + where.at(0).at(1).value_or("?");
        give_back(std::move(first));
    }

    void write(const std::function<bool(SqlConnection&)>& work) override
    {
        transaction([&](SqlConnection& db) { return work(db); });
    }

    void read(const std::function<void(SqlConnection&)>& work) override
    {
        transaction([&](SqlConnection& db) {
            work(db);
            return true;
        });
    }

    const char* serial_key() const override { return "BIGSERIAL PRIMARY KEY"; }
    // Servers started together would each make the tables, and all but one fail.
    const char* schema_lock() const override
    {
        return "SELECT pg_advisory_xact_lock(hashtext('skarvolt-server schema'))";
    }
    std::string describe() const override { return description_; }

private:
    void transaction(const std::function<bool(SqlConnection&)>& work)
    {
        std::unique_ptr<PostgresConnection> db = take();
        try {
            db->query("BEGIN", {});
            const bool keep = work(*db);
            db->query(keep ? "COMMIT" : "ROLLBACK", {});
        } catch (...) {
            if (!db->broken()) {
                try {
                    db->query("ROLLBACK", {});
                } catch (...) {
                }
            }
            give_back(std::move(db));
            throw;
        }
        give_back(std::move(db));
    }

    // A connection of the pool, or a new one while there are fewer than most_.
    std::unique_ptr<PostgresConnection> take()
    {
        std::unique_lock lock(mutex_);
        returned_.wait(lock, [this] { return !idle_.empty() || open_ < most_; });
        if (!idle_.empty()) {
            std::unique_ptr<PostgresConnection> db = std::move(idle_.back());
            idle_.pop_back();
            return db;
        }
        ++open_;
        lock.unlock();
        try {
            return std::make_unique<PostgresConnection>(uri_);
        } catch (...) {
            lock.lock();
            --open_;
            returned_.notify_one();
            throw;
        }
    }

    // A broken connection is dropped; the next request opens a new one.
    void give_back(std::unique_ptr<PostgresConnection> db)
    {
        std::lock_guard lock(mutex_);
        if (db->broken())
            --open_;
        else
            idle_.push_back(std::move(db));
        returned_.notify_one();
    }

    std::string uri_;
    int most_;
    int open_ = 1; // the first, made by the constructor
    std::string description_;
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<PostgresConnection>> idle_;
};

} // namespace

std::unique_ptr<SqlDatabase> open_postgres(const std::string& uri, int connections)
{
    return std::make_unique<PostgresDatabase>(uri, connections);
}
