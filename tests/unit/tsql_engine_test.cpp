// The engine on a real QTL database (small demo data): the workstation's statements, the
// server's error and transaction rules, fault injection.
#include "engine.h"
#include "qtl/demo_ids.h"
#include "tsql_statements.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
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

int columnIndex(const ResultSet& rs, const std::string& name) {
    for (std::size_t i = 0; i < rs.columns.size(); ++i)
        if (rs.columns[i].name == name) return static_cast<int>(i);
    return -1;
}

std::string readSql(const std::string& what) {
    for (const auto& st : tsql_statements::reads())
        if (st.what == what) return st.sql;
    return "no such statement";
}

std::string text(const Value& v) { return std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : "<not text>"; }

// Every read the workstation sends runs, returns rows and the columns it reads, with types.
TEST_F(EngineTest, EveryWorkstationReadRuns) {
    auto s = session();
    const std::map<std::string, std::vector<std::string>> reads = {
        {"rights", {"id_QTL_user"}},
        {"faculties", {"id_faculty", "faculty"}},
        {"w_s", {"id_w_s", "p42", "ws_sort"}},
        {"limit26", {"id_field"}},
        {"year2", {"id_a_year", "p32"}},
        {"kafedra", {"kafedra", "id_kafedra", "id_a_year"}},
        {"year", {"id_a_year", "year"}},
        {"semester2", {"id_semester", "semester", "id_w_s"}},
        {"subgroup", {"subgroup", "subgroupAndName"}},
        {"subgroup2", {"subgroup"}},
        {"teachers", {"id_teacher", "t_fio"}},
        {"semester", {"id_w_s", "p42", "ws_sort"}},
        {"disciplines", {"rowNum", "discipline", "id_discipline", "Krdt"}},
        {"examinations", {"id_examination", "examination"}},
        {"groups3", {"id_group", "group", "o_z", "descGroupNum"}},
        {"groups", {"id_group", "group", "o_z", "id_semester"}},
        {"insSemester", {"id_semester"}},
        {"groupEduc", {"p108"}},
        {"descGroupNum", {"descGroupNum"}},
        {"studentsA", {"id_student", "IsSelected", "IsTeacher", "s_fio"}},
        {"studentsB", {"id_student", "IsSelected", "IsTeacher", "s_fio"}},
        {"deadline", {"endDate"}},
        {"lessonKind", {"id_vid_zaniatiy"}},
        {"streamFaculty", {"id_faculty"}},
        {"creditSum", {"Sumkredits"}},
        {"streams", {"id_faculty", "id_student", "id_disciplineForStudent", "s_fio"}},
        {"studentInfo", {"id_kafedra", "id_teacher", "id_discipline", "discipline", "subGroup"}},
        {"teachers2", {"id_teacher", "t_fio"}},
        {"search", {"id_student", "s_fio", "p20"}},
        {"registrations", {"id_disciplineForStudent", "p43", "p34", "kredits", "subgroup", "p30", "s_t_fio"}},
    };
    for (const auto& st : tsql_statements::reads()) {
        SCOPED_TRACE(st.what);
        BatchOutcome b = s->executeBatch(st.sql);
        ASSERT_EQ(b.statements.size(), 1u);
        const Message* e = firstError(b);
        ASSERT_EQ(e, nullptr) << e->text;
        ASSERT_EQ(b.statements[0].results.size(), 1u);
        const ResultSet& rs = b.statements[0].results[0];
        EXPECT_FALSE(rs.rows.empty());
        auto it = reads.find(st.what);
        if (it == reads.end()) continue;
        for (const std::string& col : it->second) EXPECT_GE(columnIndex(rs, col), 0) << col;
    }
}

