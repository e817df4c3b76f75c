// The database engine behind the wire protocol: one SQLite connection per session, T-SQL batches
// translated and run statement by statement with the server's error and transaction rules.
#include "../engine.h"

#include "build_lock.h"
#include "catalog.h"
#include "errors.h"
#include "functions.h"
#include "qtl/qtl.h"
#include "redact.h"
#include "results.h"
#include "statement_cache.h"
#include "tempstore.h"
#include "translate.h"

#include <sqlite3.h>

#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <set>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace devserver {

namespace {

using tsql::PlannedStatement;
using tsql::StmtKind;

sqlite3* openConnection(const std::string& path, int flags, const char* vfs = nullptr) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_FULLMUTEX, vfs) != SQLITE_OK) {
        const std::string err = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        throw std::runtime_error("cannot open database " + path + ": " + err);
    }
    sqlite3_busy_timeout(db, 5000);
    sqlite3_extended_result_codes(db, 1);
    // With the write-ahead log a commit is durable once written there; the log reaches the disk
    // at checkpoints, not at every commit (see README, "Locks and durability").
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
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
    const std::pair<const char*, ColType> cols[] = {{"TYPE_NAME", ColType::NVarChar},
                                                    {"DATA_TYPE", ColType::Int},
                                                    {"PRECISION", ColType::Int},
                                                    {"LITERAL_PREFIX", ColType::NVarChar},
                                                    {"LITERAL_SUFFIX", ColType::NVarChar},
                                                    {"CREATE_PARAMS", ColType::NVarChar},
                                                    {"NULLABLE", ColType::Int},
                                                    {"CASE_SENSITIVE", ColType::Int},
                                                    {"SEARCHABLE", ColType::Int},
                                                    {"UNSIGNED_ATTRIBUTE", ColType::Int},
                                                    {"MONEY", ColType::Int},
                                                    {"AUTO_INCREMENT", ColType::Int},
                                                    {"LOCAL_TYPE_NAME", ColType::NVarChar},
                                                    {"MINIMUM_SCALE", ColType::Int},
                                                    {"MAXIMUM_SCALE", ColType::Int},
                                                    {"SQL_DATA_TYPE", ColType::Int},
                                                    {"SQL_DATETIME_SUB", ColType::Int},
                                                    {"NUM_PREC_RADIX", ColType::Int},
                                                    {"INTERVAL_PRECISION", ColType::Int},
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

// The transaction count of the session that owns the connection, for @@TRANCOUNT.
void trancountFunction(sqlite3_context* ctx, int, sqlite3_value**) {
    sqlite3_result_int(ctx, *static_cast<const int*>(sqlite3_user_data(ctx)));
}

// What the session's global variables answer (@@SPID, @@TEXTSIZE, @@LOCK_TIMEOUT, @@VERSION).
struct SessionGlobals {
    int spid = 0;
    int textSize = 4096;  // the server's own default until a client sets one
    const int* lockTimeoutMs = nullptr;
};

void sessionFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    const auto& g = *static_cast<const SessionGlobals*>(sqlite3_user_data(ctx));
    const auto* p = sqlite3_value_text(argv[0]);
    const std::string name = p ? reinterpret_cast<const char*>(p) : "";
    if (name == "SPID") return sqlite3_result_int(ctx, g.spid);
    if (name == "TEXTSIZE") return sqlite3_result_int(ctx, g.textSize);
    if (name == "LOCK_TIMEOUT") return sqlite3_result_int(ctx, g.lockTimeoutMs ? *g.lockTimeoutMs : -1);
    if (name == "MICROSOFTVERSION") return sqlite3_result_int(ctx, (16 << 24) | 1000);  // as LOGINACK: 16.0.1000
    if (name == "VERSION") {
        static const char kVersion[] =
            "qtl-devserver 16.0.1000: a stand-in for Microsoft SQL Server on loopback (TDS 7.1 to 7.4), database QTL";
        return sqlite3_result_text(ctx, kVersion, -1, SQLITE_STATIC);
    }
    sqlite3_result_null(ctx);
}

// SQLite compiles one statement and says where it stopped; what follows must be blank, to the
// text's real end (a NUL would end a C string early and hide what comes after it).
bool wholeTextCompiled(const std::string& sql, const char* tail) {
    if (!tail) return true;
    const auto used = static_cast<std::size_t>(tail - sql.data());
    return used <= sql.size() && sql.find_first_not_of(" \t\r\n", used) == std::string::npos;
}

bool isNoSuchTable(const std::string& sqliteMessage) {
    return sqliteMessage.rfind("no such table: ", 0) == 0;
}

// What a session's account may do with the QTL objects.
enum class Role {
    // The settings-file account: the login procedure, nothing else. Its password sits in a file
    // on every workstation, so whoever can read that file must learn nothing more than a login
    // attempt tells; tests set up their data in the database file itself, never through it.
    LoginOnly,
    Operator,  // an account GET_USER hands out: what the workstation's statements need
};

