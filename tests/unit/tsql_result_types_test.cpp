// Result columns described as the server describes them (type, length, precision, scale,
// nullability, identity), and the session statements clients send on connect and on mode
// changes: global variables, IMPLICIT_TRANSACTIONS, TEXTSIZE, LOCK_TIMEOUT, IDENTITY_INSERT.
#include "engine.h"
#include "qtl/demo_ids.h"
#include "tsql_statements.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

using namespace devserver;
namespace demo = devserver::qtl::demo;

namespace {

// One row of the table in devserver/README.md ("Result column types").
struct Described {
    const char* sql;  // a SELECT of one column
    ColType type;
    int length;  // texts: the declared length in characters (0: not checked)
    int precision, scale;  // decimals
    bool nullable;
    const char* value;  // the first row's value as text
    bool identity = false;
};

class ResultTypes : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        path_ = (std::filesystem::temp_directory_path() / ("qtl_types_" + std::to_string(::getpid()) + ".db")).string();
        removeDb();
        EngineOptions o;
        o.dbPath = path_;
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
    static std::unique_ptr<Session> as(const char* user, const char* password) {
        LoginResult r;
        auto s = engine_->login(user, password, "QTL", r);
        EXPECT_TRUE(r.ok) << r.error.text;
        return s;
    }
    static std::unique_ptr<Session> op() { return as(demo::kOperatorDbUser, demo::kOperatorDbPassword); }

    static std::string text(const Value& v) {
        if (std::holds_alternative<std::monostate>(v)) return "NULL";
        if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
        if (const auto* d = std::get_if<double>(&v)) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%g", *d);
            return buf;
        }
        return std::get<std::string>(v);
    }
    // The first error of a batch as "number text", "" when none.
    static std::string error(const BatchOutcome& b) {
        for (const auto& st : b.statements)
            for (const auto& m : st.messages)
                if (m.severity > 10) return std::to_string(m.number) + " " + m.text;
        return "";
    }
    static const ResultSet* firstResult(const BatchOutcome& b) {
        for (const auto& st : b.statements)
            if (!st.results.empty()) return &st.results[0];
        return nullptr;
    }
    // The first value of the batch's first result, as text.
    static std::string scalar(Session& s, const std::string& sql) {
        const BatchOutcome b = s.executeBatch(sql);
        const ResultSet* rs = firstResult(b);
        if (!rs || rs->rows.empty()) return "<no row: " + error(b) + ">";
        return text(rs->rows[0][0]);
    }

    // The batch's one result column is described as `want` says, with that first value.
    static void expectDescribed(Session& session, const std::string& sql, const Described& want) {
        const BatchOutcome b = session.executeBatch(sql);
        const ResultSet* rs = firstResult(b);
        ASSERT_NE(rs, nullptr) << error(b);
        ASSERT_EQ(rs->columns.size(), 1u);
        const Column& c = rs->columns[0];
        EXPECT_EQ(c.type, want.type);
        if (want.length) {
            EXPECT_EQ(c.maxChars, want.length);
        }
        if (want.type == ColType::Decimal) {
            EXPECT_EQ(c.precision, want.precision);
            EXPECT_EQ(c.scale, want.scale);
        }
        EXPECT_EQ(c.nullable, want.nullable);
        EXPECT_EQ(c.identity, want.identity);
        ASSERT_FALSE(rs->rows.empty());
        if (*want.value) {
            EXPECT_EQ(text(rs->rows[0][0]), want.value);
        }
    }

    static inline Engine* engine_ = nullptr;
    static inline std::string path_;
};

const char* kOperatorRow = " FROM QTL_User WHERE QTL_login = 'operator'";
const char* kFirstRegistration = " FROM DisciplineForStudent WHERE id_disciplineForStudent = 1";
const char* kNoRegistration = " FROM DisciplineForStudent WHERE id_student = -1";

std::string s(const char* a, const char* b = "") {
    return std::string(a) + b;
}

}  // namespace

