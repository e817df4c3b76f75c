// The translator's view of a live SQLite database of the QTL schema.
#pragma once

#include "translate.h"

#include <sqlite3.h>

#include <atomic>
#include <map>
#include <string>

namespace devserver::tsql {

// Column types read with pragma_table_info once per name (the schema does not change while the
// server runs); table-valued functions come from the QTL routines.
class SqliteCatalog : public Catalog {
public:
    explicit SqliteCatalog(sqlite3* db) : db_(db) {}
    std::optional<std::string> columnType(const std::string& table, const std::string& column) const override;
    bool hasTable(const std::string& name) const override;
    std::string identityColumn(const std::string& table) const override;
    std::string tableFunction(const std::string& name, const std::vector<std::string>& args) const override;
    bool cancelled() const override { return cancel_ && cancel_->load(); }
    // The session's cancel flag, read while a batch is translated.
    void watch(const std::atomic<bool>* cancel) { cancel_ = cancel; }
    // Names looked up once are remembered; a session that asks for ever new names (they are
    // client text) starts over rather than grow without end.
    static constexpr std::size_t kMaxCachedNames = 4096;

private:
    sqlite3* db_;
    const std::atomic<bool>* cancel_ = nullptr;
    mutable std::map<std::string, std::map<std::string, std::string>> cache_;
    mutable std::map<std::string, std::string> identity_;
    const std::map<std::string, std::string>& load(const std::string& table) const;
};

}  // namespace devserver::tsql