// SQLite's own catalog, its pragma functions and the virtual tables built into it answer
// questions (the file's path, page layout, library addresses) that no T-SQL client may ask here.
bool hiddenObject(const std::string& name) {
    const std::string u = tsql::upper(name);
    if (u.rfind("SQLITE_", 0) == 0 || u.rfind("PRAGMA_", 0) == 0) return true;
    static const std::set<std::string> builtIn = {
        "DBSTAT", "JSON_EACH",  "JSON_TREE", "GENERATE_SERIES", "FTS3TOKENIZE", "FTS4AUX", "FTS5VOCAB", "ZIPFILE",
        "CARRAY", "COMPLETION", "BYTECODE",  "TABLES_USED",     "FSDIR",        "CSV",     "RTREE",     "SWARMVTAB"};
    return builtIn.count(u) > 0;
}

// Functions of SQLite that no translated statement calls and that reveal or load things.
bool hiddenFunction(const std::string& name) {
    const std::string u = tsql::upper(name);
    if (u.rfind("SQLITE_", 0) == 0 || u.rfind("FTS", 0) == 0) return true;
    static const std::set<std::string> refused = {"LOAD_EXTENSION", "READFILE",   "WRITEFILE",     "EDIT",
                                                  "ZEROBLOB",       "RANDOMBLOB", "UNLIKELY",      "LIKELIHOOD",
                                                  "SHA3",           "SHA3_QUERY", "FTS3_TOKENIZER"};
    return refused.count(u) > 0;
}

Message permissionDenied(const std::string& verb, const std::string& object) {
    return makeMessage(
        sqlerr::PermissionDenied, 14,
        "The " + verb + " permission was denied on the object '" + object + "', database 'QTL', schema 'dbo'.");
}

class SessionImpl : public Session, private qtl::SignInWriter {
public:
    SessionImpl(sqlite3* db, std::string user, Role role, const EngineOptions& options, qtl::SignInRecorder& signIns)
        : db_(db),
          role_(role),
          dbPath_(options.dbPath),
          lockTimeoutMs_(options.lockTimeoutMs),
          signIns_(signIns),
          maxResultBytes_(options.maxResultBytes),
          catalog_(db),
          failOn_(options.failOn),
          stallOn_(options.stallOn),
          onStall_(options.onStall),
          faultMark_(options.faultMark),
          failNth_(options.failNth),
          dropNth_(options.dropNth),
          counting_(!options.faultMark) {
        ctx_.user = std::move(user);
        ctx_.signIns = this;
        globals_.lockTimeoutMs = &lockTimeoutMs_;
        try {
            tsql::bindDateFormat(db_, &dateFormat_);
            if (sqlite3_create_function(db_, "tsql_trancount", 0, SQLITE_UTF8, &tranCount_, trancountFunction, nullptr,
                                        nullptr) != SQLITE_OK ||
                sqlite3_create_function(db_, "tsql_session", 1, SQLITE_UTF8, &globals_, sessionFunction, nullptr,
                                        nullptr) != SQLITE_OK)
                throw std::runtime_error(sqlite3_errmsg(db_));
            sqlite3_set_authorizer(db_, &SessionImpl::authorize, this);
            sqlite3_busy_handler(db_, &SessionImpl::waitForLock, this);
            catalog_.watch(&cancelFlag_);
            qtl::watchCancel(db_, &cancelFlag_);
        } catch (...) {
            sqlite3_close_v2(db_);
            throw;
        }
    }
    // Closing the connection rolls back a transaction the client left open.
    ~SessionImpl() override {
        compiled_.clear();
        sqlite3_close_v2(db_);
    }

    void cancel() override {
        std::lock_guard lock(cancelMutex_);
        cancel_ = true;
        cancelFlag_ = true;
        if (interruptible_) sqlite3_interrupt(db_);
        cancelCv_.notify_all();
    }

    void clearCancel() override {
        std::lock_guard lock(cancelMutex_);
        cancel_ = false;
        cancelFlag_ = false;
    }

    int tranCount() const override { return tranCount_; }
    void setSpid(int spid) override { globals_.spid = spid; }
    bool xactAbort() const override { return xactAbort_; }

    BatchOutcome executeBatch(const std::string& sql) override {
        BatchOutcome out;
        try {
            run(sql, out);
        } catch (const std::exception& e) {
            StatementOutcome so;
            so.failed = true;
            so.messages.push_back(makeMessage(sqlerr::UserDefined, 16, std::string("Internal error: ") + e.what()));
            out.statements.push_back(so);
        }
        if (out.statements.empty()) out.statements.emplace_back();
        return out;
    }

private:
    // How a statement ended, for what happens to the rest of the batch.
    enum class End {
        Ok,
        RunTime,  // the statement failed; XACT_ABORT decides about the batch and transaction
        Resolution,  // a name was not found when the statement was reached: the batch ends here
        Cancelled,  // ATTENTION or the client gone
    };

    sqlite3* db_;
    Role role_;
    std::string dbPath_;
    int lockTimeoutMs_ = -1;
    qtl::SignInRecorder& signIns_;
    std::chrono::steady_clock::time_point lockWaitSince_;
    std::size_t maxResultBytes_;
    // True while the server's own statements run on the connection (the catalog's lookups, the
    // routines): they read what the session's account may not, as a procedure's owner does.
    bool trusted_ = false;
    // Why the authorizer refused the statement being compiled, with its outcome for the batch.
    std::optional<Message> denial_;
    bool denialIsResolution_ = false;
    tsql::SqliteCatalog catalog_;
    std::optional<Pattern> failOn_;
    std::optional<Pattern> stallOn_;
    std::function<void()> onStall_;
    std::optional<std::string> faultMark_;
    int failNth_ = 0;
    int dropNth_ = 0;
    bool counting_ = true;  // false until the fault mark was seen, when there is one
    int counted_ = 0;
    qtl::SessionContext ctx_;
    int tranCount_ = 0;  // read by tsql_trancount() on this connection
    bool xactAbort_ = false;
    bool nocount_ = false;
    bool implicitTransactions_ = false;  // SET IMPLICIT_TRANSACTIONS
    std::string identityInsert_;  // the table SET IDENTITY_INSERT is ON for, "" for none
    SessionGlobals globals_;
    std::string dateFormat_ = "mdy";  // read by tsql_datetime of this connection

