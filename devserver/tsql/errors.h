// SQLite's error texts -> the numbers and texts SQL Server gives for the same fault.
#pragma once

#include "../engine.h"

#include <string>

namespace devserver::tsql {

// `code` is SQLite's (extended) result code, `text` its message, `statement` the T-SQL statement
// that failed and `verb` its first keyword ("INSERT", ...).
Message mapSqliteError(int code, const std::string& text, const std::string& statement, const std::string& verb);

}  // namespace devserver::tsql
