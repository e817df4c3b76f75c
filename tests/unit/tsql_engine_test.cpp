// The engine on a real QTL database (small demo data): the workstation's statements, the
// server's error and transaction rules, fault injection.
#include "engine.h"
#include "qtl/demo_ids.h"
#include "tsql_statements.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace devserver;
namespace demo = devserver::qtl::demo;

namespace {

std::string tempDbPath(const char* tag) {
    return (std::filesystem::temp_directory_path() /
            ("qtl_tsql_" + std::string(tag) + "_" + std::to_string(::getpid()) + ".db"))
        .string();
}

void removeDb(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
}

// One database for the whole suite: creating the demo data takes a moment.
class EngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        path_ = tempDbPath("engine");
        removeDb(path_);
        EngineOptions o;
        o.dbPath = path_;
        o.demo = "small";
        o.failOn = std::regex("QTL_LOG.*'FAILME'");
        engine_ = makeEngine(o).release();
    }
    static void TearDownTestSuite() {
        delete engine_;
        engine_ = nullptr;
        removeDb(path_);
    }
    std::unique_ptr<Session> session() {
        auto [user, password] = engine_->settingsAccount();
        LoginResult r;
        auto s = engine_->login(user, password, "QTL", r);
        EXPECT_TRUE(r.ok) << r.error.text;
        return s;
    }
    static std::int64_t scalarInt(Session& s, const std::string& sql) {
        BatchOutcome b = s.executeBatch(sql);
        EXPECT_EQ(b.statements.size(), 1u);
        EXPECT_FALSE(b.statements[0].failed) << (b.statements[0].messages.empty() ? "" : b.statements[0].messages[0].text);
        if (b.statements[0].results.empty() || b.statements[0].results[0].rows.empty()) return -999;
        const Value& v = b.statements[0].results[0].rows[0][0];
        return std::holds_alternative<std::int64_t>(v) ? std::get<std::int64_t>(v) : -998;
    }
    static const Message* firstError(const BatchOutcome& b) {
        for (const auto& st : b.statements)
            for (const auto& m : st.messages)
                if (m.severity > 10) return &m;
        return nullptr;
    }

    static inline Engine* engine_ = nullptr;
    static inline std::string path_;
};

[[maybe_unused]] int columnIndex(const ResultSet& rs, const std::string& name) {
    for (std::size_t i = 0; i < rs.columns.size(); ++i)
        if (rs.columns[i].name == name) return static_cast<int>(i);
    return -1;
}

TEST_F(EngineTest, DumpTranslations) {
    auto s = session();
    for (const auto& st : tsql_statements::reads()) {
        BatchOutcome b = s->executeBatch(st.sql);
        const Message* e = firstError(b);
        std::printf("%s: %s\n", st.what, e ? e->text.c_str() : "ok");
        if (!b.statements.empty() && !b.statements[0].results.empty()) {
            const auto& rs = b.statements[0].results[0];
            std::printf("   rows=%zu cols:", rs.rows.size());
            for (auto& c : rs.columns) std::printf(" %s/%d", c.name.c_str(), int(c.type));
            std::printf("\n");
        }
    }
}

}  // namespace