    std::mutex cancelMutex_;
    std::condition_variable cancelCv_;
    bool cancel_ = false;  // guarded by cancelMutex_
    std::atomic<bool> cancelFlag_{false};  // the same, for the translator to poll
    bool interruptible_ = false;  // guarded by cancelMutex_: sqlite3_interrupt is safe right now

    // The session's compiled statements; before db_ is closed, they are finalized.
    static constexpr std::size_t kCompiledStatements = 48;
    tsql::StatementCache compiled_{kCompiledStatements};
    tsql::PlanCache translated_{kCompiledStatements};

    // A statement being run; one compiled from the whole of its text goes back to compiled_.
    struct Prepared {
        sqlite3_stmt* st = nullptr;
        tsql::StatementCache* keep = nullptr;
        const std::string* sql = nullptr;
        ~Prepared() {
            if (keep)
                keep->give(*sql, st);
            else
                sqlite3_finalize(st);
        }
    };

    bool cancelled() {
        std::lock_guard lock(cancelMutex_);
        return cancel_;
    }

    // A statement waits for a lock another session holds as long as that session keeps it, as
    // SQL Server does with its default LOCK_TIMEOUT of -1, or up to --lock-timeout; ATTENTION or
    // the client's going ends the wait, and so does the holder's end (its idle limit included).
    static int waitForLock(void* self, int attempt) {
        auto* session = static_cast<SessionImpl*>(self);
        const auto now = std::chrono::steady_clock::now();
        if (attempt == 0) session->lockWaitSince_ = now;
        if (session->cancelled()) return 0;
        if (session->lockTimeoutMs_ >= 0 &&
            now - session->lockWaitSince_ >= std::chrono::milliseconds(session->lockTimeoutMs_))
            return 0;  // SQLITE_BUSY: error 1222
        std::this_thread::sleep_for(std::chrono::milliseconds(attempt < 10 ? 1 : attempt < 50 ? 5 : 20));
        return 1;
    }

    void recordSignIn(std::int64_t userId, const std::optional<std::string>& ip,
                      const std::optional<std::string>& computer) override {
        signIns_.record(userId, ip, computer);
    }

    // On a connection of its own, committed at once and waiting for the lock as any write does;
    // on the session's own connection when that already holds the write lock (it would wait for
    // itself).
    void storePassword(std::int64_t userId, const std::string& digest) override {
        if (sqlite3_txn_state(db_, "main") == SQLITE_TXN_WRITE) return qtl::storePassword(db_, userId, digest);
        sqlite3* own = openConnection(dbPath_, SQLITE_OPEN_READWRITE);
        try {
            qtl::registerFunctions(own);
            sqlite3_busy_handler(own, &SessionImpl::waitForLock, this);
            qtl::storePassword(own, userId, digest);
        } catch (...) {
            sqlite3_close_v2(own);
            throw;
        }
        sqlite3_close_v2(own);
    }

    // SQLite's deferred transaction keeps the snapshot of its first read until it ends, and
    // cannot take the write lock on a snapshot that another session's commit made stale. Until
    // the transaction has written, it holds nothing worth keeping: starting it afresh before each
    // statement gives every statement the newest committed data, as READ COMMITTED does.
    void freshSnapshot() {
        if (tranCount_ == 0 || sqlite3_txn_state(db_, "main") != SQLITE_TXN_READ) return;
        if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
            sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
    }

    struct Trusted {
        explicit Trusted(SessionImpl& s) : s_(s), was_(s.trusted_) { s_.trusted_ = true; }
        ~Trusted() { s_.trusted_ = was_; }
        SessionImpl& s_;
        bool was_;
    };

    int deny(Message m, bool resolution) {
        if (!denial_) {
            denial_ = std::move(m);
            denialIsResolution_ = resolution;
        }
        return SQLITE_DENY;
    }

