#include "lexer.h"

#include <algorithm>
#include <cassert>
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
        "ADD",       "ALL",        "ALTER",    "AND",     "ANY",      "AS",       "ASC",         "BEGIN",
        "BETWEEN",   "BREAK",      "BY",       "CASE",    "CHECK",    "CLOSE",    "COLLATE",     "COLUMN",
        "COMMIT",    "CONSTRAINT", "CONTINUE", "CONVERT", "CREATE",   "CROSS",    "CURRENT",     "CURSOR",
        "DATABASE",  "DEALLOCATE", "DECLARE",  "DEFAULT", "DELETE",   "DESC",     "DISTINCT",    "DROP",
        "ELSE",      "END",        "ESCAPE",   "EXCEPT",  "EXEC",     "EXECUTE",  "EXISTS",      "FETCH",
        "FOR",       "FOREIGN",    "FROM",     "FULL",    "FUNCTION", "GOTO",     "GRANT",       "GROUP",
        "HAVING",    "IDENTITY",   "IF",       "IN",      "INDEX",    "INNER",    "INSERT",      "INTERSECT",
        "INTO",      "IS",         "JOIN",     "KEY",     "LEFT",     "LIKE",     "MERGE",       "NOT",
        "NULL",      "OF",         "OFF",      "ON",      "OPEN",     "OPTION",   "OR",          "ORDER",
        "OUTER",     "OVER",       "PERCENT",  "PIVOT",   "PRIMARY",  "PRINT",    "PROC",        "PROCEDURE",
        "RAISERROR", "REFERENCES", "RETURN",   "REVOKE",  "RIGHT",    "ROLLBACK", "SAVE",        "SELECT",
        "SET",       "TABLE",      "THEN",     "TO",      "TOP",      "TRAN",     "TRANSACTION", "TRUNCATE",
        "UNION",     "UNIQUE",     "UNPIVOT",  "UPDATE",  "USE",      "VALUES",   "VIEW",        "WAITFOR",
        "WHEN",      "WHERE",      "WHILE",    "WITH"};
    return words.count(upper(word)) > 0;
}

TsqlError syntaxErrorNear(const std::string& tokenText) {
    if (isReservedWord(tokenText))
        return TsqlError(sqlerr::IncorrectSyntaxNearKeyword, 15,
                         "Incorrect syntax near the keyword '" + upper(tokenText) + "'.");
    return TsqlError(sqlerr::IncorrectSyntax, 15, "Incorrect syntax near '" + tokenText + "'.");
}

namespace {

bool isIdentStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '@' || c == '#' || c >= 0x80;
}
bool isIdentPart(unsigned char c) {
    return isIdentStart(c) || (c >= '0' && c <= '9') || c == '$';
}
bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// The text SQL Server quotes in "Unclosed quotation mark after the character string '...'.".
TsqlError unclosed(const std::string& rest) {
    return TsqlError(sqlerr::UnclosedQuotationMark, 15,
                     "Unclosed quotation mark after the character string '" + rest + "'.");
}

// SQLite stops reading a statement at a NUL, so one outside a literal would cut the statement
// short (a DELETE losing its WHERE) while the rest of the text looked consumed. It is refused.
TsqlError nulOutsideLiteral() {
    return TsqlError(sqlerr::IncorrectSyntax, 15, "Incorrect syntax near '\\0'.");
}

}  // namespace

namespace {

// Reads one batch; every scan* function takes the position of a token's (or a blank's) first
// byte and returns the position just after it.
class Scanner {
public:
    explicit Scanner(const std::string& s) : s_(s), n_(s.size()) {}

    unsigned char at(std::size_t k) const { return k < n_ ? static_cast<unsigned char>(s_[k]) : 0; }

    // Blanks and comments at `i`: the position after them, or `i` when there are none.
    std::size_t skipBlank(std::size_t i) const {
        const unsigned char c = at(i);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') return i + 1;
        // A no-break space (U+00A0) is blank to the server as well.
        if (c == 0xC2 && at(i + 1) == 0xA0) return i + 2;
        if (c == '-' && at(i + 1) == '-') {
            while (i < n_ && s_[i] != '\n') ++i;
            return i;
        }
        if (c == '/' && at(i + 1) == '*') return skipBlockComment(i);
        return i;
    }

