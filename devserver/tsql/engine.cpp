// The database engine behind the wire protocol: one SQLite connection per session, T-SQL batches
// translated and run statement by statement with the server's error and transaction rules.
#include "../engine.h"

#include "catalog.h"
#include "errors.h"
#include "functions.h"
#include "qtl/qtl.h"
#include "results.h"
#include "translate.h"

#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <stdexcept>

namespace devserver {

namespace {

using tsql::PlannedStatement;
using tsql::StmtKind;

Message makeMessage(std::int32_t number, std::uint8_t severity, const std::string& text) {
    Message m;
    m.number = number;
    m.severity = severity;
    m.text = text;
    return m;
}

sqlite3* openConnection(const std::string& path, int flags) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        const std::string err = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        throw std::runtime_error("cannot open database " + path + ": " + err);
    }
    sqlite3_busy_timeout(db, 5000);
    sqlite3_extended_result_codes(db, 1);
    // "name" must be a name, never a string as SQLite would otherwise guess.
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    return db;
}

void execOrThrow(sqlite3* db, const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string text = err ? err : "unknown error";
        sqlite3_free(err);
        throw std::runtime_error(text);
    }
}

ResultSet datatypeInfoResult() {
    // What ODBC's SQLGetTypeInfo reads; answered empty, the client then uses its defaults.
    ResultSet rs;
    const std::pair<const char*, ColType> cols[] = {
        {"TYPE_NAME", ColType::NVarChar},       {"DATA_TYPE", ColType::Int},        {"PRECISION", ColType::Int},
        {"LITERAL_PREFIX", ColType::NVarChar},  {"LITERAL_SUFFIX", ColType::NVarChar},
        {"CREATE_PARAMS", ColType::NVarChar},   {"NULLABLE", ColType::Int},         {"CASE_SENSITIVE", ColType::Int},
        {"SEARCHABLE", ColType::Int},           {"UNSIGNED_ATTRIBUTE", ColType::Int}, {"MONEY", ColType::Int},
        {"AUTO_INCREMENT", ColType::Int},       {"LOCAL_TYPE_NAME", ColType::NVarChar},
        {"MINIMUM_SCALE", ColType::Int},        {"MAXIMUM_SCALE", ColType::Int},    {"SQL_DATA_TYPE", ColType::Int},
        {"SQL_DATETIME_SUB", ColType::Int},     {"NUM_PREC_RADIX", ColType::Int},   {"INTERVAL_PRECISION", ColType::Int},
        {"USERTYPE", ColType::Int}};
    for (const auto& [name, type] : cols) {
        Column c;
        c.name = name;
        c.type = type;
        c.maxChars = 128;
        rs.columns.push_back(c);
    }
    return rs;
}

class SessionImpl : public Session {
public:
    SessionImpl(sqlite3* db, std::string user, std::optional<std::regex> failOn)
        : db_(db), catalog_(db), failOn_(std::move(failOn)) {
        ctx_.user = std::move(user);
        try {
            tsql::bindDateFormat(db_, &dateFormat_);
        } catch (...) {
            sqlite3_close_v2(db_);
            throw;
        }
    }
    ~SessionImpl() override { sqlite3_close_v2(db_); }

    void cancel() override {
        cancel_ = true;
        sqlite3_interrupt(db_);
    }

    BatchOutcome executeBatch(const std::string& sql) override {
        // An ATTENTION that came after the previous batch had ended must not stop this one.
        cancel_ = false;
        BatchOutcome out;
        try {
            run(sql, out);
        } catch (const std::exception& e) {
            StatementOutcome so;
            so.failed = true;
            so.messages.push_back(makeMessage(50000, 16, std::string("Internal error: ") + e.what()));
            out.statements.push_back(so);
        }
        if (out.statements.empty()) out.statements.emplace_back();
        cancel_ = false;
        return out;
    }

private:
    sqlite3* db_;
    tsql::SqliteCatalog catalog_;
    std::optional<std::regex> failOn_;
    qtl::SessionContext ctx_;
    int tranCount_ = 0;
    bool xactAbort_ = false;
    bool nocount_ = false;
    std::string dateFormat_ = "mdy";   // read by tsql_datetime of this connection
    std::atomic<bool> cancel_{false};

    struct Prepared {
        sqlite3_stmt* st = nullptr;
        ~Prepared() { sqlite3_finalize(st); }
    };