    // Every object a statement reaches passes here while SQLite compiles it. Access through a
    // view or trigger of the schema (`inner` set) is the schema's own: SQL Server checks only the
    // object the statement names when one owner owns the chain ("Ownership Chains").
    static int authorize(void* self, int action, const char* a1, const char* a2, const char*, const char* inner) {
        auto& s = *static_cast<SessionImpl*>(self);
        if (s.trusted_) return SQLITE_OK;
        const std::string x = a1 ? a1 : "", y = a2 ? a2 : "";
        switch (action) {
        case SQLITE_SELECT:
        case SQLITE_TRANSACTION:
        case SQLITE_SAVEPOINT:
        case SQLITE_RECURSIVE: return SQLITE_OK;
        case SQLITE_FUNCTION:
            if (hiddenFunction(y))
                return s.deny(
                    makeMessage(sqlerr::NotRecognized, 15, "'" + y + "' is not a recognized built-in function name."),
                    true);
            return SQLITE_OK;
        case SQLITE_READ:
            if (hiddenObject(x))
                return s.deny(makeMessage(sqlerr::InvalidObjectName, 16, "Invalid object name '" + x + "'."), true);
            if (inner) return SQLITE_OK;
            if (tsql::iequals(x, "QTL_DbAccount") || s.role_ == Role::LoginOnly)
                return s.deny(permissionDenied("SELECT", x), false);
            if (tsql::iequals(x, "QTL_User") && tsql::iequals(y, "password_md5"))
                return s.deny(makeMessage(sqlerr::ColumnPermissionDenied, 14,
                                          "The SELECT permission was denied on the column '" + y + "' of the object '" +
                                              x + "', database 'QTL', schema 'dbo'."),
                              false);
            return SQLITE_OK;
        case SQLITE_INSERT:
        case SQLITE_UPDATE:
        case SQLITE_DELETE: {
            const std::string verb = action == SQLITE_INSERT ? "INSERT" : action == SQLITE_UPDATE ? "UPDATE" : "DELETE";
            if (hiddenObject(x))
                return s.deny(makeMessage(sqlerr::InvalidObjectName, 16, "Invalid object name '" + x + "'."), true);
            if (inner) return SQLITE_OK;
            bool allowed = false;
            if (tsql::iequals(x, "QTL_DbAccount") || tsql::iequals(x, "QTL_User"))
                allowed = false;
            else if (s.role_ == Role::Operator)
                allowed = tsql::iequals(x, "DisciplineForStudent") ||
                          (action == SQLITE_INSERT && tsql::iequals(x, "QTL_LOG"));
            return allowed ? SQLITE_OK : s.deny(permissionDenied(verb, x), false);
        }
        default:
            // PRAGMA, ATTACH, CREATE, DROP, ALTER, ANALYZE, REINDEX: never from a client.
            return s.deny(makeMessage(sqlerr::StatementNotPermitted, 14,
                                      "The requested statement is not permitted in database 'QTL'."),
                          false);
        }
    }

    // Interrupting SQLite ends a writing statement inside an explicit transaction by rolling back
    // the whole transaction, which ATTENTION must not do. Such a statement is left to finish and
    // is then undone through its savepoint; reads, and anything outside a transaction, are
    // interrupted at once.
    void enterStatement(bool interruptible) {
        tsql::takeTempLimitHit();  // forget a refusal that an earlier statement survived
        std::lock_guard lock(cancelMutex_);
        interruptible_ = interruptible;
        if (cancel_ && interruptible) sqlite3_interrupt(db_);
    }
    void leaveStatement() {
        std::lock_guard lock(cancelMutex_);
        interruptible_ = false;
    }

    void stall() {
        if (onStall_) onStall_();
        std::unique_lock lock(cancelMutex_);
        cancelCv_.wait(lock, [this] { return cancel_; });
    }

    void rollbackAll(StatementOutcome& so) {
        assert(tranCount_ >= 0);
        if (tranCount_ == 0) return;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        tranCount_ = 0;
        so.tran = StatementOutcome::Tran::Rollback;
    }

    // Compiling the batch before it runs: a statement over tables that all exist must compile,
    // or nothing of the batch runs; one that names a missing table is compiled when reached.
    std::optional<Message> compileError(const PlannedStatement& p) {
        if (p.kind == StmtKind::If)
            for (const PlannedStatement& b : p.body)
                if (auto m = compileError(b)) return m;
        if (p.sql.empty()) return std::nullopt;
        Prepared prepared;
        if ((prepared.st = compiled_.take(p.sql))) {
            prepared.keep = &compiled_;
            prepared.sql = &p.sql;
            return std::nullopt;
        }
        const char* tail = nullptr;
        denial_.reset();
        const int rc = sqlite3_prepare_v2(db_, p.sql.c_str(), static_cast<int>(p.sql.size()), &prepared.st, &tail);
        if (rc != SQLITE_OK) {
            const std::string text = sqlite3_errmsg(db_);
            // Names the account may not reach are, like missing ones, reported when the statement
            // is reached: permissions are checked as each statement runs.
            if (isNoSuchTable(text) || (rc == SQLITE_AUTH && denial_)) return std::nullopt;
            return tsql::mapSqliteError(rc, text, p.text, verb(p));
        }
        if (!wholeTextCompiled(p.sql, tail))
            return makeMessage(sqlerr::IncorrectSyntax, 15, "Incorrect syntax near ';'.");
        prepared.keep = &compiled_;  // the run that follows takes it from there
        prepared.sql = &p.sql;
        return std::nullopt;
    }