TEST_F(EngineTest, ResultsCarryTheServersTypesNamesAndValues) {
    auto s = session();
    BatchOutcome b = s->executeBatch("SELECT * FROM w_s ORDER BY id_w_s");
    ASSERT_EQ(b.statements[0].results.size(), 1u);
    const ResultSet& ws = b.statements[0].results[0];
    ASSERT_EQ(ws.columns.size(), 3u);   // table order
    EXPECT_EQ(ws.columns[0].name, "id_w_s");
    EXPECT_EQ(ws.columns[0].type, ColType::Int);
    EXPECT_EQ(ws.columns[1].name, "p42");
    EXPECT_EQ(ws.columns[1].type, ColType::NVarChar);
    EXPECT_EQ(ws.columns[1].maxChars, 50);
    EXPECT_EQ(text(ws.rows[0][1]), "Осенний");

    b = s->executeBatch("SELECT -1 as  descGroupNum, 1.5 AS f, 'x' + 'y', NULL AS n, visible FROM QTL_User WHERE QTL_login = 'OPERATOR'");
    const ResultSet& rs = b.statements[0].results[0];
    ASSERT_EQ(rs.columns.size(), 5u);
    EXPECT_EQ(rs.columns[0].type, ColType::Int);
    EXPECT_EQ(std::get<std::int64_t>(rs.rows[0][0]), -1);
    EXPECT_EQ(rs.columns[1].type, ColType::Float);
    EXPECT_EQ(rs.columns[2].name, "");
    EXPECT_EQ(text(rs.rows[0][2]), "xy");
    EXPECT_EQ(rs.columns[3].type, ColType::NVarChar);
    EXPECT_EQ(rs.columns[4].type, ColType::Bit);

    b = s->executeBatch(readSql("deadline"));  // a datetime column
    const ResultSet& d = b.statements[0].results[0];
    const int end = columnIndex(d, "endDate");
    ASSERT_GE(end, 0);
    EXPECT_EQ(d.columns[static_cast<std::size_t>(end)].type, ColType::DateTime);
    EXPECT_EQ(text(d.rows[0][static_cast<std::size_t>(end)]).size() >= 19, true);
}

TEST_F(EngineTest, TextsCompareAndSortAsACyrillicCaseInsensitiveServer) {
    auto s = session();
    // Ежов < Ёлкин < Жукова in Russian order (a byte order would put Ё first).
    BatchOutcome b = s->executeBatch(
        "SELECT DISTINCT dbo.t_fio.t_fio FROM dbo.RRNKkrdt INNER JOIN dbo.t_fio ON dbo.RRNKkrdt.id_teacher = "
        "dbo.t_fio.id_teacher WHERE (dbo.RRNKkrdt.id_kafedra = " + std::to_string(demo::kKafedraB) +
        ") AND prov_reyt>0 ORDER BY dbo.t_fio.t_fio");
    const ResultSet& rs = b.statements[0].results[0];
    ASSERT_GE(rs.rows.size(), 3u);
    EXPECT_EQ(text(rs.rows[0][0]).substr(0, 8), "Ежов");
    EXPECT_EQ(text(rs.rows[1][0]).substr(0, 10), "Ёлкин");
    EXPECT_EQ(text(rs.rows[2][0]).substr(0, 12), "Жукова");
    // LIKE ignores case in Cyrillic; "=" on a computed text too.
    EXPECT_EQ(scalarInt(*s, "SELECT COUNT(*) FROM dbo.s_fio WHERE s_fio LIKE '%ёлкина%'"), 1);
    EXPECT_EQ(scalarInt(*s, "SELECT COUNT(*) FROM QTL_User WHERE QTL_login + '' = 'OPERATOR'"), 1);
    // "= NULL" finds nothing, as with ANSI_NULLS on.
    EXPECT_EQ(scalarInt(*s, "SELECT COUNT(*) FROM dbo.RRNKkrdt WHERE dop_potokname = NULL"), 0);
}

TEST_F(EngineTest, TextJoinedWithNullIsNull) {
    auto s = session();
    BatchOutcome b = s->executeBatch(readSql("subgroup"));  // streams of the chooser
    const ResultSet& rs = b.statements[0].results[0];
    bool sawNamed = false, sawNull = false;
    for (const auto& row : rs.rows) {
        const auto sub = std::get<std::int64_t>(row[0]);
        if (sub == demo::kStreamNamed) {
            EXPECT_EQ(text(row[1]), "1 - [ИТ-21, ИТ-22]");
            sawNamed = true;
        }
        if (sub == demo::kStreamUnnamed) {
            EXPECT_TRUE(std::holds_alternative<std::monostate>(row[1]));
            sawNull = true;
        }
    }
    EXPECT_TRUE(sawNamed);
    EXPECT_TRUE(sawNull);
    // A number and a text that is no number: the server's conversion error.
    b = s->executeBatch("SELECT subgroup + ' - [' FROM dbo.RRNKkrdt");
    ASSERT_NE(firstError(b), nullptr);
    EXPECT_EQ(firstError(b)->number, 245);
    EXPECT_EQ(firstError(b)->text, "Conversion failed when converting the nvarchar value ' - [' to data type int.");
}

