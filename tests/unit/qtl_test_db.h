// A QTL database in memory for the unit tests of devserver/qtl.
#pragma once

#include "qtl/qtl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qtl_test {

using Rows = std::vector<std::vector<std::string>>;

class QtlDb {
public:
    explicit QtlDb(const std::string& size = "small") {
        sqlite3_open(":memory:", &db);
        devserver::qtl::createDatabase(db, size);
    }
    ~QtlDb() { sqlite3_close(db); }
    QtlDb(const QtlDb&) = delete;
    QtlDb& operator=(const QtlDb&) = delete;

    // Every row as texts; NULL reads "<null>". Fails the test on an SQL error.
    Rows rows(const std::string& sql) const {
        sqlite3_stmt* st = nullptr;
        Rows out;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db) << "\n in: " << sql;
            return out;
        }
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                const auto* p = sqlite3_column_text(st, i);
                row.push_back(p ? reinterpret_cast<const char*>(p) : "<null>");
            }
            out.push_back(std::move(row));
        }
        if (rc != SQLITE_DONE) ADD_FAILURE() << sqlite3_errmsg(db) << "\n in: " << sql;
        sqlite3_finalize(st);
        return out;
    }

    std::string scalar(const std::string& sql) const {
        const auto r = rows(sql);
        return r.empty() || r[0].empty() ? "<none>" : r[0][0];
    }

    void exec(const std::string& sql) const {
        char* err = nullptr;
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            ADD_FAILURE() << (err ? err : "?") << "\n in: " << sql;
            sqlite3_free(err);
        }
    }

    devserver::StatementOutcome call(const std::string& name, const std::vector<devserver::qtl::Argument>& args) const {
        devserver::StatementOutcome out;
        devserver::qtl::SessionContext ctx;
        devserver::qtl::callRoutine(db, ctx, name, args, out);
        return out;
    }

    sqlite3* db = nullptr;
};

inline devserver::qtl::Argument named(const std::string& name, devserver::Value v) {
    return {name, std::move(v)};
}
inline devserver::qtl::Argument pos(devserver::Value v) {
    return {"", std::move(v)};
}
inline devserver::Value I(std::int64_t v) {
    return v;
}
inline devserver::Value T(const std::string& v) {
    return v;
}

// A cell as text, for compact comparisons.
inline std::string cell(const devserver::Value& v) {
    if (std::holds_alternative<std::monostate>(v)) return "<null>";
    if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&v)) return std::to_string(*d);
    return std::get<std::string>(v);
}

inline Rows table(const devserver::ResultSet& rs) {
    Rows out;
    for (const auto& r : rs.rows) {
        std::vector<std::string> row;
        for (const auto& v : r) row.push_back(cell(v));
        out.push_back(std::move(row));
    }
    return out;
}

}  // namespace qtl_test