// Columns of tables and views keep what the schema declares.
TEST_F(ResultTypes, ColumnsKeepTheirDeclaration) {
    auto session = op();
    const std::vector<std::pair<std::string, Described>> rows = {
        {s("SELECT id_QTL_user", kOperatorRow), {"", ColType::Int, 0, 0, 0, false, "1"}},
        {s("SELECT visible", kOperatorRow), {"", ColType::Bit, 0, 0, 0, false, "1"}},
        {s("SELECT QTL_login", kOperatorRow), {"", ColType::NVarChar, 50, 0, 0, false, "operator"}},
        {s("SELECT user_name", kOperatorRow), {"", ColType::NVarChar, 150, 0, 0, true, ""}},
        {s("SELECT id_disciplineForStudent", kFirstRegistration), {"", ColType::Int, 0, 0, 0, false, "1", true}},
        {s("SELECT date_ins", kFirstRegistration), {"", ColType::DateTime, 0, 0, 0, true, ""}},
        {"SELECT p20 FROM s_g WHERE id_student = 1", {"", ColType::NVarChar, 150, 0, 0, false, "ИТ-21"}},
        // The optional side of an outer join may be NULL, whatever its declaration says.
        {"SELECT e.descGroupNum FROM RRNKkrdt r LEFT OUTER JOIN educ_sh e ON e.id_discipline = r.id_discipline AND "
         "1 = 0 WHERE r.id_rrnkKrdt = 1",
         {"", ColType::Int, 0, 0, 0, true, "NULL"}},
        {"SELECT r.subgroup FROM RRNKkrdt r LEFT OUTER JOIN educ_sh e ON e.id_discipline = r.id_discipline AND 1 = 0 "
         "WHERE r.id_rrnkKrdt = 1",
         {"", ColType::Int, 0, 0, 0, false, "1"}},
        {"SELECT x.subgroup FROM educ_sh e RIGHT JOIN RRNKkrdt x ON 1 = 0 WHERE x.id_rrnkKrdt = 1",
         {"", ColType::Int, 0, 0, 0, false, "1"}},
        {"SELECT e.descGroupNum FROM educ_sh e RIGHT OUTER JOIN RRNKkrdt x ON 1 = 0 WHERE x.id_rrnkKrdt = 1",
         {"", ColType::Int, 0, 0, 0, true, "NULL"}},
        {"SELECT descGroupNum FROM RRNKkrdt x LEFT JOIN (SELECT * FROM educ_sh) e ON 1 = 0 WHERE x.id_rrnkKrdt = 1",
         {"", ColType::Int, 0, 0, 0, true, "NULL"}},
    };
    for (const auto& [sql, want] : rows) {
        SCOPED_TRACE(sql);
        expectDescribed(*session, sql, want);
    }
}

