// SQL functions every connection to the QTL database needs: the collation and LIKE of a
// Cyrillic case-insensitive server.
#include "qtl.h"
#include "text.h"

#include <atomic>
#include <optional>
#include <stdexcept>
#include <string>

namespace devserver::qtl {
namespace {

int collateCyrCi(void*, int na, const void* a, int nb, const void* b) {
    return text::collate(std::string_view(static_cast<const char*>(a), static_cast<size_t>(na)),
                         std::string_view(static_cast<const char*>(b), static_cast<size_t>(nb)));
}

std::string_view argText(sqlite3_value* v) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return p ? std::string_view(p, static_cast<size_t>(sqlite3_value_bytes(v))) : std::string_view();
}

// like(pattern, value[, escape]) is what SQLite calls for "value LIKE pattern [ESCAPE e]".
void likeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    char32_t escape = 0;
    if (argc == 3) {
        const auto e = argText(argv[2]);
        // One character, possibly several UTF-8 bytes.
        size_t chars = 0;
        for (unsigned char c : e) chars += (c & 0xC0) != 0x80;
        if (chars != 1) return sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
        const auto b0 = static_cast<unsigned char>(e[0]);
        if (b0 < 0x80)
            escape = b0;
        else if (e.size() == 2)
            escape = (char32_t(b0 & 0x1F) << 6) | (char32_t(e[1]) & 0x3F);
        else if (e.size() == 3)
            escape = (char32_t(b0 & 0x0F) << 12) | ((char32_t(e[1]) & 0x3F) << 6) | (char32_t(e[2]) & 0x3F);
        else
            return sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
    }
    // The parsed pattern is kept with the statement while the pattern stays the same.
    auto* pattern = static_cast<text::LikePattern*>(sqlite3_get_auxdata(ctx, 0));
    const bool cached = pattern && pattern->escape() == escape;
    if (!cached) pattern = new text::LikePattern(argText(argv[0]), escape);
    const std::optional<bool> match =
        pattern->matchesUnless(argText(argv[1]), static_cast<const std::atomic<bool>*>(sqlite3_user_data(ctx)));
    if (!cached) sqlite3_set_auxdata(ctx, 0, pattern, [](void* p) { delete static_cast<text::LikePattern*>(p); });
    // An error ends only this statement; the engine sees the cancel and reports it as such.
    if (!match) return sqlite3_result_error(ctx, "cancelled", -1);
    sqlite3_result_int(ctx, *match ? 1 : 0);
}

int registerLike(sqlite3* db, const std::atomic<bool>* cancel) {
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    auto* data = const_cast<std::atomic<bool>*>(cancel);
    int rc = sqlite3_create_function(db, "like", 2, flags, data, likeFunction, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_create_function(db, "like", 3, flags, data, likeFunction, nullptr, nullptr);
    return rc;
}

}  // namespace

void registerFunctions(sqlite3* db) {
    int rc = sqlite3_create_collation(db, "CYR_CI", SQLITE_UTF8, nullptr, collateCyrCi);
    if (rc == SQLITE_OK) rc = registerLike(db, nullptr);
    if (rc != SQLITE_OK) throw std::runtime_error(std::string("cannot register QTL functions: ") + sqlite3_errmsg(db));
}

void watchCancel(sqlite3* db, const std::atomic<bool>* cancel) {
    if (registerLike(db, cancel) != SQLITE_OK)
        throw std::runtime_error(std::string("cannot register QTL functions: ") + sqlite3_errmsg(db));
}

}  // namespace devserver::qtl
