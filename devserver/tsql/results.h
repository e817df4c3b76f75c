// Rows of a SQLite statement -> a ResultSet with the column types SQL Server would announce.
#pragma once

#include "../engine.h"

#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

namespace devserver::tsql {

// Decides a column's wire type from its declared type and the values it actually holds (SQLite
// types values, not columns): a declared type is kept when every value fits it, otherwise the
// values decide; a computed column takes the type of its values.
Column decideColumn(const std::string& name, const char* declType, const std::vector<Value>& values);

// The column type SQL Server gives a type name (upper case) with its arguments ("NVARCHAR", {"50"};
// "DECIMAL", {"10", "3"}); nullopt for a name this server does not type. Lengths left out take
// the defaults of a declaration (1 for a text, 18,0 for a decimal); a CAST's own default (30) is
// the caller's.
std::optional<Column> columnOfType(const std::string& typeName, const std::vector<std::string>& args);
// The same for a declared type as SQLite keeps it ("NVARCHAR(150)", "INTEGER", "DECIMAL(10, 3)").
std::optional<Column> columnOfDecl(const std::string& decl);

// What the translator found out about one result column.
struct ResultColumnInfo {
    std::optional<Column> type;  // an expression's type by the server's rules (name unused)
    bool outerSide = false;  // a column of the optional side of an outer join: may be NULL
};

// Converts a value to what the column announces (numbers as text for NVarChar, dates normalised).
Value coerce(const Column& column, const Value& v);

// "2024-03-15" / "2024-03-15T13:45:30.5" -> "2024-03-15 00:00:00" / "2024-03-15 13:45:30.500".
std::optional<std::string> normaliseDateTime(const std::string& text);

class RowCollector {
public:
    // `types` (when it has one entry per column) says what the translator knows of each; a
    // column of a table or view keeps its declared type, nullability and identity, and what is
    // left is typed by its values.
    RowCollector(sqlite3_stmt* st, const std::vector<std::optional<std::string>>& names,
                 const std::vector<ResultColumnInfo>& types = {});
    void add();  // after sqlite3_step returned SQLITE_ROW
    ResultSet finish();
    // What the rows collected so far take, roughly (values and their texts).
    std::size_t bytes() const { return bytes_; }

private:
    sqlite3_stmt* st_;
    std::vector<std::string> names_;
    std::vector<std::string> decl_;
    std::vector<bool> hasDecl_;
    std::vector<ResultColumnInfo> info_;
    std::vector<std::optional<Column>> origin_;  // the declared column a result column reads
    std::vector<std::vector<Value>> columns_;  // column-major while collecting
    std::size_t bytes_ = 0;
};

}  // namespace devserver::tsql