// Expressions take the type the server's rules give them: "Data type precedence", "Precision,
// scale, and length", "Constants", "CAST and CONVERT", "SUM", "AVG", "ISNULL", "COALESCE".
TEST_F(ResultTypes, ExpressionsFollowTheServersTypingRules) {
    auto session = op();
    const std::vector<std::pair<std::string, Described>> rows = {
        // Constants
        {"SELECT 12", {"", ColType::Int, 0, 0, 0, false, "12"}},
        {"SELECT 2147483648", {"", ColType::Decimal, 0, 10, 0, false, "2147483648"}},
        {"SELECT 1.25", {"", ColType::Decimal, 0, 3, 2, false, "1.25"}},
        {"SELECT 0.5", {"", ColType::Decimal, 0, 1, 1, false, "0.5"}},
        {"SELECT 1e3", {"", ColType::Float, 0, 0, 0, false, "1000"}},
        {"SELECT 'abc'", {"", ColType::VarChar, 3, 0, 0, false, "abc"}},
        {"SELECT N'абв'", {"", ColType::NVarChar, 3, 0, 0, false, "абв"}},
        {"SELECT NULL", {"", ColType::Int, 0, 0, 0, true, "NULL"}},
        // CAST and CONVERT
        {"SELECT CAST(7 AS smallint)", {"", ColType::SmallInt, 0, 0, 0, false, "7"}},
        {"SELECT CAST(7 AS tinyint)", {"", ColType::TinyInt, 0, 0, 0, false, "7"}},
        {"SELECT CAST(2 AS bit)", {"", ColType::Bit, 0, 0, 0, false, "1"}},
        {"SELECT CAST(7 AS bigint)", {"", ColType::BigInt, 0, 0, 0, false, "7"}},
        {"SELECT CAST(1.5 AS decimal(10,3))", {"", ColType::Decimal, 0, 10, 3, false, "1.5"}},
        {"SELECT CAST(2 AS numeric(5,1))", {"", ColType::Decimal, 0, 5, 1, false, "2"}},
        {"SELECT CAST(2.25 AS decimal)", {"", ColType::Decimal, 0, 18, 0, false, "2"}},
        {"SELECT CAST(NULL AS INT)", {"", ColType::Int, 0, 0, 0, true, "NULL"}},
        {"SELECT CAST(NULL AS nvarchar(20))", {"", ColType::NVarChar, 20, 0, 0, true, "NULL"}},
        {"SELECT CAST(N'абв' AS varchar(10))", {"", ColType::VarChar, 10, 0, 0, false, "абв"}},
        {s("SELECT CAST(subgroup AS varchar)", kFirstRegistration), {"", ColType::VarChar, 30, 0, 0, true, "1"}},
        {s("SELECT CAST(subgroup AS smallint)", kFirstRegistration), {"", ColType::SmallInt, 0, 0, 0, true, "1"}},
        {"SELECT CAST('2026-12-31' AS datetime)", {"", ColType::DateTime, 0, 0, 0, false, "2026-12-31 00:00:00"}},
        {"SELECT CAST('2026-12-31 10:30' AS date)", {"", ColType::Date, 0, 0, 0, false, "2026-12-31"}},
        {"SELECT CONVERT(datetime, '31.12.2026', 104)", {"", ColType::DateTime, 0, 0, 0, false, "2026-12-31 00:00:00"}},
        {"SELECT CONVERT(date, '12/31/2026', 101)", {"", ColType::Date, 0, 0, 0, false, "2026-12-31"}},
        {"SELECT CAST(endDate AS date) FROM V_Date_reg_DFS WHERE id_group = 1",
         {"", ColType::Date, 0, 0, 0, true, "2099-12-31"}},
        {"SELECT CAST(36524 AS datetime)", {"", ColType::DateTime, 0, 0, 0, false, "2000-01-01 00:00:00.000"}},
        // Aggregates
        {s("SELECT SUM(kredits)", kNoRegistration), {"", ColType::Int, 0, 0, 0, true, "NULL"}},
        {s("SELECT SUM(kredits)", kFirstRegistration), {"", ColType::Int, 0, 0, 0, true, "5"}},
        {s("SELECT SUM(CAST(kredits AS bigint))", kFirstRegistration), {"", ColType::BigInt, 0, 0, 0, true, "5"}},
        {s("SELECT SUM(CAST(kredits AS decimal(5,1)))", kFirstRegistration),
         {"", ColType::Decimal, 0, 38, 1, true, "5"}},
        {s("SELECT SUM(CAST(kredits AS float))", kFirstRegistration), {"", ColType::Float, 0, 0, 0, true, "5"}},
        {s("SELECT AVG(kredits)", kFirstRegistration), {"", ColType::Int, 0, 0, 0, true, "5"}},
        {s("SELECT AVG(CAST(kredits AS decimal(5,1)))", kFirstRegistration),
         {"", ColType::Decimal, 0, 38, 6, true, "5"}},
        {s("SELECT MAX(subgroup)", kFirstRegistration), {"", ColType::Int, 0, 0, 0, true, "1"}},
        {s("SELECT COUNT(*)", kNoRegistration), {"", ColType::Int, 0, 0, 0, true, "0"}},
        // Arithmetic and text
        {s("SELECT kredits + 1", kFirstRegistration), {"", ColType::Int, 0, 0, 0, true, "6"}},
        {"SELECT CAST(1 AS smallint) + CAST(1 AS tinyint)", {"", ColType::SmallInt, 0, 0, 0, false, "2"}},
        {s("SELECT kredits * 1.5", kFirstRegistration), {"", ColType::Decimal, 0, 13, 1, true, "7.5"}},
        {s("SELECT kredits / 2.0", kFirstRegistration), {"", ColType::Decimal, 0, 17, 6, true, "2.5"}},
        {"SELECT CAST(1.5 AS decimal(10,3)) + CAST(2 AS numeric(5,1))", {"", ColType::Decimal, 0, 11, 3, false, "3.5"}},
        {s("SELECT kredits + 0.5e0", kFirstRegistration), {"", ColType::Float, 0, 0, 0, true, "5.5"}},
        {"SELECT 'a' + N'бв'", {"", ColType::NVarChar, 3, 0, 0, false, "aбв"}},
        {"SELECT dop_potokname + 'x' FROM RRNKkrdt WHERE id_rrnkKrdt = 1",
         {"", ColType::NVarChar, 101, 0, 0, true, ""}},
        {s("SELECT ISNULL(SUM(kredits), 0)", kNoRegistration), {"", ColType::Int, 0, 0, 0, false, "0"}},
        {s("SELECT COALESCE(SUM(kredits), 0)", kNoRegistration), {"", ColType::Int, 0, 0, 0, true, "0"}},
        // Global variables
        {"SELECT @@MAX_PRECISION", {"", ColType::TinyInt, 0, 0, 0, false, "38"}},
        {"SELECT @@TRANCOUNT", {"", ColType::Int, 0, 0, 0, false, "0"}},
        {"SELECT @@TEXTSIZE", {"", ColType::Int, 0, 0, 0, false, "4096"}},
        {"SELECT @@LOCK_TIMEOUT", {"", ColType::Int, 0, 0, 0, false, "-1"}},
        {"SELECT @@SPID", {"", ColType::SmallInt, 0, 0, 0, false, ""}},
        {"SELECT @@VERSION", {"", ColType::NVarChar, 300, 0, 0, false, ""}},
    };
    for (const auto& [sql, want] : rows) {
        SCOPED_TRACE(sql);
        expectDescribed(*session, sql, want);
    }
}

