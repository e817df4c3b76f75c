// The session's caches of compiled statements and translated batches.
#include "tsql/statement_cache.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <string>
#include <vector>

using devserver::tsql::PlanCache;
using devserver::tsql::PlannedStatement;
using devserver::tsql::StatementCache;

namespace {

struct Db {
    sqlite3* db = nullptr;
    Db() {
        EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1),(2),(3)", nullptr, nullptr, nullptr),
                  SQLITE_OK);
    }
    ~Db() { EXPECT_EQ(sqlite3_close(db), SQLITE_OK) << "a statement was left unfinalized"; }
    sqlite3_stmt* compile(const std::string& sql) const {
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK);
        return st;
    }
};

TEST(StatementCache, KeepsTheMostRecentlyUsedAndFinalizesTheRest) {
    Db d;
    StatementCache cache(2);
    const std::vector<std::string> texts = {"SELECT 1", "SELECT 2", "SELECT 3"};
    for (const std::string& t : texts) cache.give(t, d.compile(t));
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache.take("SELECT 1"), nullptr);  // the oldest went
    sqlite3_stmt* three = cache.take("SELECT 3");
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(cache.take("SELECT 3"), nullptr) << "a statement in use is not handed out twice";
    // A second compile of a text in use, given back first, is kept; the other is finalized.
    cache.give("SELECT 3", d.compile("SELECT 3"));
    cache.give("SELECT 3", three);
    EXPECT_EQ(cache.size(), 2u);
    StatementCache none(0);
    none.give("SELECT 1", d.compile("SELECT 1"));
    EXPECT_EQ(none.size(), 0u);
}

TEST(StatementCache, AStatementGivenBackMidReadHoldsNoSnapshot) {
    Db d;
    StatementCache cache(4);
    sqlite3_stmt* st = d.compile("SELECT x FROM t");
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);  // two rows still unread
    EXPECT_EQ(sqlite3_txn_state(d.db, "main"), SQLITE_TXN_READ);
    cache.give("SELECT x FROM t", st);
    EXPECT_EQ(sqlite3_txn_state(d.db, "main"), SQLITE_TXN_NONE);
    st = cache.take("SELECT x FROM t");
    ASSERT_NE(st, nullptr);
    int rows = 0;
    while (sqlite3_step(st) == SQLITE_ROW) ++rows;
    EXPECT_EQ(rows, 3) << "taken again, it runs from the start";
    cache.give("SELECT x FROM t", st);
}

TEST(StatementCache, AStatementKeptOverASchemaChangeRunsOnTheNewSchema) {
    Db d;
    StatementCache cache(4);
    cache.give("SELECT * FROM t", d.compile("SELECT * FROM t"));
    ASSERT_EQ(sqlite3_exec(d.db, "ALTER TABLE t ADD COLUMN y DEFAULT 7", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_stmt* st = cache.take("SELECT * FROM t");
    ASSERT_NE(st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_count(st), 2);
    EXPECT_EQ(sqlite3_column_int(st, 1), 7);
    cache.give("SELECT * FROM t", st);
}

TEST(PlanCache, KeepsTheMostRecentlyUsedPlans) {
    PlanCache cache(2);
    auto plan = [](const char* text) {
        PlannedStatement p;
        p.text = text;
        return std::make_shared<const std::vector<PlannedStatement>>(1, p);
    };
    cache.keep("a", plan("a"));
    cache.keep("b", plan("b"));
    ASSERT_NE(cache.find("a"), nullptr);  // now the most recent
    cache.keep("c", plan("c"));
    EXPECT_EQ(cache.find("b"), nullptr);
    ASSERT_NE(cache.find("a"), nullptr);
    EXPECT_EQ(cache.find("a")->front().text, "a");
    cache.keep("a", plan("other"));  // a kept plan is not replaced
    EXPECT_EQ(cache.find("a")->front().text, "a");
    EXPECT_EQ(cache.size(), 2u);
}

}  // namespace
