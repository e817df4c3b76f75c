#include "catalog.h"

#include "qtl/qtl.h"

namespace devserver::tsql {

std::optional<std::string> SqliteCatalog::columnType(const std::string& table, const std::string& column) const {
    const auto& cols = load(table);
    auto it = cols.find(upper(column));
    if (it == cols.end()) return std::nullopt;
    return it->second;
}

bool SqliteCatalog::hasTable(const std::string& name) const {
    return !load(name).empty();
}

// SQLite's AUTOINCREMENT key is what an identity column is here: its values are never reused.
std::string SqliteCatalog::identityColumn(const std::string& table) const {
    const std::string key = upper(table);
    if (auto it = identity_.find(key); it != identity_.end()) return it->second;
    if (identity_.size() >= kMaxCachedNames) identity_.clear();
    std::string found;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT name FROM pragma_table_info(?1) WHERE pk = 1", -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW) {
            const auto* n = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            int autoIncrement = 0;
            if (n &&
                sqlite3_table_column_metadata(db_, nullptr, table.c_str(), n, nullptr, nullptr, nullptr, nullptr,
                                              &autoIncrement) == SQLITE_OK &&
                autoIncrement)
                found = n;
        }
    }
    sqlite3_finalize(st);
    identity_.emplace(key, found);
    return found;
}

std::string SqliteCatalog::tableFunction(const std::string& name, const std::vector<std::string>& args) const {
    return qtl::tableFunctionSql(name, args);
}

const std::map<std::string, std::string>& SqliteCatalog::load(const std::string& table) const {
    const std::string key = upper(table);
    auto it = cache_.find(key);
    if (it != cache_.end()) return it->second;
    if (cache_.size() >= kMaxCachedNames) cache_.clear();
    std::map<std::string, std::string> cols;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT name, type FROM pragma_table_info(?1)", -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(st) == SQLITE_ROW) {
            const auto* n = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
            cols[upper(n ? n : "")] = t ? t : "";
        }
    }
    sqlite3_finalize(st);
    return cache_.emplace(key, std::move(cols)).first->second;
}

}  // namespace devserver::tsql
