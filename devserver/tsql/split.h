// Splitting a token stream into statements.
#pragma once

#include "lexer.h"
#include "translate.h"

#include <vector>

namespace devserver::tsql {

struct RawStatement {
    std::vector<Token> toks;
    bool bareRoutine = false;  // first statement of the batch naming a routine without EXEC
};

// Where the statement guarded by "IF <condition>" starts in `toks` (toks[0] is IF): the first
// statement keyword outside parentheses and CASE ... END; 0 when there is none.
std::size_t ifBodyStart(const std::vector<Token>& toks);

// Throws TsqlError for unbalanced parentheses.
std::vector<RawStatement> splitTokens(const std::vector<Token>& toks);

}  // namespace devserver::tsql
