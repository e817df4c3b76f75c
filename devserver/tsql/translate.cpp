// Statement translation T-SQL -> SQLite. Works on tokens grouped by parentheses; each level is
// turned into "units" (operands: names, literals, calls, parenthesised groups; everything else is
// passed through), so that '+' can be decided per operand type and TOP moved to the end of its
// own SELECT.
#include "translate.h"

#include "split.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>

namespace devserver::tsql {

namespace {

TsqlError unsupported(const std::string& what) {
    return TsqlError(sqlerr::NotSupported, 16,
                     "Keyword or statement option '" + what + "' is not supported in this version of SQL Server.");
}

enum class EType { Unknown, Null, Text, Int, Float, Date };

bool isNumeric(EType t) {
    return t == EType::Int || t == EType::Float;
}

EType typeFromDecl(const std::string& decl) {
    const std::string u = upper(decl);
    if (u.find("CHAR") != std::string::npos || u.find("TEXT") != std::string::npos ||
        u.find("CLOB") != std::string::npos)
        return EType::Text;
    if (u.find("DATE") != std::string::npos || u.find("TIME") != std::string::npos) return EType::Date;
    if (u.find("INT") != std::string::npos || u.find("BIT") != std::string::npos) return EType::Int;
    if (u.find("REAL") != std::string::npos || u.find("FLOA") != std::string::npos ||
        u.find("DOUB") != std::string::npos || u.find("DEC") != std::string::npos ||
        u.find("NUM") != std::string::npos || u.find("MONEY") != std::string::npos)
        return EType::Float;
    return EType::Unknown;
}

// Result types by the server's rules ("Data type precedence", "Precision, scale, and length").

Column typeOf(ColType t) {
    Column c;
    c.type = t;
    return c;
}

// Higher wins when two types meet in an expression.
int precedence(ColType t) {
    switch (t) {
    case ColType::DateTime: return 11;
    case ColType::Date: return 10;
    case ColType::Float: return 9;
    case ColType::Decimal: return 8;
    case ColType::BigInt: return 7;
    case ColType::Int: return 6;
    case ColType::SmallInt: return 5;
    case ColType::TinyInt: return 4;
    case ColType::Bit: return 3;
    case ColType::NVarChar: return 2;
    case ColType::VarChar: return 1;
    }
    return 0;
}

bool isText(ColType t) {
    return t == ColType::NVarChar || t == ColType::VarChar;
}

bool isWhole(ColType t) {
    return t == ColType::TinyInt || t == ColType::SmallInt || t == ColType::Int || t == ColType::BigInt ||
           t == ColType::Bit;
}

// A whole-number type as the decimal it converts to.
Column asDecimal(const Column& c) {
    if (c.type == ColType::Decimal) return c;
    Column d = typeOf(ColType::Decimal);
    d.precision = c.type == ColType::TinyInt    ? 3
                  : c.type == ColType::SmallInt ? 5
                  : c.type == ColType::Int      ? 10
                  : c.type == ColType::Bit      ? 1
                                                : 19;
    d.scale = 0;
    return d;
}

// A decimal result wider than 38 digits keeps its whole digits and gives up scale, down to 6.
Column decimalResult(int p, int s) {
    Column d = typeOf(ColType::Decimal);
    if (p > 38) {
        const int whole = p - s;
        s = std::max(std::min(s, 38 - whole), std::min(s, 6));
        p = 38;
    }
    d.precision = std::max(p, 1);
    d.scale = std::clamp(s, 0, d.precision);
    return d;
}

// e1 op e2 for op in + - * / %; nullopt when the server's type is not worked out here.
std::optional<Column> arithmeticType(const std::string& op, const Column& a, const Column& b) {
    if (op == "+" && isText(a.type) && isText(b.type)) {
        const bool national = a.type == ColType::NVarChar || b.type == ColType::NVarChar;
        Column c = typeOf(national ? ColType::NVarChar : ColType::VarChar);
        c.maxChars = std::min(a.maxChars + b.maxChars, national ? 4000 : 8000);
        return c;
    }
    const Column& hi = precedence(a.type) >= precedence(b.type) ? a : b;
    if (isText(hi.type) || hi.type == ColType::Bit) return std::nullopt;
    if (hi.type == ColType::DateTime || hi.type == ColType::Date) {
        if (op != "+" && op != "-") return std::nullopt;
        return typeOf(ColType::DateTime);
    }
    if (hi.type != ColType::Decimal) return typeOf(hi.type);
    if (isText(a.type) || isText(b.type)) return hi;
    const Column x = asDecimal(a), y = asDecimal(b);
    const int p1 = x.precision, s1 = x.scale, p2 = y.precision, s2 = y.scale;
    if (op == "+" || op == "-")
        return decimalResult(std::max(s1, s2) + std::max(p1 - s1, p2 - s2) + 1, std::max(s1, s2));
    if (op == "*") return decimalResult(p1 + p2 + 1, s1 + s2);
    if (op == "/") {
        const int sc = std::max(6, s1 + p2 + 1);
        return decimalResult(p1 - s1 + s2 + sc, sc);
    }
    return decimalResult(std::min(p1 - s1, p2 - s2) + std::max(s1, s2), std::max(s1, s2));
}

// Length in UTF-16 code units, the unit of a text constant's length.
std::size_t utf16Units(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) == 0x80) continue;
        n += c >= 0xF0 ? 2 : 1;
    }
    return n;
}

// A number constant ("Constants"): int when whole and within int, decimal(p, s) as written when
// it has a point or is larger, float with an exponent.
Column numberType(const std::string& text) {
    Column c = typeOf(ColType::Float);
    c.nullable = false;
    if (text.find_first_of("eE") != std::string::npos) return c;
    const std::size_t point = text.find('.');
    std::string whole = text.substr(0, point);
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
    const int scale = point == std::string::npos ? 0 : static_cast<int>(text.size() - point - 1);
    const int precision = std::max(static_cast<int>(whole.size()) + scale, 1);
    if (precision > 38) return c;
    if (point == std::string::npos && (whole.size() < 10 || (whole.size() == 10 && whole <= "2147483647"))) {
        c.type = ColType::Int;
        return c;
    }
    c.type = ColType::Decimal;
    c.precision = std::max(precision, scale);
    c.scale = scale;
    return c;
}