TEST_F(EngineTest, RegisterRemoveAndAuditWrites) {
    auto s = session();
    const std::string student = std::to_string(demo::kStudentEliseeva);
    BatchOutcome b = s->executeBatch(
        "INSERT INTO DisciplineForStudent  (id_student, descGroupNum, id_discipline, id_a_year, id_semester, "
        "id_ins_year, id_ins_semester, id_teacher, id_group,  id_examination, subGroup, QTL_user, id_faculty, "
        "id_kafedra, kredits, isByPlan, id_vid_zaniatiy) VALUES(" + student + ", 1, 1,15,4,15,4,1,1,1,1, 'o''neil',1,1,5,1,1)");
    ASSERT_EQ(firstError(b), nullptr) << firstError(b)->text;
    EXPECT_TRUE(b.statements[0].hasRowCount);
    EXPECT_EQ(b.statements[0].rowCount, 1);
    const std::int64_t id = scalarInt(*s, "SELECT TOP (1) id_disciplineForStudent FROM dbo.DisciplineForStudent WHERE "
                                          "id_student =" + student + " ORDER BY id_disciplineForStudent DESC");
    ASSERT_GT(id, 0);
    EXPECT_EQ(scalarInt(*s, "SELECT COUNT(*) FROM DisciplineForStudent WHERE QTL_user = 'O''NEIL'"), 1);

    b = s->executeBatch("UPDATE DisciplineForStudent SET subGroup = 2,  id_teacher = 1 WHERE (id_disciplineForStudent = " +
                        std::to_string(id) + ")");
    EXPECT_EQ(b.statements[0].rowCount, 1);

    const std::string del = "DELETE FROM DisciplineForStudent WHERE (id_disciplineForStudent = " + std::to_string(id) + ")";
    b = s->executeBatch(del);
    EXPECT_EQ(b.statements[0].rowCount, 1);
    // The audit line comes after the repeated DELETE in one batch: two statements, two counts.
    b = s->executeBatch(del + "\r\nINSERT INTO QTL_LOG([table], [row_id], [descr], [QTL_User], [comp]) "
                              "VALUES('DisciplineForStudent', " + std::to_string(id) +
                        ", 'Запись с уникальным номером - ''" + std::to_string(id) +
                        "'' была удалена - (id_student[" + student + "]).', 'operator', 'PC7\\10.0.0.5')");
    ASSERT_EQ(b.statements.size(), 2u);
    EXPECT_EQ(b.statements[0].rowCount, 0);
    EXPECT_EQ(b.statements[1].rowCount, 1);
    b = s->executeBatch("SELECT [descr], comp FROM QTL_LOG WHERE row_id = " + std::to_string(id));
    ASSERT_EQ(b.statements[0].results[0].rows.size(), 1u);
    EXPECT_EQ(text(b.statements[0].results[0].rows[0][0]),
              "Запись с уникальным номером - '" + std::to_string(id) + "' была удалена - (id_student[" + student + "]).");
    EXPECT_EQ(text(b.statements[0].results[0].rows[0][1]), "PC7\\10.0.0.5");
}