    void run(const std::string& sql, BatchOutcome& out) {
        tsql::PlanCache::Plan kept = translated_.find(sql);
        try {
            if (!kept) {
                Trusted own(*this);  // the catalog reads the schema through pragma functions
                kept = std::make_shared<const std::vector<PlannedStatement>>(tsql::translateBatch(sql, catalog_));
                translated_.keep(sql, kept);
            }
        } catch (const tsql::TranslationCancelled&) {
            StatementOutcome so;
            so.failed = true;
            out.statements.push_back(so);
            return;
        } catch (const tsql::TsqlError& e) {
            StatementOutcome so;
            so.failed = true;
            so.messages.push_back(makeMessage(e.number, e.severity, e.what()));
            out.statements.push_back(so);
            return;
        }
        if (cancelled()) {  // ATTENTION before a batch whose plan was kept: nothing of it runs
            StatementOutcome so;
            so.failed = true;
            out.statements.push_back(so);
            return;
        }
        const std::vector<PlannedStatement>& plan = *kept;
        for (const PlannedStatement& p : plan) {
            if (auto m = compileError(p)) {
                StatementOutcome so;
                so.failed = true;
                so.messages.push_back(*m);
                out.statements.push_back(so);
                return;
            }
        }
        const bool mark = faultMark_ && sql == *faultMark_;
        for (const PlannedStatement& p : plan) {
            if (cancelled()) break;
            bool injected = false;
            if (counting_ && !mark) {
                ++counted_;
                if (dropNth_ > 0 && counted_ == dropNth_) {
                    out.dropConnection = true;
                    return;
                }
                injected = failNth_ > 0 && counted_ == failNth_;
            }
            StatementOutcome so;
            End end;
            if (injected || (failOn_ && failOn_->matches(p.text))) {
                fail(so, makeMessage(sqlerr::UserDefined, 16, "Injected failure: " + tsql::firstWords(p.text)));
                end = End::RunTime;
            } else if (stallOn_ && stallOn_->matches(p.text)) {
                stall();
                so.failed = true;
                end = End::Cancelled;
            } else {
                end = execute(p, so);
            }
            // SQLite may have ended the transaction itself (I/O error, a full disk).
            if (tranCount_ > 0 && sqlite3_get_autocommit(db_)) {
                tranCount_ = 0;
                so.tran = StatementOutcome::Tran::Rollback;
            }
            if (end == End::Cancelled || cancelled()) {
                if (xactAbort_) rollbackAll(so);
                out.statements.push_back(std::move(so));
                break;
            }
            if (end == End::RunTime && xactAbort_) {
                rollbackAll(so);
                out.statements.push_back(std::move(so));
                break;
            }
            out.statements.push_back(std::move(so));
            if (end == End::Resolution) break;  // compile errors leave the transaction as it is
        }
        if (mark) {
            counting_ = true;
            counted_ = 0;
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

    // Inside a transaction every statement runs under a savepoint, so a failing or cancelled one
    // is undone alone and the transaction goes on.
    template <typename Body>
    End guarded(Body body) {
        const bool savepoint = tranCount_ > 0;
        if (savepoint) sqlite3_exec(db_, "SAVEPOINT qtl_statement", nullptr, nullptr, nullptr);
        const End end = body();
        if (savepoint && !sqlite3_get_autocommit(db_)) {
            if (end != End::Ok || cancelled())
                sqlite3_exec(db_, "ROLLBACK TO qtl_statement", nullptr, nullptr, nullptr);
            sqlite3_exec(db_, "RELEASE qtl_statement", nullptr, nullptr, nullptr);
        }
        return end;
    }

    End execute(const PlannedStatement& p, StatementOutcome& so) {
        if (p.kind != StmtKind::Set && p.kind != StmtKind::BeginTran && p.kind != StmtKind::CommitTran &&
            p.kind != StmtKind::RollbackTran)
            freshSnapshot();
        if (p.kind == StmtKind::Insert && !identityAllowed(p, so)) return End::RunTime;
        // A statement over a table starts a transaction when IMPLICIT_TRANSACTIONS is ON and none is
        // open; a SELECT of no table (SELECT @@TRANCOUNT, SELECT 1) does not.
        if (implicitTransactions_ && tranCount_ == 0 &&
            ((p.kind == StmtKind::Select && p.touchesTable) || p.kind == StmtKind::Insert ||
             p.kind == StmtKind::Update || p.kind == StmtKind::Delete) &&
            !beginImplicit(p, so))
            return End::RunTime;
        switch (p.kind) {
        case StmtKind::Select:
        case StmtKind::Insert:
        case StmtKind::Update:
        case StmtKind::Delete: return guarded([&] { return runSql(p, so); });
        case StmtKind::Exec: return guarded([&] { return runExec(p, so); });
        case StmtKind::If: return runIf(p, so);
        case StmtKind::Set:
            for (const tsql::SetOption& o : p.options) {
                if (o.kind == tsql::SetOption::Kind::DateFormat) {
                    dateFormat_ = o.value;
                    ctx_.dateFormatDmy = o.value == "dmy";
                }
                if (o.kind == tsql::SetOption::Kind::XactAbort) xactAbort_ = o.on;
                if (o.kind == tsql::SetOption::Kind::NoCount) nocount_ = o.on;
                if (o.kind == tsql::SetOption::Kind::ImplicitTransactions) implicitTransactions_ = o.on;
                // 0 restores the default; no text here is longer than any size a client sets.
                if (o.kind == tsql::SetOption::Kind::TextSize)
                    globals_.textSize = o.number == 0 ? 4096 : static_cast<int>(o.number);
                if (o.kind == tsql::SetOption::Kind::LockTimeout)
                    lockTimeoutMs_ = o.number < 0 ? -1 : static_cast<int>(o.number);
                if (o.kind == tsql::SetOption::Kind::IdentityInsert && !setIdentityInsert(o, so)) return End::RunTime;
            }
            return End::Ok;
        case StmtKind::BeginTran:
            // With IMPLICIT_TRANSACTIONS ON, BEGIN TRAN first starts the implicit transaction.
            if (tranCount_ == 0 && implicitTransactions_ && !beginImplicit(p, so)) return End::RunTime;
            if (tranCount_ == 0) {
                // No lock yet, as on SQL Server: the first write takes it, COMMIT or ROLLBACK ends it.
                const int rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
                if (rc != SQLITE_OK) {
                    fail(so, tsql::mapSqliteError(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_), p.text, "BEGIN"));
                    return End::RunTime;
                }
                so.tran = StatementOutcome::Tran::Begin;
            }
            ++tranCount_;
            assert(tranCount_ > 0);  // an open transaction is begun exactly once
            return End::Ok;
        case StmtKind::CommitTran:
            if (tranCount_ == 0) {
                fail(so, makeMessage(sqlerr::CommitWithoutBegin, 16,
                                     "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."));
                return End::RunTime;
            }
            if (tranCount_ == 1) {
                const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
                if (rc != SQLITE_OK) {
                    fail(so,
                         tsql::mapSqliteError(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_), p.text, "COMMIT"));
                    return End::RunTime;
                }
                so.tran = StatementOutcome::Tran::Commit;
            }
            --tranCount_;
            assert(tranCount_ >= 0);  // the 3902 check above keeps the count from going below 0
            return End::Ok;
        case StmtKind::RollbackTran:
            if (tranCount_ == 0) {
                fail(so, makeMessage(sqlerr::RollbackWithoutBegin, 16,
                                     "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION."));
                return End::RunTime;
            }
            rollbackAll(so);
            return End::Ok;
        }
        return End::Ok;
    }

