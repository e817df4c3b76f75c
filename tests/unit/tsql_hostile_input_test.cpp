// What a client holding an account may try beyond the workstation's own statements: names that
// differ from an account's only in blanks or case, and statements with a NUL in them.
#include "engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

using namespace devserver;

namespace {

class HostileInput : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        path_ =
            (std::filesystem::temp_directory_path() / ("qtl_hostile_" + std::to_string(::getpid()) + ".db")).string();
        removeDb();
        EngineOptions o;
        o.dbPath = path_;
        o.demo = "small";
        engine_ = makeEngine(o).release();
    }
    static void TearDownTestSuite() {
        delete engine_;
        engine_ = nullptr;
        removeDb();
    }
    static void removeDb() {
        for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path_ + suffix);
    }
    static std::unique_ptr<Session> login(const std::string& user, const std::string& password, LoginResult& r) {
        return engine_->login(user, password, "QTL", r);
    }
    static std::unique_ptr<Session> op() {
        LoginResult r;
        return login("qtl_op", "op_pw_33", r);
    }
    // The number and text of the first error, "" when none.
    static std::string errorOf(Session& s, const std::string& sql) {
        const BatchOutcome b = s.executeBatch(sql);
        for (const auto& st : b.statements)
            for (const auto& m : st.messages)
                if (m.severity > 10) return std::to_string(m.number) + " " + m.text;
        return "";
    }
    static std::int64_t count(Session& s, const std::string& sql) {
        const BatchOutcome b = s.executeBatch(sql);
        if (b.statements.empty() || b.statements[0].results.empty() || b.statements[0].results[0].rows.empty())
            return -1;
        return std::get<std::int64_t>(b.statements[0].results[0].rows[0][0]);
    }

    static inline Engine* engine_ = nullptr;
    static inline std::string path_;
};

struct Account {
    std::string name, password;
    bool settingsFile;
};

const std::vector<Account> kAccounts = {{"qtl_entry", "entry_pw", true}, {"qtl_op", "op_pw_33", false},
                                        {"qtl_op2", "op2_pw_33", false}, {"qtl_view", "view_pw_33", false},
                                        {"qtl_new", "new_pw_33", false}, {"qtl_aged", "aged_pw_33", false}};

std::string upperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

// A name is the account's when it differs only in trailing blanks or in case (the server's
// collation is case-insensitive); the session then has exactly that account's rights, and the
// log names the account as stored. Anything else is another name and the login fails.
TEST_F(HostileInput, AnAccountNameMeansOneAccountForLoginRightsAndLog) {
    for (const Account& a : kAccounts) {
        const std::string cap = upperAscii(a.name.substr(0, 1)) + a.name.substr(1);
        for (const std::string& name : {a.name, a.name + " ", a.name + "    ", upperAscii(a.name), cap + "  "}) {
            SCOPED_TRACE("[" + name + "]");
            LoginResult r;
            auto s = login(name, a.password, r);
            ASSERT_TRUE(r.ok && s) << r.error.text;
            EXPECT_EQ(r.account, a.name);
            const std::string read = errorOf(*s, "SELECT COUNT(*) FROM faculty");
            const std::string remove =
                errorOf(*s, "DELETE FROM DisciplineForStudent WHERE id_disciplineForStudent = -1");
            if (a.settingsFile) {
                EXPECT_EQ(
                    read,
                    "229 The SELECT permission was denied on the object 'faculty', database 'QTL', schema 'dbo'.");
                EXPECT_EQ(remove,
                          "229 The DELETE permission was denied on the object 'DisciplineForStudent', "
                          "database 'QTL', schema 'dbo'.");
                EXPECT_EQ(errorOf(*s, "EXEC GET_KPV_Students 1, 1, 15, 1, 1, 5, 1"),
                          "229 The EXECUTE permission was denied on the object 'GET_KPV_Students', database 'QTL', "
                          "schema 'dbo'.");
            } else {
                EXPECT_EQ(read, "");
                EXPECT_EQ(remove, "");
            }
        }
        const std::string cyrillicO = "\xD0\xBE";  // о, looks like o
        std::string lookalike = a.name;
        lookalike.replace(lookalike.find('_') + 1, 1, a.name[4] == 'o' ? cyrillicO : "\xD0\xB5");  // or е
        for (const std::string& name : {" " + a.name, a.name + "\t", a.name + "\xC2\xA0", a.name + std::string(1, '\0'),
                                        a.name + "_", a.name.substr(0, a.name.size() - 1), lookalike}) {
            SCOPED_TRACE("[" + name + "]");
            LoginResult r;
            EXPECT_FALSE(login(name, a.password, r));
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.error.number, 18456);
        }
        LoginResult wrong;
        EXPECT_FALSE(login(a.name + " ", a.password + " ", wrong));  // passwords compare exactly
    }
}

