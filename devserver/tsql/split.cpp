// Batch splitting: T-SQL needs no semicolons, so a statement ends where the next one's keyword
// stands at parenthesis depth 0.
#include "split.h"

#include <cassert>
#include <set>

namespace devserver::tsql {

namespace {

const std::set<std::string>& statementStarts() {
    static const std::set<std::string> words = {
        "SELECT",     "INSERT",   "UPDATE",      "DELETE",   "EXEC",     "EXECUTE",   "SET",        "BEGIN",
        "COMMIT",     "ROLLBACK", "IF",          "DECLARE",  "WHILE",    "PRINT",     "CREATE",     "ALTER",
        "DROP",       "TRUNCATE", "USE",         "GRANT",    "REVOKE",   "DENY",      "RAISERROR",  "THROW",
        "RETURN",     "MERGE",    "SAVE",        "WAITFOR",  "GOTO",     "OPEN",      "CLOSE",      "FETCH",
        "DEALLOCATE", "GO",       "BREAK",       "CONTINUE", "DBCC",     "BACKUP",    "RESTORE",    "BULK",
        "CHECKPOINT", "KILL",     "RECONFIGURE", "SHUTDOWN", "READTEXT", "WRITETEXT", "UPDATETEXT", "END"};
    return words;
}

struct Building {
    std::vector<Token> toks;
    std::string kind;  // upper-case first word
    bool sawValues = false;  // INSERT ... VALUES
    bool sawSelect = false;  // INSERT ... SELECT, or WITH ... SELECT
    bool sawSet = false;  // UPDATE ... SET
    // IF <condition> <statement>: the condition is still being read, so the next statement
    // keyword begins the guarded statement, which belongs to the IF.
    bool ifCondition = false;
    int caseDepth = 0;  // CASE ... END open in the condition
};

bool isBodyKeyword(const Token& t) {
    return t.kind == TokKind::Word && !t.isWord("END") && statementStarts().count(upper(t.text)) > 0;
}

bool startsNewStatement(const Token& t, const Building& cur) {
    if (t.kind != TokKind::Word) return false;
    const std::string u = upper(t.text);
    if (!statementStarts().count(u)) return false;
    const Token& prev = cur.toks.back();
    if (u == "SELECT") {
        if (prev.isWord("UNION") || prev.isWord("ALL") || prev.isWord("EXCEPT") || prev.isWord("INTERSECT"))
            return false;
        if ((cur.kind == "INSERT" || cur.kind == "WITH") && !cur.sawValues && !cur.sawSelect) return false;
        return true;
    }
    if (u == "SET") return !(cur.kind == "UPDATE" && !cur.sawSet);
    // BEGIN TRAN / COMMIT TRAN / ROLLBACK TRAN: TRAN is no statement of its own, END neither
    // after CASE; END only starts something after a BEGIN block, which is refused anyway.
    if (u == "END") return cur.kind == "BEGIN";
    // "WAITFOR DELAY", "OPEN x", "CLOSE x" never follow a DML word directly; keep it simple.
    return true;
}

}  // namespace

std::size_t ifBodyStart(const std::vector<Token>& toks) {
    int depth = 0, caseDepth = 0;
    for (std::size_t i = 1; i < toks.size(); ++i) {
        const Token& t = toks[i];
        if (t.isPunct("(")) ++depth;
        if (t.isPunct(")")) --depth;
        if (depth != 0) continue;
        if (t.isWord("CASE")) ++caseDepth;
        if (t.isWord("END") && caseDepth > 0) --caseDepth;
        if (caseDepth == 0 && isBodyKeyword(t)) return i;
    }
    return 0;
}

namespace {

// Only the first statement of a batch may name a routine without EXEC.
bool namesRoutineBare(const Token& first) {
    return first.kind == TokKind::Bracketed || first.kind == TokKind::Quoted ||
           (first.kind == TokKind::Word && !statementStarts().count(upper(first.text)) && !first.isWord("WITH"));
}

// Statements of a batch as its tokens arrive.
class Splitter {
public:
    void add(const Token& t) {
        if (t.isPunct(";") && depth_ == 0) {
            flush();
            return;
        }
        if (depth_ == 0 && cur_.ifCondition && startsIfBody(t)) return;
        if (depth_ == 0 && !cur_.toks.empty() && startsNewStatement(t, cur_)) flush();
        trackParentheses(t);
        if (cur_.toks.empty()) {
            cur_.kind = t.kind == TokKind::Word ? upper(t.text) : std::string();
            cur_.ifCondition = cur_.kind == "IF";
        }
        if (depth_ == 0 && t.kind == TokKind::Word) noteClauseWord(t);
        cur_.toks.push_back(t);
    }

    std::vector<RawStatement> finish() {
        if (depth_ != 0) throw syntaxErrorNear(cur_.toks.empty() ? std::string("(") : cur_.toks.back().text);
        flush();
        return std::move(out_);
    }

private:
    void flush() {
        if (cur_.toks.empty()) return;
        RawStatement st;
        st.toks = std::move(cur_.toks);
        st.bareRoutine = out_.empty() && namesRoutineBare(st.toks.front());
        out_.push_back(std::move(st));
        cur_ = Building{};
    }

    // Inside an IF's condition: true when `t` begins the guarded statement (and was taken).
    bool startsIfBody(const Token& t) {
        if (t.isWord("CASE")) ++cur_.caseDepth;
        if (t.isWord("END") && cur_.caseDepth > 0) --cur_.caseDepth;
        if (cur_.caseDepth != 0 || !isBodyKeyword(t)) return false;
        // The guarded statement: from here on the IF splits as that statement would.
        cur_.kind = upper(t.text);
        cur_.sawValues = cur_.sawSelect = cur_.sawSet = false;
        cur_.ifCondition = cur_.kind == "IF";
        cur_.toks.push_back(t);
        return true;
    }

    void trackParentheses(const Token& t) {
        if (t.isPunct("(")) ++depth_;
        if (t.isPunct(")")) {
            if (depth_ == 0) throw syntaxErrorNear(")");
            --depth_;
        }
        assert(depth_ >= 0);
    }

    void noteClauseWord(const Token& t) {
        if (t.isWord("VALUES")) cur_.sawValues = true;
        if (t.isWord("SELECT") && !cur_.toks.empty()) cur_.sawSelect = true;
        if (t.isWord("SET") && !cur_.toks.empty()) cur_.sawSet = true;
    }

    std::vector<RawStatement> out_;
    Building cur_;
    int depth_ = 0;
};

}  // namespace

std::vector<RawStatement> splitTokens(const std::vector<Token>& toks) {
    Splitter splitter;
    for (const Token& t : toks) splitter.add(t);
    return splitter.finish();
}

std::vector<std::string> splitBatch(const std::string& batch) {
    std::vector<std::string> out;
    for (const RawStatement& st : splitTokens(tokenize(batch)))
        out.push_back(batch.substr(st.toks.front().begin, st.toks.back().end - st.toks.front().begin));
    return out;
}

}  // namespace devserver::tsql