    bool beginImplicit(const PlannedStatement& p, StatementOutcome& so) {
        if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
            fail(so, tsql::mapSqliteError(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_), p.text, "BEGIN"));
            return false;
        }
        tranCount_ = 1;
        so.tran = StatementOutcome::Tran::Begin;
        return true;
    }

    // An identity column takes a value from an INSERT only while IDENTITY_INSERT is ON for its
    // table, and then must be given one.
    bool identityAllowed(const PlannedStatement& p, StatementOutcome& so) {
        if (p.identityTable.empty()) return true;
        const bool on = tsql::iequals(identityInsert_, p.identityTable);
        if (p.identityGiven && !on) {
            fail(so, makeMessage(sqlerr::IdentityInsertOff, 16,
                                 "Cannot insert explicit value for identity column in table '" + p.identityTable +
                                     "' when IDENTITY_INSERT is set to OFF."));
            return false;
        }
        if (!p.identityGiven && on) {
            fail(so, makeMessage(sqlerr::IdentityValueRequired, 16,
                                 "Explicit value must be specified for identity column in table '" + p.identityTable +
                                     "' either when IDENTITY_INSERT is set to ON or when a replication user is "
                                     "inserting into a NOT FOR REPLICATION identity column."));
            return false;
        }
        return true;
    }

    // SET IDENTITY_INSERT t ON|OFF: for one table of the session at a time, on a table the
    // account may insert into (the server asks for ALTER on it; these accounts hold that only
    // where they insert).
    bool setIdentityInsert(const tsql::SetOption& o, StatementOutcome& so) {
        std::string identity;
        bool exists = false;
        {
            Trusted own(*this);
            exists = catalog_.hasTable(o.value);
            if (exists) identity = catalog_.identityColumn(o.value);
        }
        const bool mayInsert = role_ == Role::Operator &&
                               (tsql::iequals(o.value, "DisciplineForStudent") || tsql::iequals(o.value, "QTL_LOG"));
        if (!exists || hiddenObject(o.value) || !mayInsert) {
            fail(so, makeMessage(sqlerr::ObjectNotFoundOrNoPermission, 16,
                                 "Cannot find the object \"" + o.value +
                                     "\" because it does not exist or you do not have permissions."));
            return false;
        }
        if (identity.empty()) {
            fail(so, makeMessage(
                         sqlerr::NoIdentityColumn, 16,
                         "Table '" + o.value + "' does not have the identity property. Cannot perform SET operation."));
            return false;
        }
        if (!o.on) {
            if (tsql::iequals(identityInsert_, o.value)) identityInsert_.clear();
            return true;
        }
        if (!identityInsert_.empty() && !tsql::iequals(identityInsert_, o.value)) {
            fail(so, makeMessage(sqlerr::IdentityInsertElsewhere, 16,
                                 "IDENTITY_INSERT is already ON for table 'QTL.dbo." + identityInsert_ +
                                     "'. Cannot perform SET operation for table '" + o.value + "'."));
            return false;
        }
        identityInsert_ = o.value;
        return true;
    }

    // Compiles a statement when it is reached; a name missing now ends the batch.
    End prepare(const PlannedStatement& p, const std::string& sql, Prepared& prepared, StatementOutcome& so) {
        if ((prepared.st = compiled_.take(sql))) {
            prepared.keep = &compiled_;
            prepared.sql = &sql;
            return End::Ok;
        }
        const char* tail = nullptr;
        denial_.reset();
        const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &prepared.st, &tail);
        if (rc != SQLITE_OK) {
            if (rc == SQLITE_AUTH && denial_) {
                // A refused permission is a run-time error of the statement (the batch goes on
                // unless XACT_ABORT is ON); a hidden object is as missing as any other.
                fail(so, *denial_);
                return denialIsResolution_ ? End::Resolution : End::RunTime;
            }
            fail(so, tsql::mapSqliteError(rc, sqlite3_errmsg(db_), p.text, verb(p)));
            return End::Resolution;
        }
        if (!wholeTextCompiled(sql, tail)) {
            fail(so, makeMessage(sqlerr::IncorrectSyntax, 15, "Incorrect syntax near ';'."));
            return End::Resolution;
        }
        prepared.keep = &compiled_;
        prepared.sql = &sql;
        return End::Ok;
    }

    // Steps a statement to its end, interruptible where that is safe. SQLITE_NOMEM when the rows
    // outgrow the memory one result may take.
    int step(sqlite3_stmt* st, tsql::RowCollector* rows) {
        enterStatement(tranCount_ == 0 || sqlite3_stmt_readonly(st));
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            if (!rows) continue;
            rows->add();
            if (rows->bytes() > maxResultBytes_) {
                rc = SQLITE_NOMEM;
                break;
            }
        }
        leaveStatement();
        return rc;
    }

    End stepError(const PlannedStatement& p, StatementOutcome& so) {
        if (cancelled()) {
            so.failed = true;
            return End::Cancelled;
        }
        if ((sqlite3_extended_errcode(db_) & 0xFF) == SQLITE_FULL && tsql::takeTempLimitHit()) {
            fail(so, makeMessage(sqlerr::TempSpaceFull, 17,
                                 "Could not allocate space for object 'dbo.SORT temporary run storage' in database "
                                 "'tempdb' because the 'PRIMARY' filegroup is full. Create disk space by deleting "
                                 "unneeded files, dropping objects in the filegroup, adding additional files to the "
                                 "filegroup, or setting autogrowth on for existing files in the filegroup."));
            return End::RunTime;
        }
        fail(so, tsql::mapSqliteError(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_), p.text, verb(p)));
        return End::RunTime;
    }

    End runSql(const PlannedStatement& p, StatementOutcome& so) {
        Prepared prepared;
        if (const End e = prepare(p, p.sql, prepared, so); e != End::Ok) return e;
        sqlite3_stmt* st = prepared.st;
        const int n = sqlite3_column_count(st);
        tsql::RowCollector rows(st, p.columnNames, p.columnTypes);
        const int rc = step(st, &rows);
        if (rc == SQLITE_NOMEM && rows.bytes() > maxResultBytes_) {
            fail(so, makeMessage(sqlerr::OutOfMemory, 17,
                                 "There is insufficient system memory in resource pool 'default' to run this query."));
            return End::RunTime;
        }
        if (n > 0) so.results.push_back(rows.finish());
        if (rc != SQLITE_DONE) return stepError(p, so);
        if (p.kind != StmtKind::Select && !nocount_) {
            so.hasRowCount = true;
            so.rowCount = sqlite3_changes64(db_);
        }
        return End::Ok;
    }

    End runIf(const PlannedStatement& p, StatementOutcome& so) {
        Prepared prepared;
        if (const End e = prepare(p, p.sql, prepared, so); e != End::Ok) return e;
        enterStatement(true);  // only reads
        const int rc = sqlite3_step(prepared.st);
        const bool holds = rc == SQLITE_ROW && sqlite3_column_int(prepared.st, 0) == 1;
        leaveStatement();
        if (rc != SQLITE_ROW) return stepError(p, so);
        sqlite3_reset(prepared.st);  // its read ends before the guarded statement may write
        if (!holds || p.body.empty()) return End::Ok;
        return execute(p.body.front(), so);
    }

    End runExec(const PlannedStatement& p, StatementOutcome& so) {
        so.isProcedure = true;
        if (tsql::iequals(p.routine, "sp_datatype_info_100") || tsql::iequals(p.routine, "sp_datatype_info")) {
            so.results.push_back(datatypeInfoResult());
            return End::Ok;
        }
        if (!qtl::isRoutine(p.routine)) {
            so.isProcedure = false;
            fail(so, makeMessage(sqlerr::NoSuchProcedure, 16, "Could not find stored procedure '" + p.routine + "'."));
            return End::RunTime;
        }
        // A routine's writes stand or fall together, as a procedure's do on the server when it fails.
        sqlite3_exec(db_, "SAVEPOINT qtl_routine", nullptr, nullptr, nullptr);
        enterStatement(tranCount_ == 0);
        if (role_ == Role::LoginOnly && !tsql::iequals(p.routine, "GET_USER")) {
            leaveStatement();
            sqlite3_exec(db_, "RELEASE qtl_routine", nullptr, nullptr, nullptr);
            so.isProcedure = false;
            fail(so, makeMessage(sqlerr::PermissionDenied, 14,
                                 "The EXECUTE permission was denied on the object '" + p.routine +
                                     "', database 'QTL', schema 'dbo'."));
            return End::RunTime;
        }
        try {
            Trusted own(*this);  // a routine reads and writes as the database's owner
            qtl::callRoutine(db_, ctx_, p.routine, p.args, so);
        } catch (const std::exception& e) {
            fail(so,
                 makeMessage(sqlerr::UserDefined, 16, std::string("Routine ") + p.routine + " failed: " + e.what()));
        }
        leaveStatement();
        const bool stop = cancelled();
        if ((so.failed || stop) && !sqlite3_get_autocommit(db_))
            sqlite3_exec(db_, "ROLLBACK TO qtl_routine", nullptr, nullptr, nullptr);
        if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "RELEASE qtl_routine", nullptr, nullptr, nullptr);
        if (stop) {
            so.failed = true;
            return End::Cancelled;
        }
        return so.failed ? End::RunTime : End::Ok;
    }
};