// Where SQLite computes a value the server's type cannot hold (the server would refuse it with an
// overflow), the value is never sent as NULL or cut: the column takes a type its values fit.
TEST_F(ResultTypes, ValuesThatDoNotFitTheTypeAreNeverLost) {
    auto session = op();
    const struct {
        const char* sql;
        ColType type;
        const char* value;
    } rows[] = {
        {"SELECT CAST(1 AS tinyint) - 2", ColType::Int, "-1"},  // SQLite does not overflow a tinyint
        {"SELECT CAST(100000 AS smallint) + 0", ColType::Int, "100000"},
        {"SELECT 2147483647 + 1", ColType::BigInt, "2147483648"},
        {"SELECT CAST(12345.5 AS decimal(5,1))", ColType::Float, "12345.5"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sql);
        const BatchOutcome b = session->executeBatch(row.sql);
        const ResultSet* rs = firstResult(b);
        ASSERT_NE(rs, nullptr) << error(b);
        EXPECT_EQ(rs->columns[0].type, row.type);
        EXPECT_EQ(text(rs->rows[0][0]), row.value);
    }
}

// The workstation's reads: their NOT NULL columns are described so, the rest as nullable; texts
// are as long as declared (never shorter than a value).
TEST_F(ResultTypes, WorkstationReadsDescribeTheirColumns) {
    auto session = op();
    const std::map<std::string, std::vector<std::pair<std::string, bool>>> nullability = {
        {"rights",
         {{"id_QTL_user", false}, {"visible", false}, {"QTL_login", false}, {"canRemoveDFSFromExStudent", false}}},
        {"faculties", {{"id_faculty", false}, {"faculty", false}}},
        {"w_s", {{"id_w_s", false}, {"p42", false}, {"ws_sort", false}}},
        {"limit26", {{"id_field", true}}},
        {"teachers", {{"id_teacher", false}, {"t_fio", false}}},
        {"examinations", {{"id_examination", false}, {"examination", false}}},
        {"groups3", {{"id_group", false}, {"group", false}, {"o_z", false}, {"descGroupNum", false}}},
        {"subgroup", {{"subgroup", false}, {"subgroupAndName", true}}},
        {"creditSum", {{"Sumkredits", true}}},
        {"deadline", {{"endDate", true}, {"id_group", false}}},
        {"registrations", {{"id_disciplineForStudent", false}, {"kredits", true}, {"p34", false}}},
    };
    for (const auto& st : tsql_statements::reads()) {
        const auto it = nullability.find(st.what);
        if (it == nullability.end()) continue;
        SCOPED_TRACE(st.what);
        const BatchOutcome b = session->executeBatch(st.sql);
        const ResultSet* rs = firstResult(b);
        ASSERT_NE(rs, nullptr) << error(b);
        for (const auto& [name, nullable] : it->second) {
            const auto c = std::find_if(rs->columns.begin(), rs->columns.end(),
                                        [&](const Column& col) { return col.name == name; });
            ASSERT_NE(c, rs->columns.end()) << name;
            EXPECT_EQ(c->nullable, nullable) << name;
            EXPECT_EQ(c->identity, name == "id_disciplineForStudent") << name;
        }
    }
    // The credit sum of a student without registrations: an int that is NULL, as the server sends it.
    tsql_statements::Ids none;
    none.creditStudent = demo::kStudentEliseeva;
    for (const auto& st : tsql_statements::reads(none)) {
        if (std::string(st.what) != "creditSum") continue;
        const BatchOutcome b = session->executeBatch(st.sql);
        const ResultSet* rs = firstResult(b);
        ASSERT_NE(rs, nullptr);
        EXPECT_EQ(rs->columns[0].type, ColType::Int);
        ASSERT_EQ(rs->rows.size(), 1u);
        EXPECT_EQ(text(rs->rows[0][0]), "NULL");
    }
}

