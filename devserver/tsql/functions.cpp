// SQL functions the translated statements call where SQLite's own operators would give another
// answer than the server: '+' on values of unknown type, conversions that must fail loudly, and
// upper/lower for Cyrillic.
#include "functions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace devserver::tsql {

namespace {

std::string valueText(sqlite3_value* v) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_value_bytes(v))) : std::string();
}

void fail(sqlite3_context* ctx, int number, const std::string& text) {
    const std::string msg = "tsql:" + std::to_string(number) + ":" + text;
    sqlite3_result_error(ctx, msg.c_str(), -1);
}

std::string trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

}  // namespace

bool parseServerInt(const std::string& text, std::int64_t& out) {
    const std::string t = trimmed(text);
    if (t.empty()) {
        out = 0;  // the server converts an empty or blank text to 0
        return true;
    }
    std::size_t i = 0;
    if (t[0] == '+' || t[0] == '-') i = 1;
    if (i == t.size()) return false;
    for (std::size_t k = i; k < t.size(); ++k)
        if (t[k] < '0' || t[k] > '9') return false;
    errno = 0;
    const long long v = std::strtoll(t.c_str(), nullptr, 10);
    if (errno == ERANGE) return false;
    out = v;
    return true;
}

bool parseServerFloat(const std::string& text, double& out) {
    const std::string t = trimmed(text);
    if (t.empty()) {
        out = 0;
        return true;
    }
    char* end = nullptr;
    out = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size()) return false;
    // strtod takes "inf", "nan" and hex forms the server does not.
    for (char c : t)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) return false;
    return std::isfinite(out);
}

namespace {

// Text-to-number conversion as the server does it when a number meets a text.
bool toNumber(sqlite3_context* ctx, sqlite3_value* v, bool wantFloat, std::int64_t& i, double& d, bool& isFloat) {
    const int t = sqlite3_value_type(v);
    if (t == SQLITE_INTEGER) {
        i = sqlite3_value_int64(v);
        d = static_cast<double>(i);
        isFloat = false;
        return true;
    }
    if (t == SQLITE_FLOAT) {
        d = sqlite3_value_double(v);
        isFloat = true;
        return true;
    }
    const std::string s = valueText(v);
    if (wantFloat) {
        if (!parseServerFloat(s, d)) {
            fail(ctx, 8114, "Error converting data type nvarchar to float.");
            return false;
        }
        isFloat = true;
        return true;
    }
    if (!parseServerInt(s, i)) {
        fail(ctx, 245, "Conversion failed when converting the nvarchar value '" + s + "' to data type int.");
        return false;
    }
    d = static_cast<double>(i);
    isFloat = false;
    return true;
}

void arith(sqlite3_context* ctx, sqlite3_value** argv, bool add) {
    sqlite3_value* a = argv[0];
    sqlite3_value* b = argv[1];
    const int ta = sqlite3_value_type(a), tb = sqlite3_value_type(b);
    if (ta == SQLITE_NULL || tb == SQLITE_NULL) return sqlite3_result_null(ctx);
    const bool textA = ta == SQLITE_TEXT || ta == SQLITE_BLOB;
    const bool textB = tb == SQLITE_TEXT || tb == SQLITE_BLOB;
    if (textA && textB) {
        if (!add) return fail(ctx, 8117, "Operand data type nvarchar is invalid for subtract operator.");
        const std::string r = valueText(a) + valueText(b);
        return sqlite3_result_text(ctx, r.data(), static_cast<int>(r.size()), SQLITE_TRANSIENT);
    }
    // A number and a text: the text is converted to the number's type.
    const bool wantFloat = ta == SQLITE_FLOAT || tb == SQLITE_FLOAT;
    std::int64_t ia = 0, ib = 0;
    double da = 0, db = 0;
    bool fa = false, fb = false;
    if (!toNumber(ctx, a, wantFloat, ia, da, fa) || !toNumber(ctx, b, wantFloat, ib, db, fb)) return;
    if (fa || fb) return sqlite3_result_double(ctx, add ? da + db : da - db);
    std::int64_t r = 0;
    if (add ? __builtin_add_overflow(ia, ib, &r) : __builtin_sub_overflow(ia, ib, &r))
        return fail(ctx, 8115, "Arithmetic overflow error converting expression to data type int.");
    sqlite3_result_int64(ctx, r);
}

void addFn(sqlite3_context* ctx, int, sqlite3_value** argv) { arith(ctx, argv, true); }
void subFn(sqlite3_context* ctx, int, sqlite3_value** argv) { arith(ctx, argv, false); }

void intFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_value* v = argv[0];
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL: return sqlite3_result_null(ctx);
    case SQLITE_INTEGER: return sqlite3_result_int64(ctx, sqlite3_value_int64(v));
    case SQLITE_FLOAT: {
        const double d = std::trunc(sqlite3_value_double(v));
        if (!(d >= -9.2e18 && d <= 9.2e18))
            return fail(ctx, 8115, "Arithmetic overflow error converting expression to data type int.");
        return sqlite3_result_int64(ctx, static_cast<std::int64_t>(d));
    }
    default: {
        std::int64_t i = 0;
        const std::string s = valueText(v);
        if (!parseServerInt(s, i))
            return fail(ctx, 245, "Conversion failed when converting the nvarchar value '" + s + "' to data type int.");
        return sqlite3_result_int64(ctx, i);
    }
    }
}

void floatFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_value* v = argv[0];
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL: return sqlite3_result_null(ctx);
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: return sqlite3_result_double(ctx, sqlite3_value_double(v));
    default: {
        double d = 0;
        if (!parseServerFloat(valueText(v), d)) return fail(ctx, 8114, "Error converting data type nvarchar to float.");
        return sqlite3_result_double(ctx, d);
    }
    }
}

// Decodes one UTF-8 character at s[i]; invalid bytes pass through as themselves.
char32_t decode(const std::string& s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    auto cont = [&](std::size_t k) { return k < s.size() && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80; };
    if (b0 >= 0xC0 && b0 < 0xE0 && cont(i + 1)) {
        char32_t c = (char32_t(b0 & 0x1F) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3F);
        i += 2;
        return c;
    }
    ++i;
    return b0 | 0x80000000u;  // marker: copy the byte unchanged
}

std::string mapCase(const std::string& s, bool toUpper) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t start = i;
        char32_t c = decode(s, i);
        if (c & 0x80000000u) {
            char b = static_cast<char>(c & 0xFF);
            if (toUpper && b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
            if (!toUpper && b >= 'A' && b <= 'Z') b = static_cast<char>(b + 32);
            out += b;
            continue;
        }
        char32_t m = c;
        if (toUpper) {
            if (c >= 0x430 && c <= 0x44F) m = c - 0x20;
            else if (c >= 0x450 && c <= 0x45F) m = c - 0x50;
        } else {
            if (c >= 0x410 && c <= 0x42F) m = c + 0x20;
            else if (c >= 0x400 && c <= 0x40F) m = c + 0x50;
        }
        if (m == c) {
            out.append(s, start, i - start);
        } else {
            out += static_cast<char>(0xC0 | (m >> 6));
            out += static_cast<char>(0x80 | (m & 0x3F));
        }
    }
    return out;
}

void upperFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const std::string r = mapCase(valueText(argv[0]), true);
    sqlite3_result_text(ctx, r.data(), static_cast<int>(r.size()), SQLITE_TRANSIENT);
}

void lowerFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const std::string r = mapCase(valueText(argv[0]), false);
    sqlite3_result_text(ctx, r.data(), static_cast<int>(r.size()), SQLITE_TRANSIENT);
}

// RIGHT(text, n): the last n characters.
void rightFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    const std::int64_t n = sqlite3_value_int64(argv[1]);
    if (n < 0) return fail(ctx, 536, "Invalid length parameter passed to the right function.");
    const std::string s = valueText(argv[0]);
    std::size_t pos = s.size();
    std::int64_t taken = 0;
    while (pos > 0 && taken < n) {
        --pos;
        while (pos > 0 && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80) --pos;
        ++taken;
    }
    const std::string r = s.substr(pos);
    sqlite3_result_text(ctx, r.data(), static_cast<int>(r.size()), SQLITE_TRANSIENT);
}

}  // namespace

void registerFunctions(sqlite3* db) {
    struct Fn {
        const char* name;
        int args;
        void (*fn)(sqlite3_context*, int, sqlite3_value**);
    };
    static const Fn fns[] = {{"tsql_add", 2, addFn},     {"tsql_sub", 2, subFn},     {"tsql_int", 1, intFn},
                             {"tsql_float", 1, floatFn}, {"tsql_upper", 1, upperFn}, {"tsql_lower", 1, lowerFn},
                             {"tsql_right", 2, rightFn}};
    for (const Fn& f : fns) {
        if (sqlite3_create_function(db, f.name, f.args, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, f.fn, nullptr,
                                    nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("cannot register ") + f.name + ": " + sqlite3_errmsg(db));
    }
}

}  // namespace devserver::tsql