    void run(const std::string& sql, BatchOutcome& out) {
        std::vector<PlannedStatement> plan;
        try {
            plan = tsql::translateBatch(sql, catalog_);
        } catch (const tsql::TsqlError& e) {
            StatementOutcome so;
            so.failed = true;
            so.messages.push_back(makeMessage(e.number, e.severity, e.what()));
            out.statements.push_back(so);
            return;
        }
        // Compile every statement before running any: a batch with a statement the server could
        // not compile does not run at all.
        std::vector<Prepared> prepared(plan.size());
        for (std::size_t i = 0; i < plan.size(); ++i) {
            if (plan[i].sql.empty()) continue;
            const char* tail = nullptr;
            const int rc = sqlite3_prepare_v2(db_, plan[i].sql.c_str(), static_cast<int>(plan[i].sql.size()),
                                              &prepared[i].st, &tail);
            if (rc != SQLITE_OK || (tail && std::string(tail).find_first_not_of(" \t\r\n") != std::string::npos)) {
                StatementOutcome so;
                so.failed = true;
                so.messages.push_back(rc != SQLITE_OK ? tsql::mapSqliteError(rc, sqlite3_errmsg(db_), plan[i].text, verb(plan[i]))
                                                      : makeMessage(102, 15, "Incorrect syntax near ';'."));
                out.statements.push_back(so);
                return;
            }
        }
        for (std::size_t i = 0; i < plan.size(); ++i) {
            if (cancel_) break;
            StatementOutcome so;
            bool runtimeError = false;
            if (failOn_ && std::regex_search(plan[i].text, *failOn_)) {
                so.failed = true;
                so.messages.push_back(makeMessage(50000, 16, "Injected failure: " + tsql::firstWords(plan[i].text)));
                runtimeError = true;
            } else {
                runtimeError = execute(plan[i], prepared[i].st, so);
            }
            // SQLite may have ended the transaction itself (interrupt, I/O error).
            if (tranCount_ > 0 && sqlite3_get_autocommit(db_)) {
                tranCount_ = 0;
                so.tran = StatementOutcome::Tran::Rollback;
            }
            const bool interrupted = cancel_.load();
            if (runtimeError && xactAbort_ && !interrupted) {
                if (tranCount_ > 0) {
                    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
                    tranCount_ = 0;
                    so.tran = StatementOutcome::Tran::Rollback;
                }
                out.statements.push_back(std::move(so));
                break;
            }
            out.statements.push_back(std::move(so));
            if (interrupted) break;
        }
    }

    static std::string verb(const PlannedStatement& p) {
        switch (p.kind) {
        case StmtKind::Insert: return "INSERT";
        case StmtKind::Update: return "UPDATE";
        case StmtKind::Delete: return "DELETE";
        default: return "SELECT";
        }
    }

    void fail(StatementOutcome& so, const Message& m) {
        so.failed = true;
        so.messages.push_back(m);
    }

    // Runs one statement; true when it ended in a run-time error.
    bool execute(const PlannedStatement& p, sqlite3_stmt* st, StatementOutcome& so) {
        switch (p.kind) {
        case StmtKind::Select:
        case StmtKind::Insert:
        case StmtKind::Update:
        case StmtKind::Delete: return runSql(p, st, so);
        case StmtKind::Exec: return runExec(p, so);
        case StmtKind::Set:
            for (const tsql::SetOption& o : p.options) {
                if (o.kind == tsql::SetOption::Kind::DateFormat) {
                    dateFormat_ = o.value;
                    ctx_.dateFormatDmy = o.value == "dmy";
                }
                if (o.kind == tsql::SetOption::Kind::XactAbort) xactAbort_ = o.on;
                if (o.kind == tsql::SetOption::Kind::NoCount) nocount_ = o.on;
            }
            return false;
        case StmtKind::BeginTran:
            if (tranCount_ == 0) {
                const int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
                if (rc != SQLITE_OK) {
                    fail(so, tsql::mapSqliteError(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_), p.text, "BEGIN"));
                    return true;
                }
                so.tran = StatementOutcome::Tran::Begin;
            }
            ++tranCount_;
            return false;
        case StmtKind::CommitTran:
            if (tranCount_ == 0) {
                fail(so, makeMessage(3902, 16, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."));
                return true;
            }
            if (tranCount_ == 1) {
                const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
                if (rc != SQLITE_OK) {
                    fail(so, tsql::mapSqliteError(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_), p.text, "COMMIT"));
                    return true;
                }
                so.tran = StatementOutcome::Tran::Commit;
            }
            --tranCount_;
            return false;
        case StmtKind::RollbackTran:
            if (tranCount_ == 0) {
                fail(so, makeMessage(3903, 16, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION."));
                return true;
            }
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            tranCount_ = 0;
            so.tran = StatementOutcome::Tran::Rollback;
            return false;
        }
        return false;
    }

    bool runSql(const PlannedStatement& p, sqlite3_stmt* st, StatementOutcome& so) {
        const int n = sqlite3_column_count(st);
        tsql::RowCollector rows(st, p.columnNames);
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) rows.add();
        if (n > 0) so.results.push_back(rows.finish());
        if (rc != SQLITE_DONE) {
            if (!cancel_) fail(so, tsql::mapSqliteError(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_), p.text, verb(p)));
            else so.failed = true;
            return true;
        }
        if (p.kind != StmtKind::Select && !nocount_) {
            so.hasRowCount = true;
            so.rowCount = sqlite3_changes64(db_);
        }
        return false;
    }