TEST_F(EngineTest, StatementsBuiltFromEmptyValuesFailWholeBatchBeforeRunning) {
    auto s = session();
    const std::int64_t before = scalarInt(*s, "SELECT COUNT(*) FROM QTL_LOG");
    BatchOutcome b = s->executeBatch("INSERT INTO QTL_LOG([table]) VALUES('x')\r\n"
                                     "SELECT id_semester FROM dbo.semester WHERE (id_w_s =) AND (id_rate = 1)");
    ASSERT_EQ(b.statements.size(), 1u);
    EXPECT_TRUE(b.statements[0].failed);
    ASSERT_EQ(b.statements[0].messages.size(), 1u);
    EXPECT_EQ(b.statements[0].messages[0].number, 102);
    EXPECT_EQ(b.statements[0].messages[0].severity, 15);
    EXPECT_EQ(b.statements[0].messages[0].text, "Incorrect syntax near ')'.");
    EXPECT_EQ(scalarInt(*s, "SELECT COUNT(*) FROM QTL_LOG"), before);   // the INSERT did not run

    b = s->executeBatch("EXEC SP_Qtl33GetDisciplines @id_a_year =,@id_w_s =1,@id_kafedra =1,@id_teacher =1");
    EXPECT_EQ(firstError(b)->number, 102);
    b = s->executeBatch("SELECT * FROM dbo.DisciplineForStudent WHERE dbo.DisciplineForStudent.id_student = ORDER BY id_semester");
    EXPECT_EQ(firstError(b)->number, 156);
    b = s->executeBatch("SELECT nosuchcol FROM w_s");
    EXPECT_EQ(firstError(b)->text, "Invalid column name 'nosuchcol'.");
    b = s->executeBatch("SELECT 1 FROM dbo.no_table");
    EXPECT_EQ(firstError(b)->text, "Invalid object name 'no_table'.");
    b = s->executeBatch("IF 1 = 1 BEGIN SELECT 1 END");
    ASSERT_NE(firstError(b), nullptr);
    EXPECT_EQ(firstError(b)->number, 40517);
}

TEST_F(EngineTest, RunTimeErrorsEndTheStatementOrWithXactAbortTheBatch) {
    auto s = session();
    const std::int64_t before = scalarInt(*s, "SELECT COUNT(*) FROM QTL_LOG");
    const std::string failing = "INSERT INTO QTL_LOG([table], [row_id]) VALUES('FAILME', 1)";
    const std::string good = "INSERT INTO QTL_LOG([table], [row_id]) VALUES('ok', 2)";
    BatchOutcome b = s->executeBatch(failing + "\r\n" + good);
    ASSERT_EQ(b.statements.size(), 2u);
    EXPECT_TRUE(b.statements[0].failed);
    EXPECT_EQ(b.statements[0].messages[0].number, 50000);
    EXPECT_EQ(b.statements[0].messages[0].text.rfind("Injected failure: INSERT INTO QTL_LOG", 0), 0u);
    EXPECT_FALSE(b.statements[1].failed);
    EXPECT_EQ(scalarInt(*s, "SELECT COUNT(*) FROM QTL_LOG"), before + 1);

    b = s->executeBatch("SET XACT_ABORT ON BEGIN TRAN\r\n" + good + "\r\n" + failing + "\r\n" + good + "\r\nCOMMIT");
    ASSERT_EQ(b.statements.size(), 4u);   // SET, BEGIN, INSERT, the failing INSERT; the rest never ran
    EXPECT_EQ(b.statements[1].tran, StatementOutcome::Tran::Begin);
    EXPECT_TRUE(b.statements[3].failed);
    EXPECT_EQ(b.statements[3].tran, StatementOutcome::Tran::Rollback);
    EXPECT_EQ(scalarInt(*s, "SELECT COUNT(*) FROM QTL_LOG"), before + 1);   // the first INSERT rolled back

    // Without XACT_ABORT the transaction stays open and COMMIT keeps the good rows.
    b = s->executeBatch("SET XACT_ABORT OFF BEGIN TRAN " + good + " " + failing + " COMMIT TRAN");
    ASSERT_EQ(b.statements.size(), 5u);
    EXPECT_TRUE(b.statements[3].failed);
    EXPECT_EQ(b.statements[4].tran, StatementOutcome::Tran::Commit);
    EXPECT_EQ(scalarInt(*s, "SELECT COUNT(*) FROM QTL_LOG"), before + 2);
}

TEST_F(EngineTest, TransactionsNestByCountAndRollBackEverything) {
    auto s = session();
    const std::int64_t before = scalarInt(*s, "SELECT COUNT(*) FROM QTL_LOG");
    BatchOutcome b = s->executeBatch("BEGIN TRAN BEGIN TRAN INSERT INTO QTL_LOG(row_id) VALUES(5) COMMIT");
    EXPECT_EQ(b.statements[0].tran, StatementOutcome::Tran::Begin);
    EXPECT_EQ(b.statements[1].tran, StatementOutcome::Tran::None);
    EXPECT_EQ(b.statements[3].tran, StatementOutcome::Tran::None);   // still one level open
    auto other = session();
    b = s->executeBatch("ROLLBACK");
    EXPECT_EQ(b.statements[0].tran, StatementOutcome::Tran::Rollback);
    EXPECT_EQ(scalarInt(*s, "SELECT COUNT(*) FROM QTL_LOG"), before);
    b = s->executeBatch("COMMIT");
    EXPECT_EQ(firstError(b)->number, 3902);
}

