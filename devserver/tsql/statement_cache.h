// A session's compiled statements, by their text: the workstation sends the same reads again
// and again, and compiling one is most of what it costs to run.
#pragma once

#include "translate.h"

#include <sqlite3.h>

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

namespace devserver::tsql {

// Most recently used first. A statement is taken out while it runs (a nested use of the same
// text compiles its own) and is given back reset, so a cached statement holds no snapshot and
// no lock. One connection's statements only; not thread-safe.
class StatementCache {
public:
    explicit StatementCache(std::size_t capacity) : capacity_(capacity) {}
    ~StatementCache() { clear(); }
    StatementCache(const StatementCache&) = delete;
    StatementCache& operator=(const StatementCache&) = delete;

    // The compiled statement for `sql`, now the caller's until give(); nullptr when there is none.
    // No client may change the schema; should the server's own upkeep change it, SQLite compiles
    // a kept statement again when it next runs.
    sqlite3_stmt* take(const std::string& sql);
    // Keeps `st` (compiled from the whole of `sql`) for the next take(); the least recently used
    // statement beyond the capacity is finalized.
    void give(const std::string& sql, sqlite3_stmt* st);
    void clear();
    std::size_t size() const { return entries_.size(); }

private:
    using Entry = std::pair<std::string, sqlite3_stmt*>;
    std::size_t capacity_;
    std::list<Entry> entries_;
    std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

// A session's translated batches, by their text, most recently used first. A plan depends on the
// batch and the schema only, and no client may change the schema.
class PlanCache {
public:
    using Plan = std::shared_ptr<const std::vector<PlannedStatement>>;
    explicit PlanCache(std::size_t capacity) : capacity_(capacity) {}
    Plan find(const std::string& batch);  // nullptr when not kept
    void keep(const std::string& batch, Plan plan);
    std::size_t size() const { return entries_.size(); }

private:
    using Entry = std::pair<std::string, Plan>;
    std::size_t capacity_;
    std::list<Entry> entries_;
    std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

}  // namespace devserver::tsql