TEST_F(ResultTypes, GlobalVariablesClientsReadOnConnect) {
    auto session = op();
    session->setSpid(57);
    EXPECT_EQ(scalar(*session, "SELECT @@SPID"), "57");
    EXPECT_EQ(scalar(*session, "SELECT @@MAX_PRECISION"), "38");
    EXPECT_NE(scalar(*session, "SELECT @@VERSION").find("qtl-devserver"), std::string::npos);
    EXPECT_EQ(scalar(*session, "SELECT @@LANGUAGE"), "us_english");
    // A variable the server does not have is still refused as an undeclared one.
    EXPECT_EQ(error(session->executeBatch("SELECT @@NO_SUCH_THING")),
              "137 Must declare the scalar variable \"@@NO_SUCH_THING\".");
    EXPECT_EQ(error(session->executeBatch("SELECT @x")), "137 Must declare the scalar variable \"@x\".");
}

TEST_F(ResultTypes, TextSizeIsKeptAndZeroRestoresTheDefault) {
    auto session = op();
    const struct {
        const char* set;
        const char* textSize;
        const char* error;
    } steps[] = {
        {"SET TEXTSIZE 2147483647", "2147483647", ""}, {"SET TEXTSIZE 0", "4096", ""},
        {"SET TEXTSIZE 65536", "65536", ""},           {"SET TEXTSIZE big", "65536", "102"},
        {"SET TEXTSIZE 99999999999", "65536", "102"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.set);
        EXPECT_EQ(error(session->executeBatch(step.set)).substr(0, 3), step.error);
        EXPECT_EQ(scalar(*session, "SELECT @@TEXTSIZE"), step.textSize);
    }
}