class EngineImpl : public Engine {
public:
    explicit EngineImpl(const EngineOptions& options) : options_(options) {
        const bool memory = options.dbPath == ":memory:";
        std::error_code ec;
        // An empty file holds nothing to lose (older servers left one when killed while building).
        const bool fresh = memory || !std::filesystem::exists(options.dbPath) ||
                           (std::filesystem::is_regular_file(options.dbPath, ec) &&
                            std::filesystem::file_size(options.dbPath, ec) == 0 && !ec);
        if (fresh && !memory) buildDatabase(options);
        admin_ = openConnection(options.dbPath, SQLITE_OPEN_READWRITE | (memory ? SQLITE_OPEN_CREATE : 0));
        try {
            qtl::registerFunctions(admin_);
            tsql::registerFunctions(admin_);
            if (memory)
                qtl::createDatabase(admin_, options.demo);
            else
                checkQtlDatabase(admin_, options.dbPath);
            signIns_ = std::make_unique<qtl::SignInRecorder>(options.dbPath);
        } catch (const std::exception& e) {
            sqlite3_close_v2(admin_);
            admin_ = nullptr;
            throw;
        }
    }

    // The database is built in a file beside it and renamed into place only when complete, so a
    // server killed while building leaves no half-made database that a later start would take.
    static void buildDatabase(const EngineOptions& options) {
        const std::string building = options.dbPath + ".building";
        auto removeBuilding = [&] {
            std::error_code ec;
            for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(building + suffix, ec);
        };
        // A server started on the same new file meanwhile builds it first; this one waits for it.
        tsql::BuildLock lock(building);
        std::error_code sized;
        if (std::filesystem::file_size(options.dbPath, sized) > 0 && !sized) return;
        lock.truncate();  // what a killed build left
        for (const char* suffix : {"-wal", "-shm", "-journal"}) std::filesystem::remove(building + suffix, sized);
        sqlite3* db = openConnection(building, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        try {
            qtl::registerFunctions(db);
            tsql::registerFunctions(db);
            qtl::createDatabase(db, options.demo);
            // Readers never wait for a writer, and each session sees committed data only.
            execOrThrow(db, "PRAGMA journal_mode=WAL");
        } catch (const std::exception& e) {
            sqlite3_close_v2(db);
            removeBuilding();
            throw std::runtime_error(std::string("cannot create the QTL database: ") + e.what());
        }
        // Closing the last connection folds the write-ahead log into the file.
        if (sqlite3_close(db) != SQLITE_OK) {
            removeBuilding();
            throw std::runtime_error("cannot create the QTL database: it could not be closed");
        }
        std::error_code ec;
        std::filesystem::rename(building, options.dbPath, ec);
        if (ec) {
            removeBuilding();
            throw std::runtime_error("cannot create the QTL database: " + ec.message());
        }
    }

    // A file that is not a QTL database (another program's, or a database of another schema)
    // is refused at start rather than by every login later. Only the accounts make it one: a
    // QTL database that lacks some other object stays servable, as on a real server, where a
    // statement naming it fails when it is reached (tests rely on that).
    static void checkQtlDatabase(sqlite3* db, const std::string& path) {
        sqlite3_stmt* st = nullptr;
        int found = -1;
        if (sqlite3_prepare_v2(db,
                               "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                               "('QTL_DbAccount', 'QTL_User')",
                               -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            found = sqlite3_column_int(st, 0);
        const std::string why = found < 0 ? std::string(sqlite3_errmsg(db)) : std::string();
        sqlite3_finalize(st);
        if (found != 2)
            throw std::runtime_error(path + " is not a QTL database" + (why.empty() ? "" : " (" + why + ")") +
                                     "; remove it to have a new one built");
        execOrThrow(db, "PRAGMA journal_mode=WAL");
    }
    ~EngineImpl() override { sqlite3_close_v2(admin_); }

    std::unique_ptr<Session> login(const std::string& user, const std::string& password, const std::string& database,
                                   LoginResult& result) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            result = qtl::checkLogin(admin_, user, password, database);
        }
        if (!result.ok) return nullptr;
        sqlite3* db =
            openConnection(options_.dbPath, SQLITE_OPEN_READWRITE, tsql::boundedTempVfs(options_.maxTempBytes));
        try {
            qtl::registerFunctions(db);
            tsql::registerFunctions(db);
        } catch (...) {
            sqlite3_close_v2(db);
            throw;
        }
        // The account as stored decides, never the name as the client spelled it.
        const Role role = result.account == settingsAccount().first ? Role::LoginOnly : Role::Operator;
        return std::make_unique<SessionImpl>(db, result.account, role, options_, *signIns_);
    }

    std::pair<std::string, std::string> settingsAccount() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return qtl::settingsAccount(admin_);
    }

    std::string redactForLog(const std::string& sql) const override { return tsql::maskCredentials(sql); }

private:
    EngineOptions options_;
    sqlite3* admin_ = nullptr;
    std::mutex mutex_;
    std::unique_ptr<qtl::SignInRecorder> signIns_;
};

}  // namespace

std::unique_ptr<Engine> makeEngine(const EngineOptions& options) {
    return std::make_unique<EngineImpl>(options);
}

}  // namespace devserver
