#include "lexer.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace devserver::tsql {

std::string upper(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool iequals(const std::string& a, const std::string& b) {
    return a.size() == b.size() && upper(a) == upper(b);
}

bool Token::isWord(const char* upperKeyword) const {
    return kind == TokKind::Word && upper(text) == upperKeyword;
}

bool isReservedWord(const std::string& word) {
    static const std::set<std::string> words = {
        "ADD", "ALL", "ALTER", "AND", "ANY", "AS", "ASC", "BEGIN", "BETWEEN", "BREAK", "BY",
        "CASE", "CHECK", "CLOSE", "COLLATE", "COLUMN", "COMMIT", "CONSTRAINT", "CONTINUE",
        "CONVERT", "CREATE", "CROSS", "CURRENT", "CURSOR", "DATABASE", "DEALLOCATE", "DECLARE",
        "DEFAULT", "DELETE", "DESC", "DISTINCT", "DROP", "ELSE", "END", "ESCAPE", "EXCEPT",
        "EXEC", "EXECUTE", "EXISTS", "FETCH", "FOR", "FOREIGN", "FROM", "FULL", "FUNCTION",
        "GOTO", "GRANT", "GROUP", "HAVING", "IDENTITY", "IF", "IN", "INDEX", "INNER", "INSERT",
        "INTERSECT", "INTO", "IS", "JOIN", "KEY", "LEFT", "LIKE", "MERGE", "NOT", "NULL", "OF",
        "OFF", "ON", "OPEN", "OPTION", "OR", "ORDER", "OUTER", "OVER", "PERCENT", "PIVOT",
        "PRIMARY", "PRINT", "PROC", "PROCEDURE", "RAISERROR", "REFERENCES", "RETURN", "REVOKE",
        "RIGHT", "ROLLBACK", "SAVE", "SELECT", "SET", "TABLE", "THEN", "TO", "TOP", "TRAN",
        "TRANSACTION", "TRUNCATE", "UNION", "UNIQUE", "UNPIVOT", "UPDATE", "USE", "VALUES",
        "VIEW", "WAITFOR", "WHEN", "WHERE", "WHILE", "WITH"};
    return words.count(upper(word)) > 0;
}

TsqlError syntaxErrorNear(const std::string& tokenText) {
    if (isReservedWord(tokenText))
        return TsqlError(156, 15, "Incorrect syntax near the keyword '" + upper(tokenText) + "'.");
    return TsqlError(102, 15, "Incorrect syntax near '" + tokenText + "'.");
}

namespace {

bool isIdentStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '@' || c == '#' ||
           c >= 0x80;
}
bool isIdentPart(unsigned char c) {
    return isIdentStart(c) || (c >= '0' && c <= '9') || c == '$';
}
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// The text SQL Server quotes in "Unclosed quotation mark after the character string '...'.".
TsqlError unclosed(const std::string& rest) {
    return TsqlError(105, 15, "Unclosed quotation mark after the character string '" + rest + "'.");
}

}  // namespace

std::vector<Token> tokenize(const std::string& s) {
    std::vector<Token> out;
    const std::size_t n = s.size();
    std::size_t i = 0;
    auto at = [&](std::size_t k) -> unsigned char { return k < n ? static_cast<unsigned char>(s[k]) : 0; };
    while (i < n) {
        unsigned char c = at(i);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
            ++i;
            continue;
        }
        // A no-break space (U+00A0) is blank to the server as well.
        if (c == 0xC2 && at(i + 1) == 0xA0) {
            i += 2;
            continue;
        }
        if (c == '-' && at(i + 1) == '-') {
            while (i < n && s[i] != '\n') ++i;
            continue;
        }
        if (c == '/' && at(i + 1) == '*') {
            // T-SQL block comments nest.
            int depth = 0;
            std::size_t k = i;
            while (k < n) {
                if (s[k] == '/' && at(k + 1) == '*') {
                    ++depth;
                    k += 2;
                } else if (s[k] == '*' && at(k + 1) == '/') {
                    k += 2;
                    if (--depth == 0) break;
                } else {
                    ++k;
                }
            }
            if (depth != 0) throw TsqlError(113, 15, "Missing end comment mark '*/'.");
            i = k;
            continue;
        }
        Token t;
        t.begin = i;
        if (c == '\'' || ((c == 'N' || c == 'n') && at(i + 1) == '\'')) {
            t.kind = TokKind::String;
            t.national = c != '\'';
            std::size_t k = i + (t.national ? 2 : 1);
            std::string value;
            bool closed = false;
            while (k < n) {
                if (s[k] == '\'') {
                    if (at(k + 1) == '\'') {
                        value += '\'';
                        k += 2;
                        continue;
                    }
                    closed = true;
                    ++k;
                    break;
                }
                value += s[k++];
            }
            if (!closed) throw unclosed(value);
            t.value = value;
            i = k;
        } else if (c == '[' || c == '"') {
            const char close = c == '[' ? ']' : '"';
            t.kind = c == '[' ? TokKind::Bracketed : TokKind::Quoted;
            std::size_t k = i + 1;
            std::string value;
            bool closed = false;
            while (k < n) {
                if (s[k] == close) {
                    if (at(k + 1) == static_cast<unsigned char>(close)) {
                        value += close;
                        k += 2;
                        continue;
                    }
                    closed = true;
                    ++k;
                    break;
                }
                value += s[k++];
            }
            if (!closed) throw unclosed(value);
            t.value = value;
            i = k;
        } else if (isDigit(c) || (c == '.' && isDigit(at(i + 1)))) {
            t.kind = TokKind::Number;
            std::size_t k = i;
            if (c == '0' && (at(k + 1) == 'x' || at(k + 1) == 'X')) {
                k += 2;
                while (std::isxdigit(at(k))) ++k;
            } else {
                while (isDigit(at(k))) ++k;
                if (at(k) == '.') {
                    ++k;
                    while (isDigit(at(k))) ++k;
                }
                if ((at(k) == 'e' || at(k) == 'E') &&
                    (isDigit(at(k + 1)) || ((at(k + 1) == '+' || at(k + 1) == '-') && isDigit(at(k + 2))))) {
                    k += 2;
                    while (isDigit(at(k))) ++k;
                }
            }
            i = k;
        } else if (isIdentStart(c)) {
            t.kind = TokKind::Word;
            std::size_t k = i + 1;
            while (k < n && isIdentPart(at(k))) ++k;
            i = k;
        } else {
            t.kind = TokKind::Punct;
            static const char* two[] = {"<=", ">=", "<>", "!=", "!<", "!>", "||", "+=", "-=", "*=", "/="};
            std::size_t len = 1;
            for (const char* p : two)
                if (c == static_cast<unsigned char>(p[0]) && at(i + 1) == static_cast<unsigned char>(p[1])) len = 2;
            i += len;
        }
        t.end = i;
        t.text = s.substr(t.begin, t.end - t.begin);
        if (t.kind == TokKind::Word || t.kind == TokKind::Number || t.kind == TokKind::Punct)
            t.value = t.text;
        out.push_back(std::move(t));
    }
    return out;
}

}  // namespace devserver::tsql