    bool runExec(const PlannedStatement& p, StatementOutcome& so) {
        so.isProcedure = true;
        if (tsql::iequals(p.routine, "sp_datatype_info_100") || tsql::iequals(p.routine, "sp_datatype_info")) {
            so.results.push_back(datatypeInfoResult());
            return false;
        }
        if (!qtl::isRoutine(p.routine)) {
            so.isProcedure = false;
            fail(so, makeMessage(2812, 16, "Could not find stored procedure '" + p.routine + "'."));
            return true;
        }
        // A routine's writes stand or fall together, as a procedure's do on the server when it fails.
        sqlite3_exec(db_, "SAVEPOINT qtl_routine", nullptr, nullptr, nullptr);
        try {
            qtl::callRoutine(db_, ctx_, p.routine, p.args, so);
        } catch (const std::exception& e) {
            fail(so, makeMessage(50000, 16, std::string("Routine ") + p.routine + " failed: " + e.what()));
        }
        if (so.failed) sqlite3_exec(db_, "ROLLBACK TO qtl_routine", nullptr, nullptr, nullptr);
        sqlite3_exec(db_, "RELEASE qtl_routine", nullptr, nullptr, nullptr);
        return so.failed;
    }
};

class EngineImpl : public Engine {
public:
    explicit EngineImpl(const EngineOptions& options) : options_(options) {
        const bool fresh = options.dbPath == ":memory:" || !std::filesystem::exists(options.dbPath);
        admin_ = openConnection(options.dbPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        try {
            qtl::registerFunctions(admin_);
            tsql::registerFunctions(admin_);
            // Readers never wait for a writer, and each session sees committed data only.
            if (options.dbPath != ":memory:") execOrThrow(admin_, "PRAGMA journal_mode=WAL");
            if (fresh) qtl::createDatabase(admin_, options.demo);
        } catch (const std::exception& e) {
            sqlite3_close_v2(admin_);
            if (fresh && options.dbPath != ":memory:") {
                std::error_code ec;
                std::filesystem::remove(options.dbPath, ec);
                std::filesystem::remove(options.dbPath + "-wal", ec);
                std::filesystem::remove(options.dbPath + "-shm", ec);
            }
            throw std::runtime_error(std::string("cannot create the QTL database: ") + e.what());
        }
    }
    ~EngineImpl() override { sqlite3_close_v2(admin_); }

    std::unique_ptr<Session> login(const std::string& user, const std::string& password, const std::string& database,
                                   LoginResult& result) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            result = qtl::checkLogin(admin_, user, password, database);
        }
        if (!result.ok) return nullptr;
        sqlite3* db = openConnection(options_.dbPath, SQLITE_OPEN_READWRITE);
        try {
            qtl::registerFunctions(db);
            tsql::registerFunctions(db);
        } catch (...) {
            sqlite3_close_v2(db);
            throw;
        }
        return std::make_unique<SessionImpl>(db, user, options_.failOn);
    }

    std::pair<std::string, std::string> settingsAccount() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return qtl::settingsAccount(admin_);
    }

private:
    EngineOptions options_;
    sqlite3* admin_ = nullptr;
    std::mutex mutex_;
};

}  // namespace

std::unique_ptr<Engine> makeEngine(const EngineOptions& options) { return std::make_unique<EngineImpl>(options); }

}  // namespace devserver