    // 'text', N'text', [name] or "name": `close` doubled stands for itself.
    std::size_t scanQuoted(std::size_t k, char close, std::string& value) const {
        while (k < n_) {
            if (s_[k] == close) {
                if (at(k + 1) == static_cast<unsigned char>(close)) {
                    value += close;
                    k += 2;
                    continue;
                }
                return k + 1;
            }
            value += s_[k++];
        }
        throw unclosed(value);
    }

    std::size_t scanNumber(std::size_t k) const {
        if (at(k) == '0' && (at(k + 1) == 'x' || at(k + 1) == 'X')) {
            k += 2;
            while (std::isxdigit(at(k))) ++k;
            return k;
        }
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
        return k;
    }

    std::size_t scanWord(std::size_t k) const {
        ++k;
        while (k < n_ && isIdentPart(at(k))) ++k;
        return k;
    }

    std::size_t scanPunct(std::size_t i) const {
        static const char* two[] = {"<=", ">=", "<>", "!=", "!<", "!>", "||", "+=", "-=", "*=", "/="};
        const unsigned char c = at(i);
        std::size_t len = 1;
        for (const char* p : two)
            if (c == static_cast<unsigned char>(p[0]) && at(i + 1) == static_cast<unsigned char>(p[1])) len = 2;
        return i + len;
    }

    // The token starting at `i` (not a blank); t.end is where it stops.
    Token scanToken(std::size_t i) const {
        const unsigned char c = at(i);
        Token t;
        t.begin = i;
        if (c == '\'' || ((c == 'N' || c == 'n') && at(i + 1) == '\'')) {
            t.kind = TokKind::String;
            t.national = c != '\'';
            t.end = scanQuoted(i + (t.national ? 2 : 1), '\'', t.value);
        } else if (c == '[' || c == '"') {
            t.kind = c == '[' ? TokKind::Bracketed : TokKind::Quoted;
            t.end = scanQuoted(i + 1, c == '[' ? ']' : '"', t.value);
            if (t.value.find('\0') != std::string::npos) throw nulOutsideLiteral();  // no name holds one
        } else if (c == 0) {
            throw nulOutsideLiteral();
        } else if (isDigit(c) || (c == '.' && isDigit(at(i + 1)))) {
            t.kind = TokKind::Number;
            t.end = scanNumber(i);
        } else if (isIdentStart(c)) {
            t.kind = TokKind::Word;
            t.end = scanWord(i);
        } else {
            t.kind = TokKind::Punct;
            t.end = scanPunct(i);
        }
        t.text = s_.substr(t.begin, t.end - t.begin);
        if (t.kind == TokKind::Word || t.kind == TokKind::Number || t.kind == TokKind::Punct) t.value = t.text;
        return t;
    }

private:
    // T-SQL block comments nest.
    std::size_t skipBlockComment(std::size_t k) const {
        int depth = 0;
        while (k < n_) {
            if (s_[k] == '/' && at(k + 1) == '*') {
                ++depth;
                k += 2;
            } else if (s_[k] == '*' && at(k + 1) == '/') {
                k += 2;
                if (--depth == 0) break;
            } else {
                ++k;
            }
        }
        if (depth != 0) throw TsqlError(sqlerr::MissingEndComment, 15, "Missing end comment mark '*/'.");
        return k;
    }

    const std::string& s_;
    std::size_t n_;
};

}  // namespace

std::vector<Token> tokenize(const std::string& s) {
    std::vector<Token> out;
    const Scanner scanner(s);
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t next = scanner.skipBlank(i);
        if (next != i) {
            i = next;
            continue;
        }
        Token t = scanner.scanToken(i);
        assert(t.end > i && t.end <= s.size());  // every token takes at least one byte
        i = t.end;
        out.push_back(std::move(t));
    }
    return out;
}

}  // namespace devserver::tsql
