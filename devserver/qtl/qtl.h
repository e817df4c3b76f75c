// The QTL database: schema, demo data, accounts and the server-side routines.
// Used by the engine (tsql/); knows nothing of the wire protocol.
#pragma once

#include "../engine.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace devserver::qtl {

// Registers what every connection needs before it runs any statement: the case-insensitive
// Cyrillic-aware collation "CYR_CI" (Russian alphabetical order), a like() that is case
// insensitive for Cyrillic and Latin, and any helper SQL functions the translated statements use.
void registerFunctions(sqlite3* db);

// Makes like() on this connection give up with an error soon after `cancel` turns true (a
// session's ATTENTION or the server's stop), however long the text it is matching.
void watchCancel(sqlite3* db, const std::atomic<bool>* cancel);

// Creates the schema (tables, views, indexes) and fills it with deterministic demo data.
// `size` is "small" (tests), "large" (benchmarks: 20,000+ students, 300,000+ registrations)
// or "none" (schema only). Runs in one transaction.
void createDatabase(sqlite3* db, const std::string& size);

// SQL Server authentication against the accounts the QTL database knows (the settings-file
// account and every account GET_USER hands out). Database names compare case-insensitively;
// only "QTL" exists.
LoginResult checkLogin(sqlite3* db, const std::string& user, const std::string& password, const std::string& database);

// The first account (plain name and password), written into the settings file by --write-settings.
std::pair<std::string, std::string> settingsAccount(sqlite3* db);

// Where GET_USER's writes go. They never join the calling session's transaction: a sign-in held
// the database's single write lock from the call to that session's COMMIT, and waited for any
// other session's open write, so one open transaction stopped every workstation signing in.
class SignInWriter {
public:
    virtual ~SignInWriter() = default;
    // Records the time, IP address and computer of an accepted sign-in; never waits for a lock.
    virtual void recordSignIn(std::int64_t userId, const std::optional<std::string>& ip,
                              const std::optional<std::string>& computer) = 0;
    // Stores a new password digest (state 90) before returning; throws std::runtime_error when
    // the wait for the write lock ended first (nothing stored).
    virtual void storePassword(std::int64_t userId, const std::string& digest) = 0;
};

// Stores a new password digest for the user on `db` (state 90).
void storePassword(sqlite3* db, std::int64_t userId, const std::string& digest);

// Sign-ins recorded by a thread of its own on a connection of its own: what arrived meanwhile is
// committed in one transaction, at once when the write lock is free and as soon as it is free
// when another session holds it. The caller never waits, neither for the lock nor for a commit.
// What is still waiting when the recorder ends is written then.
class SignInRecorder {
public:
    explicit SignInRecorder(const std::string& dbPath);
    ~SignInRecorder();
    SignInRecorder(const SignInRecorder&) = delete;
    SignInRecorder& operator=(const SignInRecorder&) = delete;
    void record(std::int64_t userId, const std::optional<std::string>& ip, const std::optional<std::string>& computer);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Per-session state a routine may read.
struct SessionContext {
    std::string user;  // database account of the session
    bool dateFormatDmy = false;
    SignInWriter* signIns = nullptr;  // null: GET_USER writes on the routine's own connection
};

// One argument of an EXEC: `name` is "@id_a_year" style for named arguments, empty for
// positional ones. Texts arrive unquoted (UTF-8), numbers as int64/double, NULL as monostate.
struct Argument {
    std::string name;
    Value value;
};

// True when `name` (case-insensitive, without "dbo." prefix) is a routine of the QTL database.
bool isRoutine(const std::string& name);

// Runs a routine. Fills `out` (results, messages, failed). Wrong argument count or types give
// an error message as SQL Server would ("Procedure or function 'X' expects parameter ...").
void callRoutine(sqlite3* db, SessionContext& ctx, const std::string& name, const std::vector<Argument>& args,
                 StatementOutcome& out);

// Table-valued functions (GetTFIO_with_pps): returns a SQLite sub-select "(SELECT ...)" for the
// given arguments, or an empty string when `name` is not a table-valued function of the database.
// Arguments are already-translated SQL literals.
std::string tableFunctionSql(const std::string& name, const std::vector<std::string>& sqlArgs);

// Writes the 84-byte workstation settings file (layout: 20-byte user, 20-byte password, their
// two length bytes, 20-byte server, 20-byte database, their two length bytes; every stored byte
// is the Windows-1251 byte minus one). Throws std::runtime_error on I/O failure.
void writeSettingsFile(const std::string& path, const std::string& user, const std::string& password,
                       const std::string& server, const std::string& database);

}  // namespace devserver::qtl
