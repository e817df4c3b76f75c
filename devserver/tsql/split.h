// Splitting a token stream into statements.
#pragma once

#include "lexer.h"
#include "translate.h"

#include <vector>

namespace devserver::tsql {

struct RawStatement {
    std::vector<Token> toks;
    bool bareRoutine = false;   // first statement of the batch naming a routine without EXEC
};

// Throws TsqlError for unbalanced parentheses.
std::vector<RawStatement> splitTokens(const std::vector<Token>& toks);

}  // namespace devserver::tsql
