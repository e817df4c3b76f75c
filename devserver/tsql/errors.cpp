#include "errors.h"

#include "lexer.h"

#include <sqlite3.h>

namespace devserver::tsql {

namespace {

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

std::string after(const std::string& s, const std::string& prefix) {
    return s.substr(prefix.size());
}

std::string lastPart(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

std::string stripMain(const std::string& name) {
    return startsWith(name, "main.") ? name.substr(5) : name;
}

// A constraint violation as the server words it for its kind of constraint.
Message constraintMessage(const std::string& text, const std::string& verb) {
    if (startsWith(text, "UNIQUE constraint failed: ") || startsWith(text, "PRIMARY KEY")) {
        const std::string col = startsWith(text, "UNIQUE") ? after(text, "UNIQUE constraint failed: ") : text;
        const auto dot = col.find('.');
        const std::string table = dot == std::string::npos ? col : col.substr(0, dot);
        return makeMessage(sqlerr::UniqueKeyViolation, 14,
                           "Violation of UNIQUE KEY constraint 'UQ_" + table +
                               "'. Cannot insert duplicate key in object 'dbo." + table + "'.");
    }
    if (startsWith(text, "NOT NULL constraint failed: ")) {
        const std::string col = after(text, "NOT NULL constraint failed: ");
        const auto dot = col.find('.');
        const std::string table = dot == std::string::npos ? std::string() : col.substr(0, dot);
        return makeMessage(sqlerr::NullNotAllowed, 16,
                           "Cannot insert the value NULL into column '" + lastPart(col) + "', table 'QTL.dbo." + table +
                               "'; column does not allow nulls. " + verb + " fails.");
    }
    if (startsWith(text, "CHECK constraint failed: "))
        return makeMessage(sqlerr::ConstraintConflict, 16,
                           "The " + verb + " statement conflicted with the CHECK constraint \"" +
                               after(text, "CHECK constraint failed: ") +
                               "\". The conflict occurred in database 'QTL'.");
    if (startsWith(text, "FOREIGN KEY"))
        return makeMessage(
            sqlerr::ConstraintConflict, 16,
            "The " + verb +
                " statement conflicted with a FOREIGN KEY constraint. The conflict occurred in database 'QTL'.");
    return makeMessage(sqlerr::ConstraintConflict, 16,
                       "The " + verb + " statement conflicted with a constraint: " + text);
}

}  // namespace

Message mapSqliteError(int code, const std::string& text, const std::string& statement, const std::string& verb) {
    // Our own helper functions already know the server's number.
    if (startsWith(text, "tsql:")) {
        const auto colon = text.find(':', 5);
        if (colon != std::string::npos)
            return makeMessage(static_cast<std::int32_t>(std::stol(text.substr(5, colon - 5))), 16,
                               text.substr(colon + 1));
    }
    const int primary = code & 0xFF;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        return makeMessage(sqlerr::LockTimeout, 16, "Lock request time out period exceeded.");
    if (primary == SQLITE_INTERRUPT) return makeMessage(sqlerr::QueryCancelled, 25, "The query was cancelled.");
    if (primary == SQLITE_CONSTRAINT) return constraintMessage(text, verb);
    if (startsWith(text, "near \"")) {
        const auto end = text.find("\": syntax error");
        if (end != std::string::npos) {
            const TsqlError e = syntaxErrorNear(text.substr(6, end - 6));
            return makeMessage(e.number, e.severity, e.what());
        }
    }
    if (text == "incomplete input" || startsWith(text, "unrecognized token")) {
        std::string last = "(";
        try {
            const auto toks = tokenize(statement);
            if (!toks.empty()) last = toks.back().text;
        } catch (const TsqlError&) {}
        const TsqlError e = syntaxErrorNear(last);
        return makeMessage(e.number, e.severity, e.what());
    }
    if (startsWith(text, "no such table: "))
        return makeMessage(sqlerr::InvalidObjectName, 16,
                           "Invalid object name '" + stripMain(after(text, "no such table: ")) + "'.");
    if (startsWith(text, "no such column: "))
        return makeMessage(sqlerr::InvalidColumnName, 16,
                           "Invalid column name '" + lastPart(after(text, "no such column: ")) + "'.");
    if (startsWith(text, "ambiguous column name: "))
        return makeMessage(sqlerr::AmbiguousColumnName, 16,
                           "Ambiguous column name '" + lastPart(after(text, "ambiguous column name: ")) + "'.");
    if (startsWith(text, "no such function: "))
        // Built by appending: GCC 12 at -O3 warns (-Wrestrict) about "'" + std::string&& here.
        return makeMessage(sqlerr::NotRecognized, 15,
                           std::string("'")
                               .append(after(text, "no such function: "))
                               .append("' is not a recognized built-in function name."));
    if (startsWith(text, "wrong number of arguments to function "))
        return makeMessage(sqlerr::WrongArgumentCount, 15,
                           "The function " + after(text, "wrong number of arguments to function ") +
                               " was given a wrong number of arguments.");
    if (text.find("ORDER BY term does not match any column in the result set") != std::string::npos)
        return makeMessage(sqlerr::OrderByNotInSelectList, 16,
                           "ORDER BY items must appear in the select list if the statement contains a UNION, "
                           "INTERSECT or EXCEPT operator.");
    if (text.find("do not have the same number of result columns") != std::string::npos)
        return makeMessage(sqlerr::UnionColumnCount, 16,
                           "All queries combined using a UNION, INTERSECT or EXCEPT operator must have an equal "
                           "number of expressions in their target lists.");
    if (text.find("values were supplied") != std::string::npos || text.find("values for") != std::string::npos)
        return makeMessage(sqlerr::InsertValueCount, 16,
                           "Column name or number of supplied values does not match table definition.");
    if (startsWith(text, "cannot modify ") && text.find("because it is a view") != std::string::npos)
        return makeMessage(sqlerr::ViewUpdateFailed, 16, "Update or insert of view or function failed: " + text + ".");
    if (startsWith(text, "misuse of aggregate"))
        return makeMessage(sqlerr::AggregateInWhere, 15,
                           "An aggregate may not appear in the WHERE clause unless it is in a subquery contained in "
                           "a HAVING clause or a select list.");
    if (text == "integer overflow")
        return makeMessage(sqlerr::ArithmeticOverflow, 16,
                           "Arithmetic overflow error converting expression to data type int.");
    if (primary == SQLITE_READONLY)
        return makeMessage(sqlerr::DatabaseReadOnly, 16,
                           "Failed to update database \"QTL\" because the database is read-only.");
    return makeMessage(sqlerr::UserDefined, 16, "Database engine error: " + text);
}

}  // namespace devserver::tsql
