#include "redact.h"

#include "lexer.h"

#include <utility>
#include <vector>

namespace devserver::tsql {

namespace {

bool containsIgnoringCase(const std::string& text, const char* needle) {
    return upper(text).find(needle) != std::string::npos;
}

bool credentialColumn(const Token& t) {
    return t.isName() && (containsIgnoringCase(t.value, "PASSWORD") || containsIgnoringCase(t.value, "PWD"));
}

// The routine named at toks[i] (after optional QTL. / dbo. / QTL.. prefixes), and where its
// arguments begin; false when it is not GET_USER.
bool namesGetUser(const std::vector<Token>& toks, std::size_t i, std::size_t& argsStart) {
    std::size_t last = i;
    while (last + 1 < toks.size() && toks[last + 1].isPunct(".")) {
        if (last + 2 < toks.size() && toks[last + 2].isName())
            last += 2;
        else
            ++last;  // QTL..GET_USER
    }
    if (last >= toks.size() || !toks[last].isName() || !iequals(toks[last].value, "GET_USER")) return false;
    argsStart = last + 1;
    return true;
}

// Where the value of an argument at toks[k] ends (a sign and its number are one value).
std::size_t valueEnd(const std::vector<Token>& toks, std::size_t k) {
    if ((toks[k].isPunct("-") || toks[k].isPunct("+")) && k + 1 < toks.size() && toks[k + 1].kind == TokKind::Number)
        return k + 1;
    return k;
}

// The credential arguments of a GET_USER call whose arguments start at toks[args] (the second
// and third positional ones, @password and @new_password by name), up to the next statement.
// Every form the call accepts a text in is masked: 'quoted', [bracketed], "quoted", a bare word
// or a number; only NULL stays.
void maskGetUserArgs(const std::vector<Token>& toks, std::size_t args,
                     std::vector<std::pair<std::size_t, std::size_t>>& masked) {
    auto mask = [&](std::size_t k) {
        const std::size_t last = valueEnd(toks, k);
        if (last == k && (toks[k].kind == TokKind::Punct || toks[k].isWord("NULL"))) return k;
        masked.emplace_back(toks[k].begin, toks[last].end);
        return last;
    };
    int position = 1;
    for (std::size_t k = args; k < toks.size(); ++k) {
        const Token& t = toks[k];
        if (t.isPunct(",")) {
            ++position;
            continue;
        }
        if (t.isWord("EXEC") || t.isWord("EXECUTE") || t.isWord("SELECT") || t.isWord("INSERT") || t.isWord("UPDATE") ||
            t.isWord("DELETE") || t.isWord("SET") || t.isWord("IF"))
            break;  // the next statement
        if (t.kind == TokKind::Word && t.value[0] == '@' && k + 2 < toks.size() && toks[k + 1].isPunct("=")) {
            k += 2;
            if (iequals(t.value, "@password") || iequals(t.value, "@new_password"))
                k = mask(k);
            else
                k = valueEnd(toks, k);
            continue;
        }
        if (position == 2 || position == 3) k = mask(k);
    }
}

}  // namespace

std::string maskCredentials(const std::string& batch) {
    std::vector<Token> toks;
    try {
        toks = tokenize(batch);
    } catch (const TsqlError&) {
        if (containsIgnoringCase(batch, "GET_USER") || containsIgnoringCase(batch, "PASSWORD") ||
            containsIgnoringCase(batch, "PWD"))
            return "<not logged: an unreadable batch that may hold a credential>";
        return batch;
    }
    std::vector<std::pair<std::size_t, std::size_t>> masked;  // byte ranges, in order
    auto mask = [&](const Token& t) {
        if (t.kind == TokKind::String) masked.emplace_back(t.begin, t.end);
    };
    for (std::size_t i = 0; i < toks.size(); ++i) {
        // EXEC GET_USER ... or GET_USER ... as the batch's first words.
        std::size_t args = 0;
        const bool call = (i == 0 && namesGetUser(toks, 0, args)) ||
                          ((toks[i].isWord("EXEC") || toks[i].isWord("EXECUTE")) && namesGetUser(toks, i + 1, args));
        if (call) {
            maskGetUserArgs(toks, args, masked);
            continue;
        }
        // password = 'x', password LIKE 'x', 'x' = password, SET password = 'x', VALUES for a
        // password column is not written by any client of this server and is left as it is.
        if (credentialColumn(toks[i]) && i + 2 < toks.size() &&
            (toks[i + 1].isPunct("=") || toks[i + 1].isPunct("<>") || toks[i + 1].isPunct("!=") ||
             toks[i + 1].isWord("LIKE")))
            mask(toks[i + 2]);
        if (toks[i].kind == TokKind::String && i + 2 < toks.size() && toks[i + 1].isPunct("=") &&
            credentialColumn(toks[i + 2]))
            mask(toks[i]);
    }
    if (masked.empty()) return batch;
    std::string out;
    out.reserve(batch.size());
    std::size_t at = 0;
    for (const auto& [b, e] : masked) {
        if (b < at) continue;
        out.append(batch, at, b - at);
        out += kMaskedLiteral;
        at = e;
    }
    out.append(batch, at, std::string::npos);
    return out;
}

}  // namespace devserver::tsql
