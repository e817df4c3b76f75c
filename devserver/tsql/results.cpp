#include "results.h"

#include "lexer.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace devserver::tsql {

namespace {

constexpr int kMaxChars = 4000;

// Length in UTF-16 code units, the unit of an nvarchar's declared size.
int utf16Length(const std::string& s) {
    int n = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) == 0x80) continue;
        n += c >= 0xF0 ? 2 : 1;
    }
    return n;
}

std::string cutToUnits(const std::string& s, int units) {
    int n = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int w = c >= 0xF0 ? 2 : 1;
        if (n + w > units) break;
        n += w;
        ++i;
        while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    }
    return s.substr(0, i);
}

std::string numberText(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
}

int declaredLength(const std::string& decl) {
    const auto open = decl.find('(');
    if (open == std::string::npos) return kMaxChars;
    const int n = std::atoi(decl.c_str() + open + 1);
    return n > 0 && n <= kMaxChars ? n : kMaxChars;
}

bool digits(const std::string& s, std::size_t pos, std::size_t count) {
    if (pos + count > s.size()) return false;
    for (std::size_t k = pos; k < pos + count; ++k)
        if (s[k] < '0' || s[k] > '9') return false;
    return true;
}

}  // namespace

std::optional<std::string> normaliseDateTime(const std::string& text) {
    const std::string& s = text;
    if (!digits(s, 0, 4) || s.size() < 10 || s[4] != '-' || !digits(s, 5, 2) || s[7] != '-' || !digits(s, 8, 2))
        return std::nullopt;
    std::string out = s.substr(0, 10);
    if (s.size() == 10) return out + " 00:00:00";
    if ((s[10] != ' ' && s[10] != 'T') || !digits(s, 11, 2) || s.size() < 16 || s[13] != ':' || !digits(s, 14, 2))
        return std::nullopt;
    out += " " + s.substr(11, 5);
    if (s.size() == 16) return out + ":00";
    if (s[16] != ':' || !digits(s, 17, 2)) return std::nullopt;
    out += s.substr(16, 3);
    if (s.size() == 19) return out;
    if (s[19] != '.') return std::nullopt;
    std::string frac = s.substr(20);
    if (frac.empty() || !digits(frac, 0, frac.size())) return std::nullopt;
    frac = (frac + "000").substr(0, 3);
    return out + "." + frac;
}

namespace {

// What a column's values are, for typing it.
struct ValueSummary {
    bool anyInt = false, anyReal = false, anyText = false, bits = true, int32 = true, dates = true;
    int longest = 1;
};

ValueSummary summarise(const std::vector<Value>& values) {
    ValueSummary m;
    for (const Value& v : values) {
        if (const auto* i = std::get_if<std::int64_t>(&v)) {
            m.anyInt = true;
            if (*i != 0 && *i != 1) m.bits = false;
            if (*i < INT32_MIN || *i > INT32_MAX) m.int32 = false;
            m.dates = false;
        } else if (std::holds_alternative<double>(v)) {
            m.anyReal = true;
            m.dates = false;
        } else if (const auto* s = std::get_if<std::string>(&v)) {
            m.anyText = true;
            if (!normaliseDateTime(*s)) m.dates = false;
            m.longest = std::max(m.longest, utf16Length(*s));
        }
    }
    return m;
}

// The type the values alone give.
void typeByValues(const ValueSummary& m, Column& col) {
    if (!m.anyText && m.anyReal) {
        col.type = ColType::Float;
    } else if (!m.anyText && m.anyInt) {
        col.type = m.int32 ? ColType::Int : ColType::BigInt;
    } else {  // text, or nothing but NULLs
        col.type = ColType::NVarChar;
        col.maxChars = kMaxChars;
    }
}

bool declares(const std::string& decl, const char* word) {
    return decl.find(word) != std::string::npos;
}

}  // namespace

Column decideColumn(const std::string& name, const char* declType, const std::vector<Value>& values) {
    Column col;
    col.name = name;
    const ValueSummary m = summarise(values);
    const std::string decl = declType ? upper(declType) : std::string();
    // No declared type (an expression) finds none of these and is typed by its values.
    if (declares(decl, "CHAR") || declares(decl, "TEXT") || declares(decl, "CLOB")) {
        col.type = ColType::NVarChar;
        col.maxChars = std::min(kMaxChars, std::max(declaredLength(decl), m.longest));
    } else if (declares(decl, "DATE") || declares(decl, "TIME")) {
        if (!m.anyText || m.dates)
            col.type = ColType::DateTime;
        else
            typeByValues(m, col);
    } else if (declares(decl, "BIT")) {
        if (!m.anyText && !m.anyReal && m.bits)
            col.type = ColType::Bit;
        else
            typeByValues(m, col);
    } else if (declares(decl, "INT")) {
        if (m.anyText || m.anyReal)
            typeByValues(m, col);
        else
            col.type = declares(decl, "BIGINT") || !m.int32 ? ColType::BigInt : ColType::Int;
    } else if (declares(decl, "REAL") || declares(decl, "FLOA") || declares(decl, "DOUB") || declares(decl, "DEC") ||
               declares(decl, "NUM") || declares(decl, "MONEY")) {
        if (m.anyText)
            typeByValues(m, col);
        else
            col.type = ColType::Float;
    } else {
        typeByValues(m, col);
    }
    if (col.type == ColType::NVarChar) col.maxChars = std::min(kMaxChars, std::max(col.maxChars, 1));
    return col;
}