TEST_F(EngineTest, RoutinesAndTheClientsStartupBatch) {
    auto s = session();
    BatchOutcome b = s->executeBatch("sp_datatype_info_100 11");
    ASSERT_EQ(b.statements.size(), 1u);
    EXPECT_FALSE(b.statements[0].failed);
    EXPECT_TRUE(b.statements[0].isProcedure);
    ASSERT_EQ(b.statements[0].results.size(), 1u);
    EXPECT_GT(b.statements[0].results[0].columns.size(), 0u);
    b = s->executeBatch("no_such_proc 1");
    EXPECT_EQ(firstError(b)->text, "Could not find stored procedure 'no_such_proc'.");
    b = s->executeBatch("EXEC GET_USER 'operator','4B583376B2767B923C3E1DA60D10DE59',NULL, 'QTL 33', '1.2.3.4', 'PC', "
                        "'operator','0','4'");
    ASSERT_EQ(firstError(b), nullptr);
    EXPECT_TRUE(b.statements[0].isProcedure);
    ASSERT_EQ(b.statements[0].results.size(), 1u);
    EXPECT_EQ(b.statements[0].results[0].columns.size(), 6u);
    EXPECT_EQ(std::get<std::int64_t>(b.statements[0].results[0].rows[0][2]), demo::kUserOperator);
}

TEST_F(EngineTest, NocountAndDateformatAreSessionSettings) {
    auto s = session();
    BatchOutcome b = s->executeBatch("SET DATEFORMAT dmy\r\nSET NOCOUNT ON\r\nUPDATE w_s SET ws_sort = ws_sort WHERE 1 = 0");
    ASSERT_EQ(b.statements.size(), 3u);
    EXPECT_FALSE(b.statements[2].hasRowCount);
    b = s->executeBatch("SET NOCOUNT OFF UPDATE w_s SET ws_sort = ws_sort WHERE 1 = 0");
    EXPECT_TRUE(b.statements[1].hasRowCount);
    EXPECT_EQ(b.statements[1].rowCount, 0);
    b = s->executeBatch("   -- only a comment\r\n");
    ASSERT_EQ(b.statements.size(), 1u);
    EXPECT_FALSE(b.statements[0].failed);
}

