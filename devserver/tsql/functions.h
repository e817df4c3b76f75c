// Helper SQL functions of the translated statements, and the server's text-to-number rules.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace devserver::tsql {

// Registers tsql_add, tsql_sub, tsql_int, tsql_float, tsql_upper, tsql_lower, tsql_right. Their
// errors carry "tsql:<number>:<text>" so that the engine reports the server's number.
void registerFunctions(sqlite3* db);

// The server's conversion of a text to int (blanks around allowed, no decimals) and to float.
bool parseServerInt(const std::string& text, std::int64_t& out);
bool parseServerFloat(const std::string& text, double& out);

}  // namespace devserver::tsql
