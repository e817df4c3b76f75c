// SQL functions the translated statements call where SQLite's own operators would give another
// answer than the server: '+' on values of unknown type, conversions that must fail loudly, and
// upper/lower for Cyrillic.
#include "functions.h"

#include "lexer.h"
#include "../sql_errors.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

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
            fail(ctx, sqlerr::ConversionError, "Error converting data type nvarchar to float.");
            return false;
        }
        isFloat = true;
        return true;
    }
    if (!parseServerInt(s, i)) {
        fail(ctx, sqlerr::ConversionFailed,
             "Conversion failed when converting the nvarchar value '" + s + "' to data type int.");
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
        if (!add)
            return fail(ctx, sqlerr::OperandTypeInvalid,
                        "Operand data type nvarchar is invalid for subtract operator.");
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
        return fail(ctx, sqlerr::ArithmeticOverflow,
                    "Arithmetic overflow error converting expression to data type int.");
    sqlite3_result_int64(ctx, r);
}

void addFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    arith(ctx, argv, true);
}
void subFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    arith(ctx, argv, false);
}

void intFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_value* v = argv[0];
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL: return sqlite3_result_null(ctx);
    case SQLITE_INTEGER: return sqlite3_result_int64(ctx, sqlite3_value_int64(v));
    case SQLITE_FLOAT: {
        const double d = std::trunc(sqlite3_value_double(v));
        if (!(d >= -9.2e18 && d <= 9.2e18))
            return fail(ctx, sqlerr::ArithmeticOverflow,
                        "Arithmetic overflow error converting expression to data type int.");
        return sqlite3_result_int64(ctx, static_cast<std::int64_t>(d));
    }
    default: {
        std::int64_t i = 0;
        const std::string s = valueText(v);
        if (!parseServerInt(s, i))
            return fail(ctx, sqlerr::ConversionFailed,
                        "Conversion failed when converting the nvarchar value '" + s + "' to data type int.");
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
        if (!parseServerFloat(valueText(v), d))
            return fail(ctx, sqlerr::ConversionError, "Error converting data type nvarchar to float.");
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
            if (c >= 0x430 && c <= 0x44F)
                m = c - 0x20;
            else if (c >= 0x450 && c <= 0x45F)
                m = c - 0x50;
        } else {
            if (c >= 0x410 && c <= 0x42F)
                m = c + 0x20;
            else if (c >= 0x400 && c <= 0x40F)
                m = c + 0x50;
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
    if (n < 0)
        return fail(ctx, sqlerr::InvalidLengthParameter, "Invalid length parameter passed to the right function.");
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

// ---- datetime from text ----------------------------------------------------------------------

bool allDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

struct DateTimeParts {
    int year = 1900, month = 1, day = 1, hour = 0, minute = 0, second = 0, ms = 0;
};

// Cuts a trailing AM or PM off `t`: 'A', 'P', or 0 when there is none.
char takeMeridiem(std::string& t) {
    if (t.size() < 2) return 0;
    const std::string tail = upper(t.substr(t.size() - 2));
    if (tail != "AM" && tail != "PM") return 0;
    t = trimmed(t.substr(0, t.size() - 2));
    return tail[0];
}

// The fields of "hh:mm[:ss[.f|:fff]]" split at ':' (a fourth one is milliseconds) or, after
// the seconds, at '.' (a fraction of a second). False when a '.' stands elsewhere.
struct TimeFields {
    std::vector<std::string> fields;
    std::string fraction;
    bool dotFraction = false;
};
bool splitTimeFields(const std::string& t, TimeFields& out) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= t.size(); ++i) {
        if (i < t.size() && t[i] != ':' && t[i] != '.') continue;
        out.fields.push_back(t.substr(start, i - start));
        if (i < t.size() && t[i] == '.') {
            if (out.fields.size() != 3) return false;
            out.dotFraction = true;
            out.fraction = t.substr(i + 1);
            return true;
        }
        start = i + 1;
    }
    if (out.fields.size() == 4) {
        out.fraction = out.fields.back();  // hh:mm:ss:mmm counts milliseconds
        out.fields.pop_back();
    }
    return true;
}

// A 12-hour clock's hour on the 24-hour clock; false when it is no 12-hour hour.
bool applyMeridiem(char meridiem, int& hour) {
    if (meridiem == 0) return true;
    if (hour < 1 || hour > 12) return false;
    if (hour == 12) hour = 0;
    if (meridiem == 'P') hour += 12;
    return true;
}

