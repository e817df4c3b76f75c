// Tokens of a T-SQL batch. The dialect layer never works on raw characters after this point, so
// keywords inside 'strings', [names], "names" and comments can never start a statement.
#pragma once

#include "../sql_errors.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace devserver::tsql {

// A failure that SQL Server would report with this number and class (e.g. 102, class 15).
class TsqlError : public std::runtime_error {
public:
    TsqlError(std::int32_t number, std::uint8_t severity, const std::string& text)
        : std::runtime_error(text), number(number), severity(severity) {}
    std::int32_t number;
    std::uint8_t severity;
};

// "Incorrect syntax near 'x'." (102) or, for a reserved word, "... near the keyword 'x'." (156).
TsqlError syntaxErrorNear(const std::string& tokenText);

enum class TokKind {
    Word,  // identifier or keyword, also @variables and #temp names
    Bracketed,  // [name]; value holds the name with ]] undone
    Quoted,  // "name"; value holds the name with "" undone
    String,  // 'text' or N'text'; value holds the text with '' undone
    Number,  // 12, 1.5, .5, 1e3
    Punct,  // operators and punctuation, including <= >= <> != !< !>
};

struct Token {
    TokKind kind = TokKind::Punct;
    std::string text;  // exactly as written
    std::string value;  // unquoted name / string content; for Word and Number the text
    std::size_t begin = 0, end = 0;  // byte offsets into the batch
    bool national = false;  // N'...'

    bool isWord(const char* upperKeyword) const;  // case-insensitive keyword match
    bool isPunct(const char* p) const { return kind == TokKind::Punct && text == p; }
    bool isName() const { return kind == TokKind::Word || kind == TokKind::Bracketed || kind == TokKind::Quoted; }
};

// Splits a batch into tokens, dropping blanks and comments. Throws TsqlError for an unclosed
// quotation mark (105) or comment (113).
std::vector<Token> tokenize(const std::string& text);

std::string upper(const std::string& s);
bool iequals(const std::string& a, const std::string& b);

// Words T-SQL reserves: they can never be a bare alias or a function name.
bool isReservedWord(const std::string& word);

}  // namespace devserver::tsql
