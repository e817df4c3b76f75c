// Helper SQL functions of the translated statements, and the server's text-to-number rules.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace devserver::tsql {

// Registers tsql_add, tsql_sub, tsql_int, tsql_float, tsql_upper, tsql_lower, tsql_right and
// tsql_datetime (reading with the default mdy order until bindDateFormat). Their errors carry
// "tsql:<number>:<text>" so that the engine reports the server's number.
void registerFunctions(sqlite3* db);

// Makes tsql_datetime(text [, national]) of this connection read day, month and year in the order
// held by *order ("dmy", "mdy", ...), looked up on every call: a SET DATEFORMAT earlier in the same
// batch must count although the batch was compiled before it ran. *order must outlive `db`.
void bindDateFormat(sqlite3* db, const std::string* order);

enum class DateParse { Ok, Malformed, OutOfRange };

// The server's reading of a text as a datetime under a DATEFORMAT order. Ok: `out` holds the
// stored form "YYYY-MM-DD hh:mm:ss" (".fff" added when the milliseconds are not zero, rounded to
// the datetime type's 1/300 s). Malformed is the server's error 241, OutOfRange its 242.
DateParse parseServerDateTime(const std::string& text, const std::string& order, std::string& out);

// The server's conversion of a text to int (blanks around allowed, no decimals) and to float.
bool parseServerInt(const std::string& text, std::int64_t& out);
bool parseServerFloat(const std::string& text, double& out);

}  // namespace devserver::tsql