// "hh:mm[:ss[.f|:fff]]" with an optional AM/PM. False when the text is no time of day.
bool parseTime(std::string t, DateTimeParts& p) {
    const char meridiem = takeMeridiem(t);
    TimeFields tf;
    if (!splitTimeFields(t, tf)) return false;
    const std::vector<std::string>& fields = tf.fields;
    if (fields.size() < 2 || fields.size() > 3) return false;
    for (const std::string& f : fields)
        if (!allDigits(f) || f.size() > 2) return false;
    p.hour = std::atoi(fields[0].c_str());
    p.minute = std::atoi(fields[1].c_str());
    p.second = fields.size() == 3 ? std::atoi(fields[2].c_str()) : 0;
    if (tf.dotFraction || !tf.fraction.empty()) {
        if (!allDigits(tf.fraction) || tf.fraction.size() > 3) return false;
        p.ms = tf.dotFraction ? std::atoi((tf.fraction + "00").substr(0, 3).c_str()) : std::atoi(tf.fraction.c_str());
    }
    if (!applyMeridiem(meridiem, p.hour)) return false;
    return p.hour <= 23 && p.minute <= 59 && p.second <= 59;
}

int yearOf(const std::string& field) {
    const int y = std::atoi(field.c_str());
    if (field.size() <= 2) return y < 50 ? 2000 + y : 1900 + y;  // the server's two-digit year cutoff
    return y;
}

// The date part: YYYYMMDD / YYMMDD, or three numbers split by one of . / - read in the session's
// order. A four-digit number marks the year wherever it stands; day and month then keep the order
// they have in DATEFORMAT (so "2030-02-01" reads year-day-month under dmy, as the server does).
bool parseDate(const std::string& d, const std::string& order, DateTimeParts& p) {
    if (allDigits(d)) {
        if (d.size() != 8 && d.size() != 6) return false;
        const std::size_t y = d.size() - 4;
        p.year = yearOf(d.substr(0, y));
        p.month = std::atoi(d.substr(y, 2).c_str());
        p.day = std::atoi(d.substr(y + 2, 2).c_str());
        return true;
    }
    const std::size_t s1 = d.find_first_of("./-");
    if (s1 == std::string::npos) return false;
    const char sep = d[s1];
    const std::size_t s2 = d.find(sep, s1 + 1);
    if (s2 == std::string::npos) return false;
    const std::string f[3] = {d.substr(0, s1), d.substr(s1 + 1, s2 - s1 - 1), d.substr(s2 + 1)};
    std::size_t yearAt = 3;
    for (std::size_t k = 0; k < 3; ++k) {
        if (!allDigits(f[k]) || f[k].size() == 3 || f[k].size() > 4) return false;
        if (f[k].size() == 4) {
            if (yearAt != 3) return false;
            yearAt = k;
        }
    }
    if (yearAt == 3) yearAt = order.find('y');
    const bool monthFirst = order.find('m') < order.find('d');
    std::size_t first = yearAt == 0 ? 1 : 0;
    std::size_t second = yearAt == 2 ? 1 : 2;
    p.year = yearOf(f[yearAt]);
    p.month = std::atoi(f[monthFirst ? first : second].c_str());
    p.day = std::atoi(f[monthFirst ? second : first].c_str());
    return f[monthFirst ? first : second].size() <= 2 && f[monthFirst ? second : first].size() <= 2;
}

// One step forward of the datetime's 1/300 s rounding that reached the next second.
bool carrySecond(DateTimeParts& p) {
    if (++p.second < 60) return true;
    p.second = 0;
    if (++p.minute < 60) return true;
    p.minute = 0;
    if (++p.hour < 24) return true;
    p.hour = 0;
    if (++p.day <= daysInMonth(p.year, p.month)) return true;
    p.day = 1;
    if (++p.month <= 12) return true;
    p.month = 1;
    return ++p.year <= 9999;
}

}  // namespace

