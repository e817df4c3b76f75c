#include "statement_cache.h"

#include <cassert>

namespace devserver::tsql {

sqlite3_stmt* StatementCache::take(const std::string& sql) {
    const auto found = index_.find(sql);
    if (found == index_.end()) return nullptr;
    sqlite3_stmt* st = found->second->second;
    entries_.erase(found->second);
    index_.erase(found);
    return st;
}

void StatementCache::give(const std::string& sql, sqlite3_stmt* st) {
    if (!st) return;
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    if (capacity_ == 0 || index_.count(sql) > 0) {
        sqlite3_finalize(st);
        return;
    }
    entries_.emplace_front(sql, st);
    index_.emplace(sql, entries_.begin());
    if (entries_.size() > capacity_) {
        sqlite3_finalize(entries_.back().second);
        index_.erase(entries_.back().first);
        entries_.pop_back();
    }
    assert(entries_.size() == index_.size());
}

void StatementCache::clear() {
    for (const Entry& e : entries_) sqlite3_finalize(e.second);
    entries_.clear();
    index_.clear();
}

PlanCache::Plan PlanCache::find(const std::string& batch) {
    const auto found = index_.find(batch);
    if (found == index_.end()) return nullptr;
    entries_.splice(entries_.begin(), entries_, found->second);
    return found->second->second;
}

void PlanCache::keep(const std::string& batch, Plan plan) {
    if (capacity_ == 0 || !plan || index_.count(batch) > 0) return;
    entries_.emplace_front(batch, std::move(plan));
    index_.emplace(batch, entries_.begin());
    if (entries_.size() > capacity_) {
        index_.erase(entries_.back().first);
        entries_.pop_back();
    }
    assert(entries_.size() == index_.size());
}

}  // namespace devserver::tsql