namespace {

int lengthArg(const std::vector<std::string>& args, std::size_t i, int fallback, int maximum) {
    if (i >= args.size()) return fallback;
    if (upper(args[i]) == "MAX") return maximum;
    const int n = std::atoi(args[i].c_str());
    return n > 0 ? std::min(n, maximum) : fallback;
}

// Whether every value can travel as the column's type without loss; a value SQLite holds in
// another form (its columns take anything) sends the column back to being typed by its values.
bool fits(const Column& col, const std::vector<Value>& values) {
    for (const Value& v : values) {
        if (std::holds_alternative<std::monostate>(v)) continue;
        const auto* i = std::get_if<std::int64_t>(&v);
        const auto* d = std::get_if<double>(&v);
        const auto* s = std::get_if<std::string>(&v);
        switch (col.type) {
        case ColType::TinyInt:
            if (!i || *i < 0 || *i > 255) return false;
            break;
        case ColType::SmallInt:
            if (!i || *i < INT16_MIN || *i > INT16_MAX) return false;
            break;
        case ColType::Int:
            if (!i || *i < INT32_MIN || *i > INT32_MAX) return false;
            break;
        case ColType::BigInt:
            if (!i) return false;
            break;
        case ColType::Bit:
            if (!i || (*i != 0 && *i != 1)) return false;
            break;
        case ColType::Float:
            if (s) return false;
            break;
        case ColType::Decimal: {
            if (s) return false;
            const double x = i ? static_cast<double>(*i) : *d;
            if (!std::isfinite(x) || std::fabs(x) >= std::pow(10.0, col.precision - col.scale)) return false;
            break;
        }
        case ColType::DateTime:
        case ColType::Date:
            if (!s || !normaliseDateTime(*s)) return false;
            break;
        case ColType::NVarChar:
        case ColType::VarChar: break;
        }
    }
    return true;
}

}  // namespace

std::optional<Column> columnOfType(const std::string& name, const std::vector<std::string>& args) {
    Column c;
    if (name == "INT" || name == "INTEGER") {
        c.type = ColType::Int;
    } else if (name == "BIGINT") {
        c.type = ColType::BigInt;
    } else if (name == "SMALLINT") {
        c.type = ColType::SmallInt;
    } else if (name == "TINYINT") {
        c.type = ColType::TinyInt;
    } else if (name == "BIT") {
        c.type = ColType::Bit;
    } else if (name == "FLOAT" || name == "REAL" || name == "DOUBLE") {
        c.type = ColType::Float;
    } else if (name == "DECIMAL" || name == "NUMERIC" || name == "DEC") {
        c.type = ColType::Decimal;
        c.precision = lengthArg(args, 0, 18, 38);
        c.scale = std::min(c.precision, args.size() > 1 ? std::max(0, std::atoi(args[1].c_str())) : 0);
    } else if (name == "DATETIME") {
        c.type = ColType::DateTime;
    } else if (name == "DATE") {
        c.type = ColType::Date;
    } else if (name == "NVARCHAR" || name == "NCHAR" || name == "NTEXT" || name == "SYSNAME") {
        c.type = ColType::NVarChar;
        c.maxChars = name == "SYSNAME" ? 128 : name == "NTEXT" ? kMaxChars : lengthArg(args, 0, 1, kMaxChars);
    } else if (name == "VARCHAR" || name == "CHAR" || name == "TEXT") {
        c.type = ColType::VarChar;
        c.maxChars = name == "TEXT" ? 8000 : lengthArg(args, 0, 1, 8000);
    } else {
        return std::nullopt;
    }
    return c;
}

std::optional<Column> columnOfDecl(const std::string& decl) {
    const std::string u = upper(decl);
    const auto open = u.find('(');
    std::string name = u.substr(0, open);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    std::vector<std::string> args;
    if (open != std::string::npos) {
        std::string cur;
        for (std::size_t k = open + 1; k < u.size() && u[k] != ')'; ++k) {
            if (u[k] == ',') {
                args.push_back(cur);
                cur.clear();
            } else if (u[k] != ' ') {
                cur += u[k];
            }
        }
        args.push_back(cur);
    }
    return columnOfType(name, args);
}