DateParse parseServerDateTime(const std::string& text, const std::string& order, std::string& out) {
    const std::string t = trimmed(text);
    DateTimeParts p;
    if (!t.empty()) {
        const std::size_t blank = t.find_first_of(" \t");
        std::string datePart = blank == std::string::npos ? t : t.substr(0, blank);
        std::string timePart = blank == std::string::npos ? std::string() : trimmed(t.substr(blank));
        const bool iso = datePart.size() > 11 && datePart[10] == 'T' && datePart[4] == '-' && datePart[7] == '-';
        if (iso) {
            // yyyy-mm-ddThh:mm... is read the same under every DATEFORMAT
            if (!timePart.empty()) return DateParse::Malformed;
            timePart = datePart.substr(11);
            datePart = datePart.substr(0, 10);
            if (!allDigits(datePart.substr(0, 4)) || !allDigits(datePart.substr(5, 2)) ||
                !allDigits(datePart.substr(8, 2)))
                return DateParse::Malformed;
            p.year = std::atoi(datePart.substr(0, 4).c_str());
            p.month = std::atoi(datePart.substr(5, 2).c_str());
            p.day = std::atoi(datePart.substr(8, 2).c_str());
        } else if (datePart.find(':') != std::string::npos) {
            timePart = t;  // a time alone falls on 1 January 1900
        } else if (!parseDate(datePart, order, p)) {
            return DateParse::Malformed;
        }
        if (!timePart.empty() && !parseTime(timePart, p)) return DateParse::Malformed;
    }
    if (p.year < 1753 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 ||
        p.day > daysInMonth(p.year, p.month))
        return DateParse::OutOfRange;
    // datetime keeps time in 1/300 s ticks: .001 -> .000, .002 -> .003, .005 -> .007, .999 -> next second
    const int ticks = (p.ms * 3 + 5) / 10;
    p.ms = (ticks * 10 + 1) / 3;
    if (p.ms >= 1000) {
        p.ms = 0;
        if (!carrySecond(p)) return DateParse::OutOfRange;
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
    out = buf;
    if (p.ms != 0) {
        std::snprintf(buf, sizeof buf, ".%03d", p.ms);
        out += buf;
    }
    return DateParse::Ok;
}

namespace {

void datetimeFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    sqlite3_value* v = argv[0];
    const int type = sqlite3_value_type(v);
    if (type != SQLITE_TEXT) return sqlite3_result_value(ctx, v);  // NULL, or already not a text
    const auto* order = static_cast<const std::string*>(sqlite3_user_data(ctx));
    std::string out;
    switch (parseServerDateTime(valueText(v), order ? *order : std::string("mdy"), out)) {
    case DateParse::Ok: return sqlite3_result_text(ctx, out.data(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
    case DateParse::Malformed:
        return fail(ctx, sqlerr::DateConversionFailed,
                    "Conversion failed when converting date and/or time from character string.");
    case DateParse::OutOfRange: {
        const bool national = argc > 1 && sqlite3_value_int(argv[1]) != 0;
        return fail(ctx, sqlerr::DateOutOfRange,
                    std::string("The conversion of a ") + (national ? "nvarchar" : "varchar") +
                        " data type to a datetime data type resulted in an out-of-range value.");
    }
    }
}

// tsql_datetime_in(text, order): CONVERT(datetime, text, style) reads in the style's order,
// whatever the session's DATEFORMAT.
void datetimeInFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) != SQLITE_TEXT) return sqlite3_result_value(ctx, argv[0]);
    std::string out;
    switch (parseServerDateTime(valueText(argv[0]), valueText(argv[1]), out)) {
    case DateParse::Ok: return sqlite3_result_text(ctx, out.data(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
    case DateParse::Malformed:
        return fail(ctx, sqlerr::DateConversionFailed,
                    "Conversion failed when converting date and/or time from character string.");
    case DateParse::OutOfRange:
        return fail(ctx, sqlerr::DateOutOfRange,
                    "The conversion of a varchar data type to a datetime data type resulted in an out-of-range value.");
    }
}

void registerDatetime(sqlite3* db, const std::string* order) {
    // Not deterministic: the result follows the session's DATEFORMAT, which may change between runs.
    for (int args : {1, 2}) {
        if (sqlite3_create_function(db, "tsql_datetime", args, SQLITE_UTF8, const_cast<std::string*>(order), datetimeFn,
                                    nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("cannot register tsql_datetime: ") + sqlite3_errmsg(db));
    }
}

}  // namespace

void bindDateFormat(sqlite3* db, const std::string* order) {
    registerDatetime(db, order);
}

void registerFunctions(sqlite3* db) {
    struct Fn {
        const char* name;
        int args;
        void (*fn)(sqlite3_context*, int, sqlite3_value**);
    };
    static const Fn fns[] = {{"tsql_add", 2, addFn},     {"tsql_sub", 2, subFn},
                             {"tsql_int", 1, intFn},     {"tsql_float", 1, floatFn},
                             {"tsql_upper", 1, upperFn}, {"tsql_lower", 1, lowerFn},
                             {"tsql_right", 2, rightFn}, {"tsql_datetime_in", 2, datetimeInFn}};
    for (const Fn& f : fns) {
        if (sqlite3_create_function(db, f.name, f.args, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, f.fn, nullptr,
                                    nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("cannot register ") + f.name + ": " + sqlite3_errmsg(db));
    }
    registerDatetime(db, nullptr);
}

}  // namespace devserver::tsql
