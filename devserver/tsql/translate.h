// T-SQL batch -> planned statements with SQLite text. Pure text work: what it needs to know about
// the database comes through Catalog, so it can be tested without one.
#pragma once

#include "../engine.h"
#include "lexer.h"
#include "results.h"
#include "qtl/qtl.h"

#include <optional>
#include <string>
#include <vector>

namespace devserver::tsql {

// What the translator may ask about the database.
class Catalog {
public:
    virtual ~Catalog() = default;
    // Declared type of a column of a table or view ("" when declared without one); nullopt when
    // the table or the column does not exist. Names compare case-insensitively.
    virtual std::optional<std::string> columnType(const std::string& table, const std::string& column) const = 0;
    virtual bool hasTable(const std::string& name) const = 0;
    // The identity column of a table ("" when it has none).
    virtual std::string identityColumn(const std::string& /*table*/) const { return {}; }
    // A "(SELECT ...)" for a table-valued function call, "" when `name` is none.
    virtual std::string tableFunction(const std::string& name, const std::vector<std::string>& sqlArgs) const = 0;
    // True once the batch being translated was cancelled (ATTENTION, the client gone): a long
    // batch stops being translated instead of finishing work nobody waits for.
    virtual bool cancelled() const { return false; }
};

// Thrown by translateBatch when Catalog::cancelled() turned true.
struct TranslationCancelled : std::exception {
    const char* what() const noexcept override { return "translation cancelled"; }
};

// The collation that makes computed texts compare and sort as the server's Cyrillic CI collation.
inline constexpr const char* kTextCollation = "CYR_CI";

enum class StmtKind { Select, Insert, Update, Delete, Exec, Set, BeginTran, CommitTran, RollbackTran, If };

struct SetOption {
    enum class Kind {
        DateFormat,
        XactAbort,
        NoCount,
        ImplicitTransactions,
        TextSize,
        LockTimeout,
        IdentityInsert,
        Ignored
    } kind = Kind::Ignored;
    bool on = false;
    std::string value;  // DATEFORMAT: the format in lower case ("dmy"); IDENTITY_INSERT: the table
    long long number = 0;  // TEXTSIZE, LOCK_TIMEOUT
};

struct PlannedStatement {
    StmtKind kind = StmtKind::Select;
    std::string text;  // the statement as written in the batch
    std::string sql;  // SQLite text for Select/Insert/Update/Delete; for If a SELECT giving 1
        // when the condition holds
    // SQL Server's name for each result column where it differs from what SQLite reports
    // (computed columns without an alias have none); empty when unknown (e.g. SELECT *).
    std::vector<std::optional<std::string>> columnNames;
    // What the translator knows of each result column's type (same length as columnNames, or
    // empty when unknown).
    std::vector<ResultColumnInfo> columnTypes;
    // The statement reads or writes a table: with IMPLICIT_TRANSACTIONS ON it starts a transaction.
    bool touchesTable = false;
    // Insert: the target's identity column, and whether the statement gives it a value.
    std::string identityTable;
    std::string identityColumn;
    bool identityGiven = false;
    // Exec: the routine (prefixes dropped, spelling as written) and its arguments.
    std::string routine;
    std::vector<qtl::Argument> args;
    std::vector<SetOption> options;  // Set
    std::vector<PlannedStatement> body;  // If: the one statement it guards
};

// Splits and translates a whole batch. Throws TsqlError when any statement cannot be parsed or
// translated: the batch then must not run at all.
std::vector<PlannedStatement> translateBatch(const std::string& batch, const Catalog& catalog);

// The statements of a batch as written (trimmed), for tests and logs. Throws TsqlError.
std::vector<std::string> splitBatch(const std::string& batch);

// Statement kind names used in messages ("SELECT", "INSERT", ...).
std::string firstWords(const std::string& statementText, std::size_t words = 3);

}  // namespace devserver::tsql
