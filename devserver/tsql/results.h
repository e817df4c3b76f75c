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

// Converts a value to what the column announces (numbers as text for NVarChar, dates normalised).
Value coerce(const Column& column, const Value& v);

// "2024-03-15" / "2024-03-15T13:45:30.5" -> "2024-03-15 00:00:00" / "2024-03-15 13:45:30.500".
std::optional<std::string> normaliseDateTime(const std::string& text);

class RowCollector {
public:
    RowCollector(sqlite3_stmt* st, const std::vector<std::optional<std::string>>& names);
    void add();  // after sqlite3_step returned SQLITE_ROW
    ResultSet finish();
    // What the rows collected so far take, roughly (values and their texts).
    std::size_t bytes() const { return bytes_; }

private:
    sqlite3_stmt* st_;
    std::vector<std::string> names_;
    std::vector<std::string> decl_;
    std::vector<bool> hasDecl_;
    std::vector<std::vector<Value>> columns_;  // column-major while collecting
    std::size_t bytes_ = 0;
};

}  // namespace devserver::tsql