// Dates as text follow the session's DATEFORMAT on the way in and come back as DATETIME values.
TEST_F(EngineTest, TextDatesFollowTheSessionsDateformat) {
    const std::string row = " WHERE id_group = 987654";
    auto dmy = session();
    auto mdy = session();
    auto endDate = [&](Session& s) -> std::string {
        BatchOutcome b = s.executeBatch("SELECT endDate FROM V_Date_reg_DFS" + row);
        if (b.statements.size() != 1 || b.statements[0].results.size() != 1 || b.statements[0].results[0].rows.size() != 1)
            return "<no single row>";
        const ResultSet& rs = b.statements[0].results[0];
        EXPECT_EQ(rs.columns[0].type, ColType::DateTime);
        return text(rs.rows[0][0]);
    };
    // SET and INSERT in one batch: the format counts although the batch was compiled before it ran.
    BatchOutcome b = dmy->executeBatch(
        "SET DATEFORMAT dmy\r\nINSERT INTO V_Date_reg_DFS (id_a_year, id_w_s, id_f_educ, endDate, id_group) "
        "VALUES (1, 1, 0, '01.02.2030', 987654)");
    ASSERT_EQ(firstError(b), nullptr) << firstError(b)->text;
    EXPECT_EQ(endDate(*dmy), "2030-02-01 00:00:00");
    EXPECT_EQ(endDate(*mdy), "2030-02-01 00:00:00");

    b = mdy->executeBatch("UPDATE V_Date_reg_DFS SET endDate = '01.02.2030 17:30'" + row);
    ASSERT_EQ(firstError(b), nullptr) << firstError(b)->text;
    EXPECT_EQ(endDate(*mdy), "2030-01-02 17:30:00");

    // Comparisons read the text the same way as writes do.
    EXPECT_EQ(scalarInt(*dmy, "SELECT COUNT(*) FROM V_Date_reg_DFS" + row + " AND endDate > '02.01.2030'"), 1);
    EXPECT_EQ(scalarInt(*dmy, "SELECT COUNT(*) FROM V_Date_reg_DFS" + row + " AND endDate < '03.01.2030'"), 1);
    EXPECT_EQ(scalarInt(*mdy, "SELECT COUNT(*) FROM V_Date_reg_DFS" + row + " AND endDate < '01.03.2030'"), 1);
    EXPECT_EQ(scalarInt(*dmy, "SELECT COUNT(*) FROM V_Date_reg_DFS" + row +
                                  " AND endDate BETWEEN '01.01.2030' AND '31.01.2030 23:59'"),
              1);
    EXPECT_EQ(scalarInt(*mdy, "SELECT COUNT(*) FROM V_Date_reg_DFS" + row +
                                  " AND endDate BETWEEN '01.01.2030' AND '01.02.2030'"),
              0);

    // ISO with T reads alike in both sessions.
    b = dmy->executeBatch("UPDATE V_Date_reg_DFS SET endDate = '2030-03-04T10:20:30'" + row);
    ASSERT_EQ(firstError(b), nullptr) << firstError(b)->text;
    EXPECT_EQ(scalarInt(*mdy, "SELECT COUNT(*) FROM V_Date_reg_DFS" + row + " AND endDate = '2030-03-04T10:20:30'"), 1);
    EXPECT_EQ(scalarInt(*mdy, "SELECT COUNT(*) FROM V_Date_reg_DFS" + row + " AND endDate = '03/04/2030 10:20:30'"), 1);
    EXPECT_EQ(scalarInt(*dmy, "SELECT COUNT(*) FROM V_Date_reg_DFS" + row + " AND endDate = '04/03/2030 10:20:30'"), 1);

    // A text that is no date fails its statement at run time; the batch goes on, the row keeps its value.
    b = dmy->executeBatch("UPDATE V_Date_reg_DFS SET endDate = 'завтра'" + row + "\r\nSELECT 5");
    ASSERT_EQ(b.statements.size(), 2u);
    ASSERT_TRUE(b.statements[0].failed);
    ASSERT_FALSE(b.statements[0].messages.empty());
    EXPECT_EQ(b.statements[0].messages[0].number, 241);
    EXPECT_EQ(b.statements[0].messages[0].severity, 16);
    EXPECT_EQ(b.statements[0].messages[0].text, "Conversion failed when converting date and/or time from character string.");
    EXPECT_FALSE(b.statements[1].failed);
    b = dmy->executeBatch("SELECT COUNT(*) FROM V_Date_reg_DFS" + row + " AND endDate = '31.02.2030'");
    ASSERT_NE(firstError(b), nullptr);
    EXPECT_EQ(firstError(b)->number, 242);
    EXPECT_EQ(endDate(*dmy), "2030-03-04 10:20:30");

    b = dmy->executeBatch("DELETE FROM V_Date_reg_DFS" + row);
    EXPECT_EQ(firstError(b), nullptr);
}

// An ATTENTION may reach the session just before the batch it cancels starts: it is kept for that
// batch, and forgotten once the protocol layer says that batch is over.
TEST_F(EngineTest, CancelBeforeTheBatchStartsCancelsItUntilCleared) {
    auto s = session();
    s->cancel();
    BatchOutcome b = s->executeBatch("INSERT INTO QTL_LOG([table]) VALUES('cancelled early') SELECT 2");
    EXPECT_EQ(b.statements.size(), 1u);   // the empty outcome of a batch that ran nothing
    EXPECT_FALSE(b.statements[0].hasRowCount);
    s->clearCancel();
    EXPECT_EQ(scalarInt(*s, "SELECT COUNT(*) FROM QTL_LOG WHERE [table] = 'cancelled early'"), 0);
    b = s->executeBatch("SELECT 1 SELECT 2");
    EXPECT_EQ(b.statements.size(), 2u);
}

TEST_F(EngineTest, WrongPasswordIsRefused) {
    LoginResult r;
    auto s = engine_->login("qtl_entry", "wrong", "QTL", r);
    EXPECT_EQ(s, nullptr);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.number, 18456);
}

}  // namespace
