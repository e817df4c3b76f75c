// The seam between the wire protocol (tds/) and the database engine (tsql/ + qtl/).
// The protocol layer knows nothing of SQL; the engine knows nothing of bytes on the wire.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include "pattern.h"
#include "sql_errors.h"
#include <string>
#include <variant>
#include <vector>

namespace devserver {

// Column types the server announces in COLMETADATA. TinyInt, SmallInt, Int and BigInt travel as
// INTN of 1, 2, 4 and 8 bytes; Decimal as DECIMALN; VarChar as single-byte text in the database's
// code page (Windows-1251); Date as DATEN (as NVARCHAR(10) to a client older than TDS 7.3).
enum class ColType { Int, BigInt, Bit, Float, DateTime, NVarChar, TinyInt, SmallInt, Decimal, Date, VarChar };

struct Column {
    std::string name;  // UTF-8
    ColType type = ColType::NVarChar;
    int maxChars = 4000;  // NVarChar (1..4000) and VarChar (1..8000): declared length in characters
    bool nullable = true;
    bool identity = false;
    int precision = 18;  // Decimal only: 1..38 digits, `scale` of them after the point
    int scale = 0;
};

// A cell. Texts are UTF-8. A DateTime cell is text "YYYY-MM-DD HH:MM:SS[.fff]".
using Value = std::variant<std::monostate, std::int64_t, double, std::string>;

struct ResultSet {
    std::vector<Column> columns;
    std::vector<std::vector<Value>> rows;
};

// An ERROR (severity > 10) or INFO message as SQL Server sends it.
struct Message {
    std::int32_t number = 0;
    std::uint8_t state = 1;
    std::uint8_t severity = 16;
    std::string text;  // UTF-8
    std::string procedure;  // empty unless raised inside a routine
    std::int32_t line = 1;
};

// The one way a message is made: SQL Server's number (see sql_errors.h), severity and text.
inline Message makeMessage(std::int32_t number, std::uint8_t severity, std::string text, std::uint8_t state = 1,
                           std::string procedure = {}) {
    Message m;
    m.number = number;
    m.state = state;
    m.severity = severity;
    m.text = std::move(text);
    m.procedure = std::move(procedure);
    return m;
}

// What one statement of a batch produced, in order. The protocol layer writes, per statement:
// messages (ERROR/INFO), each result set (COLMETADATA + ROWs + DONE/DONEINPROC with the row
// count), then the statement's DONE (DONEPROC for routine calls) carrying `rowCount` when
// `hasRowCount`, and the error bit when `failed`.
struct StatementOutcome {
    std::vector<Message> messages;
    std::vector<ResultSet> results;
    bool isProcedure = false;  // EXEC of a routine: results end in DONEINPROC, then DONEPROC
    bool hasRowCount = false;  // INSERT/UPDATE/DELETE: DONE with 0x10 and the count
    std::int64_t rowCount = 0;
    bool failed = false;  // an error ended this statement
    // Transaction state changes, for ENVCHANGE 8 (begin), 9 (commit), 10 (rollback).
    enum class Tran { None, Begin, Commit, Rollback } tran = Tran::None;
};

struct BatchOutcome {
    std::vector<StatementOutcome> statements;  // never empty: a batch that yields nothing gets one
        // outcome with neither results nor a count
    // Fault injection (--drop-nth): the connection must be closed without sending anything.
    bool dropConnection = false;
};

struct LoginResult {
    bool ok = false;
    Message error;  // 18456 "Login failed for user '<name>'." or 4060 for an unknown db
    std::string database;  // the database the session is in (for ENVCHANGE)
    // The account as the database stores it (the name given may differ in case and trailing
    // blanks): what the session is and what the log names.
    std::string account;
};

struct EngineOptions {
    std::string dbPath;  // SQLite file; created with schema + demo data when absent
    std::string demo = "small";  // "small" | "large" | "none"
    std::optional<Pattern> failOn;  // statements matching it answer error 50000 and do not run
    // Fault injection by count: statements of a session are counted from its login (or, with
    // faultMark, from the end of the last batch whose whole text equals it; none before that).
    int failNth = 0;  // the N-th counted statement answers error 50000, unrun
    int dropNth = 0;  // reaching the N-th counted statement drops the connection
    std::optional<std::string> faultMark;
    std::optional<Pattern> stallOn;  // a matching statement waits for ATTENTION or disconnect
    // Called on the session's thread when a statement starts to stall, so that a caller can
    // cancel it knowing it is held there rather than guessing with a sleep.
    std::function<void()> onStall;
    // The memory one result's values may take while it is built (its reply takes about as much
    // again); beyond it the statement fails with error 701, as a query that runs out of memory
    // does on SQL Server.
    std::size_t maxResultBytes = std::size_t{64} * 1024 * 1024;
    // Disk all sessions' temporary files may take together (sorts and indexes that outgrow the
    // page cache spill there); beyond it the statement fails with error 1105, as one does when
    // tempdb is full. 0: unbounded.
    std::int64_t maxTempBytes = 1ll << 30;
    // How long a statement waits for a lock another session holds before it fails with error
    // 1222; -1 waits until the holder ends (SQL Server's default LOCK_TIMEOUT).
    int lockTimeoutMs = -1;
};

class Session {
public:
    virtual ~Session() = default;
    // Runs one SQL batch (UTF-8 text exactly as received, CR LF kept). Never throws.
    virtual BatchOutcome executeBatch(const std::string& sql) = 0;
    // ATTENTION or a client gone: ends the running statement without effect and the batch with
    // it. Thread-safe. A cancel that comes before the batch starts applies to it: the protocol
    // layer may see ATTENTION just before handing the batch over, and a stalled statement must
    // not miss it. clearCancel() forgets it once the batch it was meant for is over.
    virtual void cancel() = 0;
    virtual void clearCancel() {}
    // The session's transaction state between batches (not thread-safe against executeBatch).
    virtual int tranCount() const = 0;
    // The session's id as the protocol numbers it (for @@SPID).
    virtual void setSpid(int /*spid*/) {}
    virtual bool xactAbort() const = 0;
};

class Engine {
public:
    virtual ~Engine() = default;
    // Thread-safe. Checks the account; on success returns a session with its own SQLite handle.
    virtual std::unique_ptr<Session> login(const std::string& user, const std::string& password,
                                           const std::string& database, LoginResult& result) = 0;
    // The first database account of the QTL database and its password (for --write-settings).
    virtual std::pair<std::string, std::string> settingsAccount() = 0;
    // A batch's text as the request log may keep it: credentials masked, the rest as received.
    // Thread-safe.
    virtual std::string redactForLog(const std::string& sql) const { return sql; }
};

// Opens (and creates when absent) the database; throws std::runtime_error on failure.
std::unique_ptr<Engine> makeEngine(const EngineOptions& options);

}  // namespace devserver