std::string quoteName(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// A NUL inside a literal is a character of the text; SQLite would stop reading the statement at
// it, so it is written as char(0).
std::string quoteString(const std::string& text) {
    const bool nul = text.find('\0') != std::string::npos;
    std::string out = nul ? "('" : "'";
    for (char c : text) {
        if (c == '\0') {
            out += "'||char(0)||'";
            continue;
        }
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + (nul ? "')" : "'");
}

// Identifiers T-SQL allows bare but SQLite reserves.
bool sqliteReserved(const std::string& word) {
    static const std::set<std::string> words = {"LIMIT", "ISNULL",  "NOTNULL",   "GLOB",  "REGEXP",
                                                "MATCH", "INDEXED", "RETURNING", "OFFSET"};
    return words.count(upper(word)) > 0;
}

// The parts of the dotted name starting at toks[i] ("a.b.c", "QTL..x", "t.*"; an empty part
// stands for a name left out); returns the index after it.
std::size_t readDottedName(const std::vector<Token>& toks, std::size_t i, std::vector<Token>& parts) {
    parts.assign(1, toks[i]);
    std::size_t j = i + 1;
    while (j < toks.size() && toks[j].isPunct(".")) {
        if (j + 1 < toks.size() && (toks[j + 1].isName() || toks[j + 1].isPunct("*"))) {
            parts.push_back(toks[j + 1]);
            j += 2;
            if (parts.back().isPunct("*")) break;
        } else if (j + 1 < toks.size() && toks[j + 1].isPunct(".")) {
            Token empty;
            empty.kind = TokKind::Word;
            parts.push_back(empty);
            j += 1;
        } else {
            throw syntaxErrorNear(".");
        }
    }
    return j;
}

// How many leading parts of a dotted name are this database's name and schema.
std::size_t prefixParts(const std::vector<Token>& parts) {
    auto isDbo = [](const Token& p) { return p.text.empty() || iequals(p.value, "dbo"); };
    if (parts.size() >= 3 && iequals(parts[0].value, "QTL") && isDbo(parts[1])) return 2;
    if (parts.size() >= 3 && isDbo(parts[1]) && !iequals(parts[0].value, "dbo")) {
        std::string full;
        for (const Token& p : parts) full += (full.empty() ? "" : ".") + p.value;
        throw TsqlError(sqlerr::InvalidObjectName, 16, "Invalid object name '" + full + "'.");
    }
    if (parts.size() >= 2 && iequals(parts[0].value, "dbo")) return 1;
    return 0;
}

// Drops the database and schema prefixes ([QTL].[dbo]., QTL..x, dbo.) from every dotted name.
std::vector<Token> dropPrefixes(const std::vector<Token>& toks) {
    std::vector<Token> out;
    std::vector<Token> parts;
    for (std::size_t i = 0; i < toks.size();) {
        const Token& t = toks[i];
        const bool nameStart =
            t.isName() && !(t.kind == TokKind::Word && isReservedWord(t.text)) && !(i > 0 && toks[i - 1].isPunct("."));
        if (!nameStart) {
            out.push_back(t);
            ++i;
            continue;
        }
        const std::size_t j = readDottedName(toks, i, parts);
        const std::size_t drop = prefixParts(parts);
        for (std::size_t k = drop; k < parts.size(); ++k) {
            if (parts[k].text.empty()) throw syntaxErrorNear(".");
            if (k > drop) {
                Token dot;
                dot.kind = TokKind::Punct;
                dot.text = dot.value = ".";
                out.push_back(dot);
            }
            out.push_back(parts[k]);
        }
        assert(j > i);
        i = j;
    }
    return out;
}

struct Node {
    Token tok;  // a leaf, or the '(' of a group
    bool group = false;
    std::vector<Node> kids;
};

// Deeper nesting than any real statement would exhaust the stack of the recursive translation.
constexpr int kMaxNesting = 128;

std::vector<Node> buildTree(const std::vector<Token>& toks, std::size_t& i, bool nested, int depth = 0) {
    if (depth > kMaxNesting)
        throw TsqlError(sqlerr::NestedTooDeeply, 15,
                        "Some part of your SQL statement is nested too deeply. Rewrite the query or break "
                        "it up into smaller queries.");
    std::vector<Node> out;
    while (i < toks.size()) {
        const Token& t = toks[i];
        if (t.isPunct(")")) {
            if (!nested) throw syntaxErrorNear(")");
            return out;
        }
        Node n;
        n.tok = t;
        ++i;
        if (t.isPunct("(")) {
            n.group = true;
            n.kids = buildTree(toks, i, true, depth + 1);
            if (i >= toks.size()) throw syntaxErrorNear(toks.back().text);
            ++i;  // ')'
        }
        out.push_back(std::move(n));
    }
    if (nested) throw syntaxErrorNear(toks.empty() ? std::string("(") : toks.back().text);
    return out;
}

struct Unit {
    enum class Kind { Other, Name, Literal, Call, Group } kind = Kind::Other;
    const Node* node = nullptr;  // Other/Literal: the token node; Group: the group node
    std::string sql;
    EType type = EType::Unknown;
    std::vector<const Token*> parts;  // Name: parts ('*' possible as last)
    std::optional<Column> st;  // the server's type of the operand, when worked out
    bool constant = false;  // made of constants only (never NULL unless it is NULL itself)
    bool tvf = false;
    std::string tvfName;
    bool isOp(const char* p) const { return kind == Kind::Other && node->tok.isPunct(p); }
    bool isWord(const char* w) const { return kind == Kind::Other && node->tok.isWord(w); }
    bool operand() const { return kind != Kind::Other; }
    bool singleName() const { return kind == Kind::Name && parts.size() == 1 && !parts[0]->isPunct("*"); }
};

struct SeqResult {
    std::string sql;
    EType type = EType::Unknown;  // when the level is one expression
    std::optional<Column> st;
    bool constant = false;
};

std::string joinPieces(const std::vector<std::string>& pieces) {
    std::string out;
    for (const std::string& p : pieces) {
        if (p.empty()) continue;
        const bool noSpaceBefore =
            p == "," || p == ")" || p == "." || out.empty() || out.back() == '(' || out.back() == '.' || p[0] == '.';
        if (!noSpaceBefore) out += ' ';
        out += p;
    }
    return out;
}

class Translator {
public:
    explicit Translator(const Catalog& catalog) : cat_(catalog) {}

    std::string statement(const std::vector<Token>& rawToks, std::vector<std::optional<std::string>>* names,
                          std::vector<ResultColumnInfo>* types = nullptr, PlannedStatement* plan = nullptr) {
        std::vector<Token> toks = dropPrefixes(rawToks);
        collectTables(toks);
        std::size_t i = 0;
        std::vector<Node> tree = buildTree(toks, i, false);
        markInsertedDates(tree);
        if (plan) {
            plan->touchesTable = !tables_.empty();
            readInsertTarget(tree, *plan);
            refuseIdentityUpdate(tree);
        }
        return SeqEmitter(*this, tree, names, types).run().sql;
    }

private:
    const Catalog& cat_;
    std::size_t steps_ = 0;
    std::set<const Node*> dateLiterals_;  // text literals written into DATETIME columns
    std::map<std::string, std::string> aliases_;  // upper alias or table -> table
    std::vector<std::string> tables_;
    std::set<std::string> outer_;  // upper aliases and tables on the optional side of an outer join
    bool outerUnknown_ = false;  // an outer join whose optional side is not a named table

    // LEFT [OUTER] JOIN t: t may be missing; RIGHT and FULL make earlier tables so.
    std::string outerJoinBefore(const std::vector<Token>& toks, std::size_t i) const {
        if (i < 2 || !toks[i - 1].isWord("JOIN")) return {};
        std::size_t k = i - 2;
        if (toks[k].isWord("OUTER") && k > 0) --k;
        for (const char* w : {"LEFT", "RIGHT", "FULL"})
            if (toks[k].isWord(w)) return w;
        return {};
    }

    void collectTables(const std::vector<Token>& toks) {
        for (std::size_t i = 0; i < toks.size(); ++i) {
            const Token& t = toks[i];
            if (i + 1 < toks.size() && toks[i + 1].isPunct("(") && !outerJoinBefore(toks, i + 1).empty())
                outerUnknown_ = true;  // LEFT JOIN (SELECT ...) AS x
            if (!t.isName() || (i > 0 && toks[i - 1].isPunct(".")) ||
                (i + 1 < toks.size() && (toks[i + 1].isPunct(".") || toks[i + 1].isPunct("("))))
                continue;
            if (t.kind == TokKind::Word && isReservedWord(t.text)) continue;
            if (!cat_.hasTable(t.value)) continue;
            tables_.push_back(t.value);
            aliases_[upper(t.value)] = t.value;
            const std::string join = outerJoinBefore(toks, i);
            if (join == "RIGHT" || join == "FULL")  // every table joined before it may be missing
                for (const auto& [name, table] : aliases_)
                    if (!iequals(name, t.value)) outer_.insert(name);
            if (join == "LEFT" || join == "FULL") outer_.insert(upper(t.value));
            std::size_t k = i + 1;
            if (k < toks.size() && toks[k].isWord("AS")) ++k;
            if (k < toks.size() && toks[k].isName() &&
                !(toks[k].kind == TokKind::Word && isReservedWord(toks[k].text))) {
                aliases_[upper(toks[k].value)] = t.value;
                if (join == "LEFT" || join == "FULL") outer_.insert(upper(toks[k].value));
            }
        }
    }

    // INSERT INTO t [(c1, c2, ...)]: whether the statement gives the identity column a value.
    void readInsertTarget(const std::vector<Node>& tree, PlannedStatement& plan) const {
        if (tree.size() < 3 || !tree[0].tok.isWord("INSERT") || !tree[1].tok.isWord("INTO") || tree[2].group ||
            !tree[2].tok.isName())
            return;
        const std::string identity = cat_.identityColumn(tree[2].tok.value);
        if (identity.empty()) return;
        plan.identityTable = tree[2].tok.value;
        plan.identityColumn = identity;
        if (tree.size() >= 4 && tree[3].group) {
            for (const Node& k : tree[3].kids)
                if (!k.group && k.tok.isName() && iequals(k.tok.value, identity)) plan.identityGiven = true;
        }
    }

    // UPDATE t SET ... may not assign the identity column (error 8102, when the batch compiles).
    void refuseIdentityUpdate(const std::vector<Node>& tree) const {
        if (tree.size() < 4 || !tree[0].tok.isWord("UPDATE") || tree[1].group || !tree[1].tok.isName()) return;
        const std::string identity = cat_.identityColumn(tree[1].tok.value);
        if (identity.empty()) return;
        bool itemStart = false;
        for (std::size_t k = 2; k < tree.size(); ++k) {
            const Node& n = tree[k];
            if (!n.group && (n.tok.isWord("FROM") || n.tok.isWord("WHERE") || n.tok.isWord("OPTION"))) return;
            if (!n.group && (n.tok.isWord("SET") || n.tok.isPunct(","))) {
                itemStart = true;
                continue;
            }
            if (!itemStart) continue;
            itemStart = false;
            // col = ... or alias.col = ...
            std::size_t c = k;
            if (k + 2 < tree.size() && !tree[k + 1].group && tree[k + 1].tok.isPunct(".")) c = k + 2;
            const Node& col = tree[c];
            if (!col.group && col.tok.isName() && iequals(col.tok.value, identity) && c + 1 < tree.size() &&
                !tree[c + 1].group && tree[c + 1].tok.isPunct("="))
                throw TsqlError(sqlerr::IdentityUpdate, 16, "Cannot update identity column '" + identity + "'.");
        }
    }

    // INSERT INTO t (c1, c2, ...) VALUES (...)[, (...)]: the text literals bound for DATETIME
    // columns are read as dates with the session's DATEFORMAT.
    void markInsertedDates(const std::vector<Node>& tree) {
        if (tree.size() < 6 || !tree[0].tok.isWord("INSERT") || !tree[1].tok.isWord("INTO") || tree[2].group ||
            !tree[2].tok.isName() || !tree[3].group || tree[4].group || !tree[4].tok.isWord("VALUES"))
            return;
        std::vector<bool> isDate;
        for (const Node& k : tree[3].kids) {
            if (k.group || k.tok.isPunct(",")) continue;
            const auto decl = k.tok.isName() ? cat_.columnType(tree[2].tok.value, k.tok.value) : std::nullopt;
            isDate.push_back(decl && typeFromDecl(*decl) == EType::Date);
        }
        for (std::size_t r = 5; r < tree.size(); ++r) {
            if (!tree[r].group) continue;
            std::size_t column = 0, itemSize = 0;
            const Node* item = nullptr;
            auto endItem = [&] {
                if (itemSize == 1 && item->tok.kind == TokKind::String && column < isDate.size() && isDate[column])
                    dateLiterals_.insert(item);
                ++column;
                itemSize = 0;
            };
            for (const Node& k : tree[r].kids) {
                if (!k.group && k.tok.isPunct(",")) {
                    endItem();
                    continue;
                }
                if (itemSize++ == 0) item = &k;
            }
            if (itemSize > 0) endItem();
        }
    }

    static std::string asDate(const Unit& literal) {
        return "tsql_datetime(" + literal.sql + (literal.node->tok.national ? ", 1)" : ")");
    }

    static bool isComparison(const Unit& u) {
        for (const char* op : {"=", "<", ">", "<=", ">=", "<>", "!=", "!<", "!>"})
            if (u.isOp(op)) return true;
        return false;
    }

    static bool isArithmetic(const Unit& u) {
        return u.isOp("+") || u.isOp("-") || u.isOp("*") || u.isOp("/") || u.isOp("%");
    }

    // A text literal compared with (or, in UPDATE ... SET, assigned to) a DATETIME operand, or a
    // bound of BETWEEN on one, is read as a date: the server converts it to datetime there, so
    // the comparison is one of dates and never of raw texts.
    static void readComparedDates(std::vector<Unit>& us) {
        auto dateOperand = [&](std::size_t k, bool left) {
            if (us[k].type != EType::Date || !us[k].operand()) return false;
            const bool joined =
                left ? (k > 0 && isArithmetic(us[k - 1])) : (k + 1 < us.size() && isArithmetic(us[k + 1]));
            return !joined;
        };
        for (std::size_t u = 0; u < us.size(); ++u) {
            Unit& x = us[u];
            if (x.kind != Unit::Kind::Literal || x.node->tok.kind != TokKind::String) continue;
            bool date = false;
            if (u >= 2 && isComparison(us[u - 1]) && dateOperand(u - 2, true) &&
                !(u + 1 < us.size() && isArithmetic(us[u + 1])))
                date = true;
            if (u + 2 < us.size() && isComparison(us[u + 1]) && dateOperand(u + 2, false) &&
                !(u > 0 && isArithmetic(us[u - 1])))
                date = true;
            // d [NOT] BETWEEN 'a' AND 'b'
            std::size_t b = u;
            if (b >= 1 && us[b - 1].isWord("AND") && b >= 2 && us[b - 2].kind == Unit::Kind::Literal) b -= 2;
            if (b >= 2 && us[b - 1].isWord("BETWEEN")) {
                std::size_t d = b - 2;
                if (us[d].isWord("NOT") && d >= 1) --d;
                if (dateOperand(d, true)) date = true;
            }
            if (date) {
                x.sql = asDate(x);
                x.type = EType::Date;
            }
        }
    }

    EType columnType(const std::vector<const Token*>& parts) const {
        const auto decl = columnDecl(parts);
        return decl ? typeFromDecl(*decl) : EType::Unknown;
    }

    // The declared type of the column a name refers to, and the table (or alias) it is read from.
    std::optional<std::string> columnDecl(const std::vector<const Token*>& parts, std::string* from = nullptr) const {
        if (parts.empty() || parts.back()->isPunct("*")) return std::nullopt;
        const std::string& col = parts.back()->value;
        if (parts.size() >= 2) {
            auto it = aliases_.find(upper(parts[parts.size() - 2]->value));
            if (it == aliases_.end()) return std::nullopt;
            if (from) *from = upper(parts[parts.size() - 2]->value);
            return cat_.columnType(it->second, col);
        }
        for (const std::string& t : tables_)
            if (auto decl = cat_.columnType(t, col)) {
                if (from) *from = upper(t);
                return decl;
            }
        return std::nullopt;
    }

    // A column of a table on the optional side of an outer join may be NULL whatever its
    // declaration; so may every column when a joined side could not be told.
    bool outerSide(const Unit& name) const {
        if (outerUnknown_) return true;
        std::string from;
        if (!columnDecl(name.parts, &from)) return !outer_.empty();
        return outer_.count(from) > 0;
    }

    static std::string nameSql(const std::vector<const Token*>& parts) {
        std::string out;
        for (const Token* p : parts) {
            if (!out.empty()) out += '.';
            if (p->isPunct("*"))
                out += '*';
            else if (p->kind == TokKind::Word && !sqliteReserved(p->text))
                out += p->text;
            else
                out += quoteName(p->value);
        }
        return out;
    }

    // Arguments of a call, each translated; an empty argument is a syntax error as on the server.
    std::vector<SeqResult> args(const Node& group) {
        std::vector<SeqResult> out;
        std::vector<Node> cur;
        bool any = false;
        for (const Node& k : group.kids) {
            if (!k.group && k.tok.isPunct(",")) {
                if (cur.empty()) throw syntaxErrorNear(",");
                out.push_back(emitSeq(cur, nullptr));
                cur.clear();
                any = true;
                continue;
            }
            cur.push_back(k);
        }
        if (cur.empty() && any) throw syntaxErrorNear(")");
        if (!cur.empty()) out.push_back(emitSeq(cur, nullptr));
        return out;
    }

    // CAST to a text type cuts to its length (30 when none is given, as the server does).
    static Unit castToText(const std::string& exprSql, const std::string& type, const std::vector<std::string>& lens) {
        std::string len = type == "SYSNAME" ? "128" : (type == "TEXT" || type == "NTEXT") ? "MAX" : "30";
        if (!lens.empty()) len = lens[0];
        if (type == "CHAR" || type == "NCHAR") {
            if (lens.empty()) len = "30";
        }
        std::string sql = "CAST(" + exprSql + " AS TEXT)";
        if (len != "MAX") {
            char* end = nullptr;
            long n = std::strtol(len.c_str(), &end, 10);
            if (!end || *end || n <= 0) throw syntaxErrorNear(len);
            sql = "substr(" + sql + ", 1, " + std::to_string(n) + ")";
        }
        Unit u;
        u.kind = Unit::Kind::Call;
        u.sql = sql + " COLLATE " + kTextCollation;
        u.type = EType::Text;
        return u;
    }

    // The upper-case type name of a CAST and the upper-case numbers in its parentheses.
    static std::string castType(const std::vector<Node>& typeNodes, std::vector<std::string>& lens) {
        const Token& typeTok = typeNodes[0].tok;
        if (!typeTok.isName()) throw syntaxErrorNear(typeTok.text);
        if (typeNodes.size() >= 2 && typeNodes[1].group)
            for (const Node& k : typeNodes[1].kids)
                if (!k.tok.isPunct(",")) lens.push_back(upper(k.tok.text));
        if (typeNodes.size() > 2 || (typeNodes.size() == 2 && !typeNodes[1].group))
            throw syntaxErrorNear(typeNodes.back().tok.text);
        return upper(typeTok.value);
    }

    // CAST(x AS type) / CONVERT(type, x): kept faithful to the server's conversions.
    // `style` (CONVERT's third argument) reads a text as a date in that style's order.
    Unit cast(const std::vector<Node>& exprNodes, const std::vector<Node>& typeNodes, int style = -1) {
        if (exprNodes.empty() || typeNodes.empty()) throw syntaxErrorNear(")");
        const SeqResult expr = emitSeq(exprNodes, nullptr);
        std::vector<std::string> lens;
        const std::string type = castType(typeNodes, lens);
        Unit u = castUntyped(expr, type, lens, style);
        std::vector<std::string> typeArgs = lens;
        // CAST to a text type without a length is 30 characters long.
        if (typeArgs.empty() && (type == "CHAR" || type == "VARCHAR" || type == "NCHAR" || type == "NVARCHAR"))
            typeArgs.push_back("30");
        u.st = columnOfType(type, typeArgs);
        u.constant = expr.constant;
        if (u.st) u.st->nullable = !expr.constant || (expr.st && expr.st->nullable);
        return u;
    }

    // Dates: a date-time operand stays as it is, a number counts days from 1900-01-01, a text is
    // read with the session's DATEFORMAT (or the CONVERT style's order).
    static std::string castToDateTime(const SeqResult& expr, int style) {
        if (expr.type == EType::Date) return expr.sql;
        if (isNumeric(expr.type)) return "strftime('%Y-%m-%d %H:%M:%f', julianday('1900-01-01') + (" + expr.sql + "))";
        if (style >= 0) {
            static const std::map<int, const char*> orders = {{101, "mdy"}, {103, "dmy"}, {104, "dmy"}, {105, "dmy"},
                                                              {110, "mdy"}, {111, "ymd"}, {120, "ymd"}, {121, "ymd"},
                                                              {23, "ymd"},  {126, "ymd"}, {0, "mdy"},   {100, "mdy"}};
            const auto it = orders.find(style);
            if (it == orders.end()) throw unsupported("CONVERT style " + std::to_string(style));
            return std::string("tsql_datetime_in(") + expr.sql + ", '" + it->second + "')";
        }
        return "tsql_datetime(" + expr.sql + ")";
    }

    static Unit castUntyped(const SeqResult& expr, const std::string& type, const std::vector<std::string>& lens,
                            int style) {
        static const std::set<std::string> texts = {"CHAR", "VARCHAR", "NCHAR", "NVARCHAR", "TEXT", "NTEXT", "SYSNAME"};
        static const std::set<std::string> ints = {"INT", "INTEGER", "BIGINT", "SMALLINT", "TINYINT"};
        static const std::set<std::string> floats = {"FLOAT", "REAL", "DECIMAL", "NUMERIC", "MONEY", "SMALLMONEY"};
        if (style >= 0 && type != "DATETIME" && type != "DATE") throw unsupported("CONVERT style");
        if (texts.count(type)) return castToText(expr.sql, type, lens);
        Unit u;
        u.kind = Unit::Kind::Call;
        if (type == "DATETIME") {
            u.sql = castToDateTime(expr, style);
            u.type = EType::Date;
        } else if (type == "DATE") {
            // Kept as a date-time at midnight, so it compares with dates and date literals.
            u.sql = "(substr(" + castToDateTime(expr, style) + ", 1, 10) || ' 00:00:00')";
            u.type = EType::Date;
        } else if (ints.count(type)) {
            u.sql = "tsql_int(" + expr.sql + ")";
            u.type = EType::Int;
        } else if (type == "BIT") {
            u.sql = "(tsql_float(" + expr.sql + ") <> 0)";
            u.type = EType::Int;
        } else if (floats.count(type)) {
            u.sql = "tsql_float(" + expr.sql + ")";
            if ((type == "DECIMAL" || type == "NUMERIC" || type == "MONEY" || type == "SMALLMONEY")) {
                std::string scale = lens.size() >= 2 ? lens[1] : (type == "MONEY" || type == "SMALLMONEY") ? "4" : "0";
                u.sql = "round(" + u.sql + ", " + scale + ")";
            }
            u.type = EType::Float;
        } else {
            throw unsupported("CAST AS " + type);
        }
        return u;
    }

    // CAST(x AS type) and CONVERT(type, x) split at their AS or comma.
    Unit castCall(const std::string& name, const Node& group) {
        const std::vector<Node>& kids = group.kids;
        if (name == "CAST") {
            std::size_t as = kids.size();
            for (std::size_t k = 0; k < kids.size(); ++k)
                if (!kids[k].group && kids[k].tok.isWord("AS")) as = k;
            if (as == kids.size()) throw syntaxErrorNear(")");
            const auto at = kids.begin() + static_cast<std::ptrdiff_t>(as);
            return cast({kids.begin(), at}, {at + 1, kids.end()});
        }
        std::size_t comma = kids.size();
        int commas = 0;
        for (std::size_t k = 0; k < kids.size(); ++k)
            if (!kids[k].group && kids[k].tok.isPunct(",")) {
                if (commas++ == 0) comma = k;
            }
        const auto at = kids.begin() + static_cast<std::ptrdiff_t>(comma);
        if (commas == 2) {
            // CONVERT(type, x, style): the style a constant number.
            auto styleAt = at + 1;
            while (styleAt != kids.end() && (styleAt->group || !styleAt->tok.isPunct(","))) ++styleAt;
            if (styleAt + 2 != kids.end() || styleAt[1].group || styleAt[1].tok.kind != TokKind::Number)
                throw unsupported("CONVERT style");
            const int style = std::atoi(styleAt[1].tok.text.c_str());
            return cast({at + 1, styleAt}, {kids.begin(), at}, style);
        }
        if (commas != 1) throw unsupported("CONVERT style");
        return cast({at + 1, kids.end()}, {kids.begin(), at});
    }

    static std::string joinArgs(const std::vector<SeqResult>& a, std::size_t from = 0) {
        std::string out;
        for (std::size_t k = from; k < a.size(); ++k) out += (k > from ? ", " : "") + a[k].sql;
        return out;
    }

    static void requireArgs(const std::string& name, const std::vector<SeqResult>& a, std::size_t n) {
        if (a.size() != n)
            throw TsqlError(sqlerr::WrongArgumentCount, 15,
                            "The " + name + " function requires " + std::to_string(n) + " argument(s).");
    }

    // The functions translated to SQLite's or our own under another name; false for the others.
    static bool translatedCall(const std::string& name, const Node& group, const std::vector<SeqResult>& a, Unit& u) {
        if (name == "ISNULL") {
            requireArgs(name, a, 2);
            u.sql = "ifnull(" + joinArgs(a) + ")";
            u.type = a[0].type;
        } else if (name == "LEN") {
            requireArgs(name, a, 1);
            u.sql = "length(rtrim(" + a[0].sql + "))";
            u.type = EType::Int;
        } else if (name == "GETDATE" || name == "SYSDATETIME" || name == "CURRENT_TIMESTAMP") {
            requireArgs(name, a, 0);
            u.sql = "strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')";
            u.type = EType::Date;
        } else if (name == "SUBSTRING") {
            requireArgs(name, a, 3);
            u.sql = "substr(" + joinArgs(a) + ")";
            u.type = EType::Text;
        } else if (name == "LEFT") {
            requireArgs(name, a, 2);
            u.sql = "substr(" + a[0].sql + ", 1, " + a[1].sql + ")";
            u.type = EType::Text;
        } else if (name == "UPPER" || name == "LOWER") {
            requireArgs(name, a, 1);
            u.sql = (name == "UPPER" ? "tsql_upper(" : "tsql_lower(") + a[0].sql + ")";
            u.type = EType::Text;
        } else if (name == "CHARINDEX") {
            requireArgs(name, a, 2);
            u.sql = "instr(" + a[1].sql + ", " + a[0].sql + ")";
            u.type = EType::Int;
        } else if (name == "SCOPE_IDENTITY") {
            requireArgs(name, a, 0);
            u.sql = "last_insert_rowid()";
            u.type = EType::Int;
        } else if (name == "AVG" && a.size() == 1 && a[0].type == EType::Int) {
            // The server averages integers in integer arithmetic.
            u.sql = "CAST(avg(" + a[0].sql + ") AS INTEGER)";
            u.type = EType::Int;
        } else if (name == "COUNT" || name == "COUNT_BIG") {
            u.sql = "count(" +
                    (group.kids.size() == 1 && group.kids[0].tok.isPunct("*") ? std::string("*") : joinArgs(a)) + ")";
            u.type = EType::Int;
        } else {
            return false;
        }
        return true;
    }

    // The functions SQLite has under the same name (and an INSERT's target with its columns).
    Unit sameNameCall(const Token& nameTok, const std::string& name, const Node& group, const std::vector<SeqResult>& a,
                      bool insertTarget) {
        static const std::set<std::string> textFns = {"LTRIM", "RTRIM", "REPLACE", "RIGHT", "REVERSE"};
        static const std::set<std::string> sameFns = {"SUM", "MIN", "MAX", "ABS", "COALESCE", "NULLIF", "ROUND", "AVG"};
        // Only the server's own functions pass: any other name would reach SQLite's functions
        // (sqlite_version, fts3_tokenizer, the pragma functions), which no T-SQL client may call.
        if (!textFns.count(name) && !sameFns.count(name) && !insertTarget)
            throw TsqlError(sqlerr::NotRecognized, 15,
                            "'" + nameTok.value + "' is not a recognized built-in function name.");
        Unit u;
        u.kind = Unit::Kind::Call;
        if (!group.kids.empty() && group.kids[0].tok.isWord("DISTINCT")) {
            // e.g. SUM(DISTINCT x): translate the rest and keep the word
            std::vector<Node> rest(group.kids.begin() + 1, group.kids.end());
            Node g;
            g.group = true;
            g.kids = rest;
            std::vector<SeqResult> r = args(g);
            u.sql = nameTok.text + "(DISTINCT " + joinArgs(r) + ")";
            u.type = r.empty() ? EType::Unknown : r[0].type;
            return u;
        }
        u.sql = (name == "RIGHT" ? "tsql_right" : nameSql({&nameTok})) + "(" + joinArgs(a) + ")";
        if (textFns.count(name))
            u.type = EType::Text;
        else if (sameFns.count(name) && !a.empty())
            u.type = a[0].type;
        if (name == "AVG" && u.type == EType::Unknown) u.type = EType::Float;
        return u;
    }

    // `insertTarget`: the name after INTO, whose group is its column list.
    Unit call(const Token& nameTok, const Node& group, bool insertTarget = false) {
        const std::string name = upper(nameTok.value);
        if (name == "CAST" || name == "CONVERT") return castCall(name, group);
        static const std::set<std::string> refused = {
            "DATEADD",  "DATEDIFF",    "DATEPART", "DATENAME", "YEAR",          "MONTH",      "DAY",    "FORMAT",
            "STUFF",    "PATINDEX",    "NEWID",    "STR",      "SPACE",         "REPLICATE",  "CHOOSE", "IIF",
            "TRY_CAST", "TRY_CONVERT", "PARSE",    "EOMONTH",  "DATEFROMPARTS", "STRING_AGG", "CONCAT"};
        if (refused.count(name)) throw unsupported(name);
        std::vector<SeqResult> a = args(group);
        Unit u;
        u.kind = Unit::Kind::Call;
        if (!translatedCall(name, group, a, u)) u = sameNameCall(nameTok, name, group, a, insertTarget);
        u.st = callType(name, group, a);
        u.constant = false;
        return u;
    }

    // The server's type of a function's result ("SUM", "AVG", "ISNULL", "COALESCE", ...). Only
    // ISNULL with a replacement that cannot be NULL is NOT NULL; every other call may be NULL.
    static std::optional<Column> callType(const std::string& name, const Node& group, const std::vector<SeqResult>& a) {
        const std::optional<Column> first = a.empty() ? std::nullopt : a[0].st;
        std::optional<Column> t;
        const bool distinct = !group.kids.empty() && group.kids[0].tok.isWord("DISTINCT");
        if (name == "COUNT" || name == "LEN" || name == "CHARINDEX") {
            t = typeOf(ColType::Int);
        } else if (name == "COUNT_BIG") {
            t = typeOf(ColType::BigInt);
        } else if (name == "SCOPE_IDENTITY") {
            t = typeOf(ColType::Decimal);
            t->precision = 38;
        } else if (name == "GETDATE" || name == "CURRENT_TIMESTAMP") {
            t = typeOf(ColType::DateTime);
        } else if (distinct || !first) {
            t = std::nullopt;  // SUM(DISTINCT x) and the like, or no typed argument: typed by the values
        } else if (name == "SUM" || name == "AVG") {
            if (isWhole(first->type) && first->type != ColType::Bit)
                t = typeOf(first->type == ColType::BigInt ? ColType::BigInt : ColType::Int);
            else if (first->type == ColType::Decimal)
                t = decimalResult(38, name == "AVG" ? std::max(first->scale, 6) : first->scale);
            else if (first->type == ColType::Float)
                t = typeOf(ColType::Float);
        } else if (name == "MIN" || name == "MAX" || name == "ABS" || name == "UPPER" || name == "LOWER" ||
                   name == "LTRIM" || name == "RTRIM" || name == "REVERSE" || name == "SUBSTRING" || name == "LEFT" ||
                   name == "RIGHT" || name == "ROUND") {
            t = *first;
        } else if (name == "ISNULL" && a.size() == 2) {
            t = a[0].type == EType::Null && a[1].st ? *a[1].st : *first;
            t->nullable = first->nullable && (!a[1].st || a[1].st->nullable);
            return t;
        } else if (name == "COALESCE") {
            for (const SeqResult& r : a) {
                if (r.type == EType::Null) continue;  // a NULL argument does not type the result
                if (!r.st) return std::nullopt;
                if (precedence(r.st->type) > precedence(t ? t->type : ColType::VarChar) || !t) t = *r.st;
            }
        }
        if (t) t->nullable = true;
        return t;
    }

    // A literal or a @@ variable; the unit stays Other for any other token.
    void literalUnit(const Node& n, Unit& u) const {
        if (n.tok.kind == TokKind::String) {
            u.kind = Unit::Kind::Literal;
            u.sql = quoteString(n.tok.value);
            u.type = EType::Text;
            u.constant = true;
            u.st = typeOf(n.tok.national ? ColType::NVarChar : ColType::VarChar);
            u.st->maxChars = std::max(1, static_cast<int>(utf16Units(n.tok.value)));
            u.st->nullable = false;
            if (dateLiterals_.count(&n)) {
                u.sql = asDate(u);
                u.type = EType::Date;
                u.st = typeOf(ColType::DateTime);
                u.st->nullable = false;
            }
        } else if (n.tok.kind == TokKind::Number) {
            if (n.tok.text.size() > 1 && (n.tok.text[1] == 'x' || n.tok.text[1] == 'X'))
                throw unsupported("binary literal " + n.tok.text);
            u.kind = Unit::Kind::Literal;
            u.sql = n.tok.text;
            u.type = n.tok.text.find_first_of(".eE") == std::string::npos ? EType::Int : EType::Float;
            u.constant = true;
            u.st = numberType(n.tok.text);
        } else if (n.tok.isWord("NULL")) {
            u.kind = Unit::Kind::Literal;
            u.sql = "NULL";
            u.type = EType::Null;
            u.constant = true;
            u.st = typeOf(ColType::Int);  // the server types a bare NULL as int
        } else if (n.tok.kind == TokKind::Word && (n.tok.value[0] == '@')) {
            variableUnit(n.tok, u);
        }
    }

    // The server's global variables a client may read. Session values are read from the session
    // when the statement runs (functions registered per connection).
    static void variableUnit(const Token& t, Unit& u) {
        struct Global {
            const char* sql;
            ColType type;
            int chars;
            bool nullable;
        };
        static const std::map<std::string, Global> globals = {
            {"@@IDENTITY", {"last_insert_rowid()", ColType::Decimal, 0, true}},
            {"@@TRANCOUNT", {"tsql_trancount()", ColType::Int, 0, false}},
            {"@@MAX_PRECISION", {"38", ColType::TinyInt, 0, false}},
            {"@@SPID", {"tsql_session('SPID')", ColType::SmallInt, 0, false}},
            {"@@TEXTSIZE", {"tsql_session('TEXTSIZE')", ColType::Int, 0, false}},
            {"@@LOCK_TIMEOUT", {"tsql_session('LOCK_TIMEOUT')", ColType::Int, 0, false}},
            {"@@DATEFIRST", {"7", ColType::TinyInt, 0, false}},
            {"@@LANGID", {"0", ColType::SmallInt, 0, false}},
            {"@@LANGUAGE", {"'us_english'", ColType::NVarChar, 128, false}},
            {"@@SERVERNAME", {"'QTL-DEVSERVER'", ColType::NVarChar, 128, true}},
            {"@@SERVICENAME", {"'MSSQLSERVER'", ColType::NVarChar, 128, false}},
            {"@@MICROSOFTVERSION", {"tsql_session('MICROSOFTVERSION')", ColType::Int, 0, false}},
            {"@@VERSION", {"tsql_session('VERSION')", ColType::NVarChar, 300, false}}};
        const auto it = globals.find(upper(t.value));
        if (it == globals.end())
            throw TsqlError(sqlerr::UndeclaredVariable, 15, "Must declare the scalar variable \"" + t.value + "\".");
        u.kind = Unit::Kind::Call;
        u.sql = it->second.sql;
        u.type = it->second.type == ColType::NVarChar ? EType::Text : EType::Int;
        u.st = typeOf(it->second.type);
        u.st->nullable = it->second.nullable;
        if (it->second.chars > 0) u.st->maxChars = it->second.chars;
        if (it->second.type == ColType::Decimal) u.st->precision = 38;
    }

    // True when seq[i] starts a name or a call: reserved words only where they name a function.
    static bool startsName(const std::vector<Node>& seq, std::size_t i) {
        const Token& t = seq[i].tok;
        if (!t.isName()) return false;
        if (!(t.kind == TokKind::Word && isReservedWord(t.text))) return true;
        return (t.isWord("LEFT") || t.isWord("RIGHT") || t.isWord("CONVERT") || t.isWord("CURRENT_TIMESTAMP")) &&
               i + 1 < seq.size() && seq[i + 1].group;
    }

    // The catalog's table-valued function `nameTok`(group), or "" when it is none.
    std::string tableFunctionSql(const Token& nameTok, const Node& g) {
        if (isReservedWord(nameTok.text) || iequals(nameTok.value, "CAST")) return {};
        std::vector<std::string> sqlArgs;
        for (const SeqResult& r : args(g)) sqlArgs.push_back(r.sql);
        try {
            return cat_.tableFunction(nameTok.value, sqlArgs);
        } catch (const std::exception& e) {
            const std::string text = e.what();
            const int number = text.find("insufficient") != std::string::npos ? sqlerr::InsufficientArguments
                               : text.find("too many") != std::string::npos   ? sqlerr::TooManyArguments
                                                                              : sqlerr::ConversionError;
            throw TsqlError(number, 16, text);
        }
    }

    // A dotted name or a call starting at seq[i]; `i` ends on its last node.
    void nameUnit(const std::vector<Node>& seq, std::size_t& i, Unit& u) {
        const Node& n = seq[i];
        std::vector<const Token*> parts{&n.tok};
        while (i + 2 < seq.size() && !seq[i + 1].group && seq[i + 1].tok.isPunct(".") && !seq[i + 2].group) {
            parts.push_back(&seq[i + 2].tok);
            i += 2;
        }
        if (parts.size() == 1 && n.tok.kind == TokKind::Word && i + 1 < seq.size() && seq[i + 1].group) {
            const Node& g = seq[i + 1];
            ++i;
            const std::string fn = tableFunctionSql(n.tok, g);
            if (!fn.empty()) {
                u.kind = Unit::Kind::Call;
                u.sql = fn;
                u.tvf = true;
                u.tvfName = n.tok.value;
            } else {
                u = call(n.tok, g, i >= 2 && !seq[i - 2].group && seq[i - 2].tok.isWord("INTO"));
                u.node = &n;
            }
            return;
        }
        u.kind = Unit::Kind::Name;
        u.parts = parts;
        u.sql = nameSql(parts);
        u.type = columnType(parts);
        if (const auto decl = columnDecl(parts)) u.st = columnOfDecl(*decl);
    }

    std::vector<Unit> units(const std::vector<Node>& seq) {
        std::vector<Unit> out;
        for (std::size_t i = 0; i < seq.size(); ++i) {
            const Node& n = seq[i];
            Unit u;
            u.node = &n;
            if (n.group) {
                u.kind = Unit::Kind::Group;
                SeqResult r = emitSeq(n.kids, nullptr);
                u.sql = "(" + r.sql + ")";
                u.type = r.type;
                u.st = r.st;
                u.constant = r.constant;
            } else if (n.tok.kind == TokKind::String || n.tok.kind == TokKind::Number || n.tok.isWord("NULL") ||
                       (n.tok.kind == TokKind::Word && n.tok.value[0] == '@')) {
                literalUnit(n, u);
            } else if (startsName(seq, i)) {
                nameUnit(seq, i, u);
            }
            out.push_back(std::move(u));
        }
        return out;
    }

    // The operand chain starting at unit i: operands joined by arithmetic operators. Returns its
    // end and whether it holds a binary '+'.
    static std::size_t chainEnd(const std::vector<Unit>& us, std::size_t i, bool& hasPlus) {
        hasPlus = false;
        std::size_t j = i + 1;
        while (j + 1 < us.size() &&
               (us[j].isOp("+") || us[j].isOp("-") || us[j].isOp("*") || us[j].isOp("/") || us[j].isOp("%"))) {
            std::size_t k = j + 1;
            while (k < us.size() && (us[k].isOp("-") || us[k].isOp("+"))) ++k;  // unary signs
            if (k >= us.size() || !us[k].operand()) break;
            if (us[j].isOp("+")) hasPlus = true;
            j = k + 1;
        }
        return j;
    }

    struct Term {
        std::string sql;
        EType type;
        std::optional<Column> st;
        bool constant;
    };

    // The server's type of `a op b`; an expression over anything but constants may be NULL.
    static void combine(Term& acc, const std::string& op, const Term& rhs) {
        acc.st = acc.st && rhs.st ? arithmeticType(op, *acc.st, *rhs.st) : std::nullopt;
        acc.constant = acc.constant && rhs.constant;
        if (acc.st) acc.st->nullable = !acc.constant || acc.type == EType::Null || rhs.type == EType::Null;
    }

    // The type of the operand chain us[i, end) (operands joined by arithmetic operators).
    static std::optional<Column> chainType(const std::vector<Unit>& us, std::size_t i, std::size_t end,
                                           bool& constant) {
        std::vector<Term> terms;
        std::vector<std::string> ops;
        chainTerms(us, i, end, terms, ops);
        Term acc = terms[0];
        for (std::size_t t = 1; t < terms.size(); ++t) combine(acc, ops[t - 1], terms[t]);
        constant = acc.constant;
        return acc.st;
    }

    // The chain's terms between its '+' and '-' (products and quotients stay inside one term).
    static void chainTerms(const std::vector<Unit>& us, std::size_t i, std::size_t end, std::vector<Term>& terms,
                           std::vector<std::string>& ops) {
        Term cur{us[i].sql, us[i].type, us[i].st, us[i].constant};
        for (std::size_t j = i + 1; j < end;) {
            const std::string op = us[j].node->tok.text;
            std::string signs;
            std::size_t k = j + 1;
            while (us[k].isOp("-") || us[k].isOp("+")) signs += us[k++].node->tok.text;
            const Unit& rhs = us[k];
            if (op == "+" || op == "-") {
                terms.push_back(cur);
                ops.push_back(op);
                cur = Term{signs + rhs.sql, signs.empty() ? rhs.type : EType::Int, rhs.st, rhs.constant};
            } else {
                cur.sql.append(" ").append(op).append(" ").append(signs).append(rhs.sql);
                combine(cur, op, Term{rhs.sql, rhs.type, rhs.st, rhs.constant});
                cur.type = (cur.type == EType::Float || rhs.type == EType::Float) ? EType::Float : EType::Int;
            }
            j = k + 1;
        }
        terms.push_back(cur);
        assert(ops.size() + 1 == terms.size());
    }

    // T-SQL '+' joins texts and adds numbers; which one is decided by the operand types, left to
    // right. When a type is not known here, tsql_add decides per row from the stored values.
    static std::string foldChain(const std::vector<Unit>& us, std::size_t i, std::size_t end, EType& type) {
        std::vector<Term> terms;
        std::vector<std::string> ops;
        chainTerms(us, i, end, terms, ops);
        // Each step wraps what came before: "(" + acc + " || " + r + ")". Building that string
        // anew per term made a long chain quadratic in time and memory, so the wrappers' heads are
        // collected (to be written innermost last) and their tails appended as they come.
        std::vector<const char*> heads;
        std::string tails;
        EType accType = terms[0].type;
        bool joined = false;
        for (std::size_t t = 1; t < terms.size(); ++t) {
            const Term& r = terms[t];
            const std::string& op = ops[t - 1];
            const bool textish = (accType == EType::Text || accType == EType::Null) &&
                                 (r.type == EType::Text || r.type == EType::Null) &&
                                 !(accType == EType::Null && r.type == EType::Null);
            if (op == "+" && textish) {
                heads.push_back("(");
                tails += " || " + r.sql + ")";
                accType = EType::Text;
                joined = true;
            } else if ((isNumeric(accType) || accType == EType::Null) && (isNumeric(r.type) || r.type == EType::Null)) {
                heads.push_back("(");
                tails += " " + op + " " + r.sql + ")";
                accType = numericResult(accType, r.type);
            } else {
                heads.push_back(op == "+" ? "tsql_add(" : "tsql_sub(");
                tails += ", " + r.sql + ")";
                accType = mixedResult(accType, r.type);
            }
        }
        std::string acc;
        for (auto h = heads.rbegin(); h != heads.rend(); ++h) acc += *h;
        acc += terms[0].sql;
        acc += tails;
        if (joined && accType == EType::Text) acc += std::string(" COLLATE ") + kTextCollation;
        type = accType;
        return acc;
    }

    // The type of number arithmetic on two numbers or NULLs.
    static EType numericResult(EType a, EType b) {
        if (a == EType::Float || b == EType::Float) return EType::Float;
        if (a == EType::Null && b == EType::Null) return EType::Null;
        return EType::Int;
    }

    // The type of tsql_add/tsql_sub: a number when either side is one, else not known here.
    static EType mixedResult(EType a, EType b) {
        if (!isNumeric(a) && !isNumeric(b)) return EType::Unknown;
        return (a == EType::Float || b == EType::Float) ? EType::Float : EType::Int;
    }

    // Writes one level of the tree (a statement or a parenthesised group): its units in order,
    // '+' chains folded, TOP moved to a LIMIT at the end, and the select list's column names
    // collected.
    class SeqEmitter {
    public:
        SeqEmitter(Translator& tr, const std::vector<Node>& seq, std::vector<std::optional<std::string>>* names,
                   std::vector<ResultColumnInfo>* types = nullptr)
            : tr_(tr), us_(tr.units(seq)), names_(names), types_(types), namesDone_(names == nullptr) {
            readComparedDates(us_);
            spans_.resize(us_.size());
        }

        SeqResult run() {
            std::size_t u = 0;
            while (u < us_.size()) {
                if ((++tr_.steps_ & 1023) == 0 && tr_.cat_.cancelled()) throw TranslationCancelled();
                const std::size_t before = u;
                if (us_[u].kind == Unit::Kind::Other) {
                    emitOther(u);
                } else if (std::optional<SeqResult> whole = emitOperand(u)) {
                    return *whole;
                }
                assert(u > before && u <= us_.size());  // every step consumes a unit
                (void)before;
            }
            return finish();
        }

    private:
        void startItem(std::size_t& u) {
            itemFirst_ = u;
            eqAlias_.clear();
            // "SELECT name = expr" is the server's other way to write an alias.
            if (u + 2 < us_.size() && us_[u].singleName() && us_[u + 1].isOp("=")) {
                eqAlias_ = us_[u].parts[0]->value;
                u += 2;
                itemFirst_ = u;
            }
        }

        void endItem(std::size_t end) {
            std::optional<std::string> name;
            if (!eqAlias_.empty()) {
                pieces_.push_back("AS " + quoteName(eqAlias_));
                name = eqAlias_;
            } else if (end >= itemFirst_ + 2 && us_[end - 1].singleName() &&
                       (us_[end - 2].isWord("AS") || us_[end - 2].operand())) {
                name = us_[end - 1].parts[0]->value;
            } else if (end == itemFirst_ + 1 && us_[itemFirst_].kind == Unit::Kind::Name) {
                if (us_[itemFirst_].parts.back()->isPunct("*"))
                    namesKnown_ = false;
                else
                    name = us_[itemFirst_].parts.back()->value;
            } else if (end == itemFirst_ + 1 && us_[itemFirst_].isOp("*")) {
                namesKnown_ = false;
            } else {
                name = std::string();
            }
            if (!namesDone_) {
                collected_.push_back(name);
                collectedTypes_.push_back(itemType(end));
            }
        }

        // What is known of the type of the select-list item us_[itemFirst_, end).
        ResultColumnInfo itemType(std::size_t end) const {
            ResultColumnInfo info;
            std::size_t exprEnd = end;
            if (eqAlias_.empty() && end >= itemFirst_ + 2 && us_[end - 1].singleName()) {
                if (us_[end - 2].isWord("AS"))
                    exprEnd = end - 2;
                else if (us_[end - 2].operand())
                    exprEnd = end - 1;
            }
            if (exprEnd == itemFirst_ + 1 && us_[itemFirst_].kind == Unit::Kind::Name) {
                info.outerSide = tr_.outerSide(us_[itemFirst_]);  // the column's declaration decides
                return info;
            }
            // A sign before an operand ("-1 AS n") leaves its type as it is.
            const std::size_t first =
                exprEnd > itemFirst_ + 1 && (us_[itemFirst_].isOp("-") || us_[itemFirst_].isOp("+")) ? itemFirst_ + 1
                                                                                                     : itemFirst_;
            if (first < spans_.size() && spans_[first] && spans_[first]->end == exprEnd) info.type = spans_[first]->st;
            return info;
        }

        // TOP n / TOP (n) after SELECT [DISTINCT|ALL]; it becomes the level's LIMIT.
        void readTop(std::size_t& u) {
            ++u;
            std::string n;
            if (u < us_.size() && us_[u].kind == Unit::Kind::Group && us_[u].node->kids.size() == 1 &&
                us_[u].node->kids[0].tok.kind == TokKind::Number)
                n = us_[u].node->kids[0].tok.text;
            else if (u < us_.size() && us_[u].kind == Unit::Kind::Literal && us_[u].node->tok.kind == TokKind::Number)
                n = us_[u].node->tok.text;
            else
                throw syntaxErrorNear(u < us_.size() ? us_[u].node->tok.text : std::string("TOP"));
            if (n.find_first_not_of("0123456789") != std::string::npos) throw unsupported("TOP " + n);
            ++u;
            if (u < us_.size() && (us_[u].isWord("PERCENT") || us_[u].isWord("WITH")))
                throw unsupported("TOP ... " + upper(us_[u].node->tok.text));
            if (limit_) throw unsupported("TOP in more than one SELECT of a UNION");
            limit_ = n;
        }

        void emitSelect(std::size_t& u) {
            ++selects_;
            pieces_.push_back(us_[u].node->tok.text);
            ++u;
            if (u < us_.size() && (us_[u].isWord("DISTINCT") || us_[u].isWord("ALL")))
                pieces_.push_back(us_[u++].node->tok.text);
            if (u < us_.size() && us_[u].isWord("TOP")) readTop(u);
            inList_ = true;
            startItem(u);
        }

        // WITH (hints) and COLLATE x: true when taken (and `u` moved past them).
        bool emitHintOrCollation(std::size_t& u) {
            const Token& t = us_[u].node->tok;
            if (t.isWord("WITH") && u + 1 < us_.size() && us_[u + 1].kind == Unit::Kind::Group) {
                u += 2;  // table hints such as WITH (NOLOCK) change nothing here
                return true;
            }
            if (t.isWord("WITH")) throw unsupported("WITH");
            if (t.isWord("COLLATE") && u + 1 < us_.size() && us_[u + 1].singleName()) {
                const std::string coll = upper(us_[u + 1].parts[0]->value);
                pieces_.push_back(std::string("COLLATE ") +
                                  (coll.find("_CS") != std::string::npos || coll.find("BIN") != std::string::npos
                                       ? "BINARY"
                                       : kTextCollation));
                u += 2;
                return true;
            }
            return false;
        }

        // An operator or punctuation as SQLite writes it.
        void emitPunct(std::size_t u) {
            const Token& t = us_[u].node->tok;
            if (t.isPunct("+") && u > 0 && us_[u - 1].isWord("END")) throw unsupported("CASE ... END +");
            if (t.isPunct("+=") || t.isPunct("-=") || t.isPunct("*=") || t.isPunct("/=") || t.isPunct("{") ||
                t.isPunct("}") || t.isPunct("::"))
                throw syntaxErrorNear(t.text);
            if (t.isPunct("!<"))
                pieces_.push_back(">=");
            else if (t.isPunct("!>"))
                pieces_.push_back("<=");
            else
                pieces_.push_back(t.text);
        }

        // A keyword, operator or punctuation.
        void emitOther(std::size_t& u) {
            const Token& t = us_[u].node->tok;
            if (t.isWord("SELECT")) {
                emitSelect(u);
                return;
            }
            static const std::set<std::string> listEnds = {"FROM",  "INTO",   "WHERE",     "GROUP",  "ORDER", "HAVING",
                                                           "UNION", "EXCEPT", "INTERSECT", "OPTION", "FOR"};
            if (inList_ && t.kind == TokKind::Word && listEnds.count(upper(t.text))) {
                endItem(u);
                inList_ = false;
                namesDone_ = true;
            }
            if (t.isWord("UNION") || t.isWord("EXCEPT") || t.isWord("INTERSECT")) setOp_ = true;
            if (inList_ && t.isPunct(",")) {
                endItem(u);
                pieces_.push_back(",");
                ++u;
                startItem(u);
                return;
            }
            if (t.isWord("TOP")) throw unsupported("TOP");
            if (emitHintOrCollation(u)) return;
            emitPunct(u);
            ++u;
        }

        // An operand, or a chain of them with a '+'; the result when that chain is the whole level.
        std::optional<SeqResult> emitOperand(std::size_t& u) {
            const Unit& x = us_[u];
            bool hasPlus = false;
            const std::size_t end = chainEnd(us_, u, hasPlus);
            bool constant = x.constant;
            const std::optional<Column> st = end > u + 1 ? chainType(us_, u, end, constant) : x.st;
            spans_[u] = Span{end, st, constant};
            if (hasPlus) {
                EType type;
                pieces_.push_back(foldChain(us_, u, end, type));
                if (u == 0 && end == us_.size()) return SeqResult{joinPieces(pieces_), type, st, constant};
                u = end;
                return std::nullopt;
            }
            pieces_.push_back(x.sql);
            if (x.tvf) {
                const bool aliased = u + 1 < us_.size() && (us_[u + 1].isWord("AS") || us_[u + 1].singleName());
                if (!aliased) pieces_.push_back("AS " + quoteName(x.tvfName));
            }
            ++u;
            return std::nullopt;
        }

        SeqResult finish() {
            if (inList_) endItem(us_.size());
            if (limit_) {
                if (setOp_) throw unsupported("TOP in a UNION");
                pieces_.push_back("LIMIT " + *limit_);
            }
            if (names_ && namesKnown_ && selects_ > 0) {
                *names_ = collected_;
                // A UNION's columns take the types of all its SELECTs: left to the values.
                if (types_ && !setOp_) *types_ = collectedTypes_;
            }
            SeqResult r;
            r.sql = joinPieces(pieces_);
            if (us_.size() == 1 && us_[0].operand()) {
                r.type = us_[0].type;
                r.st = us_[0].st;
                r.constant = us_[0].constant;
            }
            return r;
        }

        Translator& tr_;
        std::vector<Unit> us_;
        std::vector<std::optional<std::string>>* names_;
        std::vector<ResultColumnInfo>* types_;
        std::vector<std::string> pieces_;
        std::optional<std::string> limit_;
        bool setOp_ = false;
        bool inList_ = false;
        bool namesDone_;
        bool namesKnown_ = true;
        std::vector<std::optional<std::string>> collected_;
        std::vector<ResultColumnInfo> collectedTypes_;
        struct Span {
            std::size_t end;  // the operand chain's end
            std::optional<Column> st;
            bool constant;
        };
        std::vector<std::optional<Span>> spans_;  // per unit where an operand chain starts
        std::size_t itemFirst_ = 0;
        std::string eqAlias_;
        std::size_t selects_ = 0;
    };

    SeqResult emitSeq(const std::vector<Node>& seq, std::vector<std::optional<std::string>>* names) {
        return SeqEmitter(*this, seq, names).run();
    }
};

// A number as written: whole when it fits 64 bits and has no point or exponent, else a float.
Value numberValue(const std::string& text, bool allowOverflowToFloat) {
    const bool whole = text.find_first_of(".eE") == std::string::npos;
    if (!allowOverflowToFloat) {
        if (whole) return static_cast<std::int64_t>(std::strtoll(text.c_str(), nullptr, 10));
        return std::strtod(text.c_str(), nullptr);
    }
    // A whole number that does not fit 64 bits is taken as a float, as one with a point is.
    errno = 0;
    const long long n = whole ? std::strtoll(text.c_str(), nullptr, 10) : 0;
    if (whole && errno != ERANGE) return static_cast<std::int64_t>(n);
    return std::strtod(text.c_str(), nullptr);
}

// One argument's value at toks[i] (a constant); returns the index after it.
std::size_t parseExecValue(const std::vector<Token>& toks, std::size_t i, qtl::Argument& arg) {
    const Token& v = toks[i];
    if (v.isPunct(",")) throw syntaxErrorNear(",");
    if (v.isPunct("-") || v.isPunct("+")) {
        if (i + 1 >= toks.size() || toks[i + 1].kind != TokKind::Number) throw syntaxErrorNear(v.text);
        arg.value = numberValue(v.text + toks[i + 1].text, false);
        return i + 2;
    }
    if (v.kind == TokKind::Number) {
        if (v.text.size() > 1 && (v.text[1] == 'x' || v.text[1] == 'X')) throw unsupported("binary literal");
        arg.value = numberValue(v.text, true);
        return i + 1;
    }
    if (v.kind == TokKind::String) {
        arg.value = v.value;
        return i + 1;
    }
    if (v.isWord("NULL")) {
        arg.value = std::monostate{};
        return i + 1;
    }
    if (v.isWord("DEFAULT")) throw unsupported("DEFAULT");
    if (v.kind == TokKind::Word && v.value[0] == '@')
        throw TsqlError(sqlerr::UndeclaredVariable, 15, "Must declare the scalar variable \"" + v.value + "\".");
    if (v.isName() && !(v.kind == TokKind::Word && isReservedWord(v.text))) {
        // The server takes a bare word as a text argument.
        arg.value = v.value;
        return i + 1;
    }
    throw syntaxErrorNear(v.text);
}

// Parses the arguments of an EXEC: constants only, as the server demands.
void parseExecArgs(const std::vector<Token>& toks, std::size_t i, PlannedStatement& st) {
    bool named = false;
    std::size_t position = 0;
    while (i < toks.size()) {
        ++position;
        qtl::Argument arg;
        if (toks[i].kind == TokKind::Word && toks[i].value[0] == '@' && i + 1 < toks.size() &&
            toks[i + 1].isPunct("=")) {
            arg.name = toks[i].value;
            named = true;
            i += 2;
        } else if (named) {
            throw TsqlError(sqlerr::NamedParameterFirst, 15,
                            "Must pass parameter number " + std::to_string(position) +
                                " and subsequent parameters as '@name = value'. After the form '@name = value' "
                                "has been used, all subsequent parameters must be passed in the form '@name = value'.");
        }
        if (i >= toks.size()) throw syntaxErrorNear(toks[i - 1].text);
        i = parseExecValue(toks, i, arg);
        if (i < toks.size() && (toks[i].isWord("OUTPUT") || toks[i].isWord("OUT"))) throw unsupported("OUTPUT");
        st.args.push_back(std::move(arg));
        if (i < toks.size()) {
            if (!toks[i].isPunct(",")) throw syntaxErrorNear(toks[i].text);
            ++i;
            if (i >= toks.size()) throw syntaxErrorNear(",");
        }
    }
}

void planExec(const std::vector<Token>& toks, std::size_t i, PlannedStatement& st) {
    st.kind = StmtKind::Exec;
    if (i >= toks.size()) throw syntaxErrorNear(toks.back().text);
    if (toks[i].kind == TokKind::Word && toks[i].value[0] == '@') throw unsupported("EXEC @variable");
    if (toks[i].isPunct("(")) throw unsupported("EXEC (string)");
    std::vector<Token> rest(toks.begin() + static_cast<std::ptrdiff_t>(i), toks.end());
    std::vector<Token> norm = dropPrefixes(rest);
    std::size_t k = 0;
    if (norm.empty() || !norm[0].isName()) throw syntaxErrorNear(norm.empty() ? toks.back().text : norm[0].text);
    std::string name = norm[0].value;
    ++k;
    while (k + 1 < norm.size() && norm[k].isPunct(".") && norm[k + 1].isName()) {
        name = norm[k + 1].value;  // sys.x and the like: the routine's own name decides
        k += 2;
    }
    st.routine = name;
    parseExecArgs(norm, k, st);
}

// The value of a one-value SET option at toks[k], which must end the statement.
std::string setValueAt(const std::vector<Token>& toks, std::size_t k) {
    if (k >= toks.size()) throw syntaxErrorNear(toks.back().text);
    if (k + 1 < toks.size()) throw syntaxErrorNear(toks[k + 1].text);
    return toks[k].kind == TokKind::String ? toks[k].value : toks[k].text;
}

// The options that take one value (DATEFORMAT, TEXTSIZE, ROWCOUNT, ...); false for others.
bool planValuedSet(const std::string& opt, const std::vector<Token>& toks, PlannedStatement& st) {
    SetOption o;
    if (opt == "DATEFORMAT") {
        std::string v = setValueAt(toks, 2);
        for (char& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        static const std::set<std::string> formats = {"mdy", "dmy", "ymd", "ydm", "myd", "dym"};
        if (!formats.count(v))
            throw TsqlError(sqlerr::InvalidDateFormat, 16, "SET DATEFORMAT date order '" + v + "' is invalid.");
        o.kind = SetOption::Kind::DateFormat;
        o.value = v;
        st.options.push_back(o);
        return true;
    }
    if (opt == "TEXTSIZE" || opt == "LOCK_TIMEOUT") {
        std::size_t k = 2;
        const bool negative = k < toks.size() && toks[k].isPunct("-");
        if (negative) ++k;
        const std::string v = setValueAt(toks, k);
        if (toks[k].kind != TokKind::Number || v.find_first_not_of("0123456789") != std::string::npos || v.size() > 10)
            throw syntaxErrorNear(v);
        const long long n = (negative ? -1 : 1) * std::stoll(v);
        if (n < INT32_MIN || n > INT32_MAX) throw syntaxErrorNear(v);
        o.kind = opt == "TEXTSIZE" ? SetOption::Kind::TextSize : SetOption::Kind::LockTimeout;
        o.number = n;
        st.options.push_back(o);
        return true;
    }
    static const std::set<std::string> valued = {"LANGUAGE", "DATEFIRST", "DEADLOCK_PRIORITY",
                                                 "QUERY_GOVERNOR_COST_LIMIT", "CONTEXT_INFO"};
    if (valued.count(opt)) {
        std::size_t k = 2;
        if (k < toks.size() && toks[k].isPunct("-")) ++k;  // LOCK_TIMEOUT -1
        setValueAt(toks, k);
        st.options.push_back(o);
        return true;
    }
    if (opt == "ROWCOUNT") {
        if (setValueAt(toks, 2) != "0") throw unsupported("SET ROWCOUNT");
        st.options.push_back(o);
        return true;
    }
    if (opt == "TRANSACTION") {
        // SET TRANSACTION ISOLATION LEVEL ...: one writer at a time here, so every level holds.
        if (toks.size() < 5 || !toks[2].isWord("ISOLATION") || !toks[3].isWord("LEVEL"))
            throw syntaxErrorNear(toks.back().text);
        st.options.push_back(o);
        return true;
    }
    return false;
}

// The names of "SET a, b, STATISTICS IO ON": returns the index of the ON or OFF.
std::size_t readSetNames(const std::vector<Token>& toks, std::vector<std::string>& names) {
    std::size_t k = 1;
    for (;;) {
        if (k >= toks.size() || !toks[k].isName()) throw syntaxErrorNear(toks[k - 1].text);
        std::string name = upper(toks[k].value);
        ++k;
        if (name == "STATISTICS") {
            while (k < toks.size() && toks[k].isName() && !toks[k].isWord("ON") && !toks[k].isWord("OFF")) ++k;
        }
        names.push_back(name);
        if (k < toks.size() && toks[k].isPunct(",")) {
            ++k;
            continue;
        }
        break;
    }
    if (k + 1 != toks.size() || !(toks[k].isWord("ON") || toks[k].isWord("OFF")))
        throw syntaxErrorNear(k < toks.size() ? toks[k].text : toks.back().text);
    return k;
}

// One ON/OFF option: the ones this server acts on, the ones it may ignore, refusals.
SetOption onOffOption(const std::string& name, bool on) {
    static const std::set<std::string> ignored = {"ANSI_NULLS",
                                                  "ANSI_PADDING",
                                                  "ANSI_WARNINGS",
                                                  "ANSI_NULL_DFLT_ON",
                                                  "ANSI_NULL_DFLT_OFF",
                                                  "ARITHABORT",
                                                  "ARITHIGNORE",
                                                  "CONCAT_NULL_YIELDS_NULL",
                                                  "QUOTED_IDENTIFIER",
                                                  "NUMERIC_ROUNDABORT",
                                                  "CURSOR_CLOSE_ON_COMMIT",
                                                  "FMTONLY",
                                                  "NOEXEC",
                                                  "PARSEONLY",
                                                  "SHOWPLAN_ALL",
                                                  "SHOWPLAN_TEXT",
                                                  "SHOWPLAN_XML",
                                                  "STATISTICS",
                                                  "FORCEPLAN",
                                                  "REMOTE_PROC_TRANSACTIONS",
                                                  "NO_BROWSETABLE",
                                                  "ANSI_DEFAULTS"};
    // Settings whose non-default value would change results: refused instead of ignored.
    static const std::map<std::string, bool> refusedValue = {
        {"ANSI_NULLS", false},   {"CONCAT_NULL_YIELDS_NULL", false},
        {"FMTONLY", true},       {"NOEXEC", true},
        {"PARSEONLY", true},     {"SHOWPLAN_ALL", true},
        {"SHOWPLAN_TEXT", true}, {"SHOWPLAN_XML", true},
        {"ANSI_DEFAULTS", true}};
    SetOption so;
    so.on = on;
    if (name == "XACT_ABORT") {
        so.kind = SetOption::Kind::XactAbort;
    } else if (name == "NOCOUNT") {
        so.kind = SetOption::Kind::NoCount;
    } else if (name == "IMPLICIT_TRANSACTIONS") {
        so.kind = SetOption::Kind::ImplicitTransactions;
    } else if (ignored.count(name)) {
        auto r = refusedValue.find(name);
        if (r != refusedValue.end() && r->second == on) throw unsupported("SET " + name + (on ? " ON" : " OFF"));
    } else {
        throw TsqlError(sqlerr::NotRecognized, 15, "'" + name + "' is not a recognized SET option.");
    }
    return so;
}

void planSet(const std::vector<Token>& toks, PlannedStatement& st) {
    st.kind = StmtKind::Set;
    if (toks.size() < 2) throw syntaxErrorNear("SET");
    const Token& first = toks[1];
    if (first.kind == TokKind::Word && first.value[0] == '@')
        throw TsqlError(sqlerr::UndeclaredVariable, 15, "Must declare the scalar variable \"" + first.value + "\".");
    if (planValuedSet(upper(first.value), toks, st)) return;
    if (iequals(first.value, "IDENTITY_INSERT")) {
        // SET IDENTITY_INSERT [[db.]schema.]table ON|OFF
        const std::vector<Token> t = dropPrefixes(toks);
        if (t.size() != 4 || !t[2].isName() || !(t[3].isWord("ON") || t[3].isWord("OFF")))
            throw syntaxErrorNear(toks.back().text);
        SetOption o;
        o.kind = SetOption::Kind::IdentityInsert;
        o.value = t[2].value;
        o.on = t[3].isWord("ON");
        st.options.push_back(o);
        return;
    }
    // ON/OFF options, possibly several: SET ANSI_NULLS, QUOTED_IDENTIFIER ON
    std::vector<std::string> names;
    const std::size_t k = readSetNames(toks, names);
    const bool on = toks[k].isWord("ON");
    for (const std::string& name : names) st.options.push_back(onOffOption(name, on));
}

// The transaction words: BEGIN TRAN[SACTION] [name], COMMIT/ROLLBACK [TRAN[SACTION]|WORK] [name].
void planTran(const std::vector<Token>& toks, PlannedStatement& st) {
    const std::string w = upper(toks[0].text);
    std::size_t k = 1;
    if (w == "BEGIN") {
        if (toks.size() < 2 || !(toks[1].isWord("TRAN") || toks[1].isWord("TRANSACTION")))
            throw unsupported(toks.size() >= 2 ? "BEGIN " + upper(toks[1].text) : std::string("BEGIN"));
        st.kind = StmtKind::BeginTran;
        k = 2;
    } else {
        st.kind = w == "COMMIT" ? StmtKind::CommitTran : StmtKind::RollbackTran;
        if (k < toks.size() && (toks[k].isWord("TRAN") || toks[k].isWord("TRANSACTION") || toks[k].isWord("WORK"))) ++k;
    }
    if (k < toks.size() && toks[k].isName() && !isReservedWord(toks[k].text)) ++k;  // a transaction name
    if (k < toks.size()) {
        if (toks[k].isWord("WITH")) throw unsupported("WITH MARK");
        throw syntaxErrorNear(toks[k].text);
    }
}

// INSERT without INTO and DELETE without FROM are the server's short forms.
std::vector<Token> completeShortForms(std::vector<Token> toks, const char* keyword, const char* missing) {
    if (toks.size() >= 2 && toks[0].isWord(keyword) && !toks[1].isWord(missing)) {
        Token t;
        t.kind = TokKind::Word;
        t.text = t.value = missing;
        toks.insert(toks.begin() + 1, t);
    }
    return toks;
}

}  // namespace

std::string firstWords(const std::string& statementText, std::size_t words) {
    std::string out;
    std::size_t count = 0;
    bool inWord = false;
    for (char c : statementText) {
        const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (blank) {
            if (inWord && ++count == words) break;
            inWord = false;
            continue;
        }
        if (!inWord && !out.empty()) out += ' ';
        inWord = true;
        out += c;
        if (out.size() > 60) break;
    }
    return out;
}

namespace {

PlannedStatement planStatement(const std::vector<Token>& raw, bool bareRoutine, const std::string& batch,
                               const Catalog& catalog, int depth = 0);

Token keyword(const char* word, std::size_t at) {
    Token t;
    t.kind = TokKind::Word;
    t.text = t.value = word;
    t.begin = t.end = at;
    return t;
}

Token number(const char* digits, std::size_t at) {
    Token t;
    t.kind = TokKind::Number;
    t.text = t.value = digits;
    t.begin = t.end = at;
    return t;
}

// IF <condition> <statement>: the condition becomes a SELECT that gives 1 when it holds, so it is
// evaluated with the session's data when the IF is reached. BEGIN ... END blocks and ELSE are not
// supported and fail the batch before anything runs.
void planIf(const std::vector<Token>& toks, const std::string& batch, const Catalog& catalog, PlannedStatement& st,
            int nesting) {
    // IF nested in IF plans, compiles and runs recursively: a hostile batch must not exhaust the stack.
    if (nesting >= kMaxNesting)
        throw TsqlError(sqlerr::NestedTooDeeply, 15,
                        "Some part of your SQL statement is nested too deeply. Rewrite the query or break "
                        "it up into smaller queries.");
    const std::size_t b = ifBodyStart(toks);
    if (b == 0) throw syntaxErrorNear(toks.back().text);
    if (b == 1) throw syntaxErrorNear(toks[1].text);
    int depth = 0, caseDepth = 0;
    for (std::size_t i = b; i < toks.size(); ++i) {
        if (toks[i].isPunct("(")) ++depth;
        if (toks[i].isPunct(")")) --depth;
        if (depth != 0) continue;
        if (toks[i].isWord("CASE")) ++caseDepth;
        if (toks[i].isWord("END") && caseDepth > 0) --caseDepth;
        if (caseDepth == 0 && toks[i].isWord("ELSE")) throw unsupported("ELSE");
    }
    const std::size_t at = toks[1].begin;
    std::vector<Token> cond = {keyword("SELECT", at), keyword("CASE", at), keyword("WHEN", at)};
    cond.insert(cond.end(), toks.begin() + 1, toks.begin() + static_cast<std::ptrdiff_t>(b));
    for (const Token& t :
         {keyword("THEN", at), number("1", at), keyword("ELSE", at), number("0", at), keyword("END", at)})
        cond.push_back(t);
    st.kind = StmtKind::If;
    Translator tr(catalog);
    st.sql = tr.statement(cond, nullptr);
    const std::vector<Token> body(toks.begin() + static_cast<std::ptrdiff_t>(b), toks.end());
    st.body.push_back(planStatement(body, false, batch, catalog, nesting + 1));
}

PlannedStatement planStatement(const std::vector<Token>& raw, bool bareRoutine, const std::string& batch,
                               const Catalog& catalog, int depth) {
    PlannedStatement st;
    st.text = batch.substr(raw.front().begin, raw.back().end - raw.front().begin);
    const Token& first = raw.front();
    const std::string w = first.kind == TokKind::Word ? upper(first.text) : std::string();
    if (bareRoutine) {
        planExec(raw, 0, st);
    } else if (w == "EXEC" || w == "EXECUTE") {
        planExec(raw, 1, st);
    } else if (w == "SET") {
        planSet(raw, st);
    } else if (w == "BEGIN" || w == "COMMIT" || w == "ROLLBACK") {
        planTran(raw, st);
    } else if (w == "IF") {
        planIf(raw, batch, catalog, st, depth);
    } else if (w == "SELECT" || w == "INSERT" || w == "UPDATE" || w == "DELETE") {
        st.kind = w == "SELECT"   ? StmtKind::Select
                  : w == "INSERT" ? StmtKind::Insert
                  : w == "UPDATE" ? StmtKind::Update
                                  : StmtKind::Delete;
        std::vector<Token> toks = completeShortForms(raw, "INSERT", "INTO");
        toks = completeShortForms(toks, "DELETE", "FROM");
        if (st.kind == StmtKind::Update || st.kind == StmtKind::Delete) {
            if (toks.size() >= 2 && toks[1].isWord("TOP")) throw unsupported(w + " TOP");
        }
        Translator tr(catalog);
        st.sql = tr.statement(toks, st.kind == StmtKind::Select ? &st.columnNames : nullptr,
                              st.kind == StmtKind::Select ? &st.columnTypes : nullptr, &st);
    } else if (!w.empty() &&
               (isReservedWord(w) || w == "GO" || w == "THROW" || w == "DBCC" || w == "BACKUP" || w == "RESTORE" ||
                w == "BULK" || w == "CHECKPOINT" || w == "KILL" || w == "RECONFIGURE" || w == "SHUTDOWN" ||
                w == "DENY" || w == "READTEXT" || w == "WRITETEXT" || w == "UPDATETEXT")) {
        throw unsupported(w);
    } else {
        throw syntaxErrorNear(first.text);
    }
    return st;
}

}  // namespace

std::vector<PlannedStatement> translateBatch(const std::string& batch, const Catalog& catalog) {
    std::vector<PlannedStatement> out;
    for (const RawStatement& raw : splitTokens(tokenize(batch))) {
        if (catalog.cancelled()) throw TranslationCancelled();
        out.push_back(planStatement(raw.toks, raw.bareRoutine, batch, catalog));
    }
    return out;
}

}  // namespace devserver::tsql