// SET IMPLICIT_TRANSACTIONS ON: a statement over a table starts a transaction when none is
// open, a SELECT of no table does not, BEGIN TRAN counts on top of the implicit one; COMMIT or
// ROLLBACK ends it and the next statement starts another.
TEST_F(ResultTypes, ImplicitTransactionsStartAtTheFirstStatementOverATable) {
    auto session = op();
    const std::string insert = "INSERT INTO DisciplineForStudent (id_student, id_discipline) VALUES (" +
                               std::to_string(demo::kStudentZhdanov) + ", 777)";
    const auto count777 = [&] {
        auto other = op();
        return scalar(*other, "SELECT count(*) FROM DisciplineForStudent WHERE id_discipline = 777");
    };
    const struct {
        const char* sql;
        int tranCount;  // after it
        StatementOutcome::Tran tran;  // the ENVCHANGE its first statement sends
    } steps[] = {
        {"SET IMPLICIT_TRANSACTIONS ON", 0, StatementOutcome::Tran::None},
        {"SELECT 1", 0, StatementOutcome::Tran::None},
        {"SELECT @@TRANCOUNT", 0, StatementOutcome::Tran::None},
        {"SELECT count(*) FROM w_s", 1, StatementOutcome::Tran::Begin},
        {"SELECT count(*) FROM w_s", 1, StatementOutcome::Tran::None},
        {"COMMIT", 0, StatementOutcome::Tran::Commit},
        {"BEGIN TRAN", 2, StatementOutcome::Tran::Begin},
        {"COMMIT", 1, StatementOutcome::Tran::None},
        {"IF @@TRANCOUNT > 0 ROLLBACK TRAN", 0, StatementOutcome::Tran::Rollback},
        {"SET IMPLICIT_TRANSACTIONS OFF", 0, StatementOutcome::Tran::None},
        {"SELECT count(*) FROM w_s", 0, StatementOutcome::Tran::None},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.sql);
        const BatchOutcome b = session->executeBatch(step.sql);
        EXPECT_EQ(session->tranCount(), step.tranCount);
        EXPECT_EQ(b.statements[0].tran, step.tran);
    }
    // An implicit transaction's write is undone by ROLLBACK and kept by COMMIT.
    EXPECT_EQ(error(session->executeBatch("SET IMPLICIT_TRANSACTIONS ON\r\n" + insert)), "");
    EXPECT_EQ(session->tranCount(), 1);
    EXPECT_EQ(error(session->executeBatch("ROLLBACK")), "");
    EXPECT_EQ(count777(), "0");
    EXPECT_EQ(error(session->executeBatch(insert + "\r\nIF @@TRANCOUNT > 0 COMMIT TRAN")), "");
    EXPECT_EQ(session->tranCount(), 0);
    EXPECT_EQ(count777(), "1");
    session->executeBatch("SET IMPLICIT_TRANSACTIONS OFF DELETE FROM DisciplineForStudent WHERE id_discipline = 777");
    EXPECT_EQ(count777(), "0");
}