Value coerce(const Column& column, const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) return v;
    switch (column.type) {
    case ColType::Decimal:
        if (const auto* s = std::get_if<std::string>(&v)) return std::strtod(s->c_str(), nullptr);
        return v;
    case ColType::Date:
        if (const auto* s = std::get_if<std::string>(&v)) {
            if (auto n = normaliseDateTime(*s)) return n->substr(0, 10);
        }
        return v;
    case ColType::TinyInt:
    case ColType::SmallInt:
    case ColType::Int:
    case ColType::BigInt:
    case ColType::Bit:
        if (const auto* d = std::get_if<double>(&v)) return static_cast<std::int64_t>(std::trunc(*d));
        return v;
    case ColType::Float:
        if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
        return v;
    case ColType::DateTime:
        if (const auto* s = std::get_if<std::string>(&v)) {
            if (auto n = normaliseDateTime(*s)) return *n;
        }
        return v;
    case ColType::NVarChar:
    case ColType::VarChar:
        if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
        if (const auto* d = std::get_if<double>(&v)) return numberText(*d);
        if (const auto* s = std::get_if<std::string>(&v))
            if (utf16Length(*s) > column.maxChars) return cutToUnits(*s, column.maxChars);
        return v;
    }
    return v;
}

RowCollector::RowCollector(sqlite3_stmt* st, const std::vector<std::optional<std::string>>& names,
                           const std::vector<ResultColumnInfo>& types)
    : st_(st) {
    const int n = sqlite3_column_count(st);
    const bool useNames = static_cast<int>(names.size()) == n;
    if (static_cast<int>(types.size()) == n) info_ = types;
    info_.resize(static_cast<std::size_t>(n));
    for (int c = 0; c < n; ++c) {
        const char* sqliteName = sqlite3_column_name(st, c);
        names_.push_back(useNames && names[static_cast<std::size_t>(c)] ? *names[static_cast<std::size_t>(c)]
                                                                        : std::string(sqliteName ? sqliteName : ""));
        const char* decl = sqlite3_column_decltype(st, c);
        decl_.push_back(decl ? decl : "");
        hasDecl_.push_back(decl != nullptr);
        // A column read straight from a table (or through a view) is described as declared.
        std::optional<Column> origin;
        const char* table = sqlite3_column_table_name(st, c);
        const char* column = sqlite3_column_origin_name(st, c);
        const char* declared = nullptr;
        int notNull = 0, primaryKey = 0, autoIncrement = 0;
        if (table && column &&
            sqlite3_table_column_metadata(sqlite3_db_handle(st), sqlite3_column_database_name(st, c), table, column,
                                          &declared, nullptr, &notNull, &primaryKey, &autoIncrement) == SQLITE_OK &&
            declared) {
            origin = columnOfDecl(declared);
            if (origin) {
                origin->nullable = notNull == 0 && primaryKey == 0;
                origin->identity = autoIncrement != 0;
            }
        }
        origin_.push_back(origin);
    }
    columns_.resize(static_cast<std::size_t>(n));
}

void RowCollector::add() {
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        const int i = static_cast<int>(c);
        switch (sqlite3_column_type(st_, i)) {
        case SQLITE_INTEGER: columns_[c].emplace_back(static_cast<std::int64_t>(sqlite3_column_int64(st_, i))); break;
        case SQLITE_FLOAT: columns_[c].emplace_back(sqlite3_column_double(st_, i)); break;
        case SQLITE_NULL: columns_[c].emplace_back(std::monostate{}); break;
        default: {
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, i));
            columns_[c].emplace_back(std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st_, i))));
            bytes_ += static_cast<std::size_t>(sqlite3_column_bytes(st_, i));
        }
        }
        bytes_ += sizeof(Value);
    }
}

ResultSet RowCollector::finish() {
    ResultSet rs;
    const std::size_t rows = columns_.empty() ? 0 : columns_[0].size();
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        const std::vector<Value>& values = columns_[c];
        std::optional<Column> known = info_[c].type ? info_[c].type : origin_[c];
        if (known && !fits(*known, values)) known.reset();
        Column col = known ? *known : decideColumn(names_[c], hasDecl_[c] ? decl_[c].c_str() : nullptr, values);
        col.name = names_[c];
        const ValueSummary m = summarise(values);
        // Never described narrower or stricter than the values it carries.
        if (info_[c].outerSide || std::any_of(values.begin(), values.end(),
                                              [](const Value& v) { return std::holds_alternative<std::monostate>(v); }))
            col.nullable = true;
        if (col.type == ColType::NVarChar) col.maxChars = std::clamp(std::max(col.maxChars, m.longest), 1, kMaxChars);
        if (col.type == ColType::VarChar) col.maxChars = std::clamp(std::max(col.maxChars, m.longest), 1, 8000);
        rs.columns.push_back(col);
    }
    rs.rows.resize(rows);
    // add() appends one value to every column, so all columns hold the same number of rows.
    assert(std::all_of(columns_.begin(), columns_.end(),
                       [rows](const std::vector<Value>& column) { return column.size() == rows; }));
    for (std::size_t r = 0; r < rows; ++r) {
        rs.rows[r].reserve(columns_.size());
        for (std::size_t c = 0; c < columns_.size(); ++c) rs.rows[r].push_back(coerce(rs.columns[c], columns_[c][r]));
    }
    return rs;
}

}  // namespace devserver::tsql