// A NUL outside a literal ends nothing: the statement is refused whole and none of the batch runs.
// Inside a literal it is a character of the text; in a comment it is part of the comment.
TEST_F(HostileInput, ANulOutsideALiteralRefusesTheStatementAndRunsNothing) {
    const std::string nul(1, '\0');
    auto s = op();
    const std::int64_t rows = count(*s, "SELECT COUNT(*) FROM DisciplineForStudent");
    ASSERT_GT(rows, 0);
    struct Case {
        std::string sql;
        std::string error;  // "" : runs
    };
    const std::vector<Case> cases = {
        {"DELETE FROM DisciplineForStudent " + nul + " WHERE id_disciplineForStudent = -1",
         "102 Incorrect syntax near '\\0'."},
        {"DELETE FROM DisciplineForStudent WHERE id_disciplineForStudent = -1" + nul + " OR 1 = 1",
         "102 Incorrect syntax near '\\0'."},
        {"SELECT 1 " + nul + " UNION ALL SELECT 2", "102 Incorrect syntax near '\\0'."},
        {"SELECT 1 UNION ALL SELECT 2" + nul, "102 Incorrect syntax near '\\0'."},
        {nul + "DELETE FROM DisciplineForStudent", "102 Incorrect syntax near '\\0'."},
        {"DELETE FROM [DisciplineForStudent" + nul + "x]", "102 Incorrect syntax near '\\0'."},
        {"DELETE FROM \"DisciplineForStudent" + nul + "\"", "102 Incorrect syntax near '\\0'."},
        {"SELECT COUNT(*) FROM DisciplineForStudent -- " + nul + "\n WHERE 1 = 0", ""},
        {"SELECT COUNT(*) FROM DisciplineForStudent /* " + nul + " */ WHERE 1 = 0", ""},
        {"SELECT 'a" + nul + "b' WHERE 1 = 0", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(errorOf(*s, c.sql), c.error);
        EXPECT_EQ(count(*s, "SELECT COUNT(*) FROM DisciplineForStudent"), rows);
    }
    // The second statement of a batch with a NUL is not run either, nor the one before it.
    EXPECT_EQ(errorOf(*s, "INSERT INTO QTL_LOG([table]) VALUES('nul-before') SELECT 1 " + nul + " SELECT 2"),
              "102 Incorrect syntax near '\\0'.");
    EXPECT_EQ(count(*s, "SELECT COUNT(*) FROM QTL_LOG WHERE [table] = 'nul-before'"), 0);
}

// A NUL inside a literal is kept as a character: SQLite must see the whole text, not stop at it.
TEST_F(HostileInput, ANulInsideALiteralIsACharacterOfTheText) {
    auto s = op();
    const std::string nul(1, '\0');
    const BatchOutcome b =
        s->executeBatch("SELECT CASE WHEN 'a" + nul + "b' = 'a' THEN 1 ELSE 0 END, 'x" + nul + "y', N'" + nul + "'");
    ASSERT_EQ(b.statements.size(), 1u);
    ASSERT_FALSE(b.statements[0].failed) << b.statements[0].messages.at(0).text;
    const auto& row = b.statements[0].results.at(0).rows.at(0);
    EXPECT_EQ(std::get<std::int64_t>(row[0]), 0);
    EXPECT_EQ(std::get<std::string>(row[1]), "x" + nul + "y");
    EXPECT_EQ(std::get<std::string>(row[2]), nul);
}

// Locks as SQL Server takes them where a client can tell: BEGIN TRAN takes none, reads block no
// writer, the first write takes the lock to the end of the transaction; a transaction that read
// before another session committed can still write; a wait ends at --lock-timeout with 1222 and
// leaves the waiting transaction open.
TEST_F(HostileInput, LocksAreTakenByTheFirstWriteAndAWaitEndsAtTheLockTimeout) {
    EngineOptions o;
    o.dbPath = path_;
    o.lockTimeoutMs = 300;
    auto engine = makeEngine(o);
    LoginResult r;
    auto a = engine->login("qtl_op", "op_pw_33", "QTL", r);
    auto b = engine->login("qtl_op2", "op2_pw_33", "QTL", r);
    const std::string log = "INSERT INTO QTL_LOG([table], [row_id]) VALUES('lock-rule', 1)";
    const std::string logged = "SELECT COUNT(*) FROM QTL_LOG WHERE [table] = 'lock-rule'";

    ASSERT_EQ(errorOf(*a, "BEGIN TRAN SELECT COUNT(*) FROM faculty"), "");
    EXPECT_EQ(errorOf(*b, log), "");  // neither BEGIN nor a read holds it
    EXPECT_EQ(count(*a, logged), 1);  // the next statement sees what was committed meanwhile
    EXPECT_EQ(errorOf(*a, log), "");  // and may write after it
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(errorOf(*b, "BEGIN TRAN " + log), "1222 Lock request time out period exceeded.");
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    EXPECT_EQ(b->tranCount(), 1);
    EXPECT_EQ(errorOf(*a, "COMMIT"), "");
    EXPECT_EQ(errorOf(*b, log + " COMMIT"), "");
    EXPECT_EQ(count(*a, logged), 3);
}

// GET_USER inside a session's transaction records the sign-in on its own: the session holds no
// lock by it, and its ROLLBACK leaves the record (a password change made while the session holds
// the write lock stays in its transaction, which could otherwise wait for itself).
TEST_F(HostileInput, ASignInInsideATransactionHoldsNoLock) {
    LoginResult r;
    auto entry = login("qtl_entry", "entry_pw", r);
    auto other = op();
    ASSERT_EQ(errorOf(*entry,
                      "BEGIN TRAN EXEC GET_USER 'operator','4B583376B2767B923C3E1DA60D10DE59',NULL, "
                      "'QTL 33', '10.0.0.5', 'IN-TRAN', 'operator','0','4'"),
              "");
    EXPECT_EQ(errorOf(*other, "INSERT INTO QTL_LOG([table], [row_id]) VALUES('beside-sign-in', 1)"), "");
    EXPECT_EQ(errorOf(*entry, "ROLLBACK"), "");
    // Recorded by the server's own writer, within moments.
    std::string comp;
    for (int i = 0; i < 250 && comp != "IN-TRAN"; ++i) {
        const BatchOutcome b = other->executeBatch("SELECT last_comp FROM QTL_User WHERE QTL_login = 'operator'");
        const Value& v = b.statements.at(0).results.at(0).rows.at(0).at(0);
        comp = std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : "";
        if (comp != "IN-TRAN") std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(comp, "IN-TRAN");
}