// An identity column takes no value from an INSERT unless IDENTITY_INSERT is ON for its table,
// and then must be given one; one table at a time, and only one the account may insert into.
TEST_F(ResultTypes, IdentityColumnsTakeExplicitValuesOnlyWithIdentityInsert) {
    auto session = op();
    const std::string withId = "INSERT INTO QTL_LOG (id_QTL_LOG, [table], descr) VALUES (900001, 't', 'identity')";
    const std::string withoutId = "INSERT INTO QTL_LOG ([table], descr) VALUES ('t', 'identity')";
    const struct {
        std::string sql;
        const char* error;
    } steps[] = {
        {withId,
         "544 Cannot insert explicit value for identity column in table 'QTL_LOG' when IDENTITY_INSERT is "
         "set to OFF."},
        {"INSERT INTO DisciplineForStudent (id_disciplineForStudent, id_student, id_discipline) VALUES (1, 1, 1)",
         "544 Cannot insert explicit value for identity column in table 'DisciplineForStudent' when "
         "IDENTITY_INSERT is set to OFF."},
        {"SET IDENTITY_INSERT w_s ON",
         "1088 Cannot find the object \"w_s\" because it does not exist or you do not "
         "have permissions."},
        {"SET IDENTITY_INSERT no_such_table ON",
         "1088 Cannot find the object \"no_such_table\" because it does not exist or you do not have permissions."},
        {"SET IDENTITY_INSERT [QTL].[dbo].[QTL_LOG] ON", ""},
        {withId, ""},
        {withoutId,
         "545 Explicit value must be specified for identity column in table 'QTL_LOG' either when "
         "IDENTITY_INSERT is set to ON or when a replication user is inserting into a NOT FOR "
         "REPLICATION identity column."},
        {"SET IDENTITY_INSERT DisciplineForStudent ON",
         "8107 IDENTITY_INSERT is already ON for table 'QTL.dbo.QTL_LOG'. Cannot perform SET operation for table "
         "'DisciplineForStudent'."},
        {"SET IDENTITY_INSERT QTL_LOG OFF", ""},
        {withoutId, ""},
        {withId,
         "544 Cannot insert explicit value for identity column in table 'QTL_LOG' when IDENTITY_INSERT is "
         "set to OFF."},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.sql);
        EXPECT_EQ(error(session->executeBatch(step.sql)), step.error);
    }
    // The explicit value was stored, and the next automatic one comes after it.
    EXPECT_EQ(scalar(*session, "SELECT max(id_QTL_LOG) FROM QTL_LOG WHERE descr = 'identity'"), "900002");
    EXPECT_EQ(scalar(*session, "SELECT count(*) FROM QTL_LOG WHERE descr = 'identity'"), "2");
    // Nor does an UPDATE change an identity value: the batch is refused before anything of it runs.
    const struct {
        const char* sql;
        const char* error;
    } updates[] = {
        {"UPDATE QTL_LOG SET id_QTL_LOG = 5 WHERE 1 = 0", "8102 Cannot update identity column 'id_QTL_LOG'."},
        {"UPDATE DisciplineForStudent SET kredits = 5, DisciplineForStudent.id_disciplineForStudent = 9 WHERE 1 = 0",
         "8102 Cannot update identity column 'id_disciplineForStudent'."},
        {"UPDATE DisciplineForStudent SET kredits = kredits WHERE id_disciplineForStudent = 1", ""},
    };
    for (const auto& u : updates) {
        SCOPED_TRACE(u.sql);
        const BatchOutcome b = session->executeBatch(std::string("SELECT 1\r\n") + u.sql);
        EXPECT_EQ(error(b), u.error);
        EXPECT_EQ(firstResult(b) != nullptr, *u.error == 0);  // a refused batch runs nothing
    }
    // The settings-file account may not switch it.
    auto entry = as(demo::kSettingsUser, demo::kSettingsPassword);
    EXPECT_EQ(error(entry->executeBatch("SET IDENTITY_INSERT QTL_LOG ON")).substr(0, 4), "1088");
}

// SET LOCK_TIMEOUT bounds how long this session's statements wait for a lock another session
// holds (error 1222), and @@LOCK_TIMEOUT says what it is.
TEST_F(ResultTypes, LockTimeoutBoundsTheSessionsWait) {
    auto holder = op();
    auto waiter = op();
    const std::string insert = "INSERT INTO DisciplineForStudent (id_student, id_discipline) VALUES (" +
                               std::to_string(demo::kStudentZhdanov) + ", 778)";
    ASSERT_EQ(error(holder->executeBatch("BEGIN TRAN " + insert)), "");
    const struct {
        const char* set;
        const char* reported;
        int atLeastMs, belowMs;
    } cases[] = {{"SET LOCK_TIMEOUT 0", "0", 0, 1000}, {"SET LOCK_TIMEOUT 300", "300", 250, 3000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set);
        EXPECT_EQ(error(waiter->executeBatch(c.set)), "");
        EXPECT_EQ(scalar(*waiter, "SELECT @@LOCK_TIMEOUT"), c.reported);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(error(waiter->executeBatch(insert)), "1222 Lock request time out period exceeded.");
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(ms, c.atLeastMs);
        EXPECT_LT(ms, c.belowMs);
    }
    // -1 waits until the holder ends.
    EXPECT_EQ(error(waiter->executeBatch("SET LOCK_TIMEOUT -1")), "");
    EXPECT_EQ(scalar(*waiter, "SELECT @@LOCK_TIMEOUT"), "-1");
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        holder->executeBatch("ROLLBACK");
    });
    EXPECT_EQ(error(waiter->executeBatch(insert + " DELETE FROM DisciplineForStudent WHERE id_discipline = 778")), "");
    release.join();
}
