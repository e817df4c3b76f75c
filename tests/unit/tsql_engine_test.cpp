// The engine on a real QTL database (small demo data): the workstation's statements, the
// server's error and transaction rules, fault injection.
#include "engine.h"
#include "qtl/demo_ids.h"
#include "tsql_statements.h"
#include "tsql/tempstore.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <filesystem>
#include <functional>
#include <thread>
#include <atomic>
#include <mutex>
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
        o.failOn = Pattern("QTL_LOG.*'FAILME'");
        engine_ = makeEngine(o).release();
    }
    static void TearDownTestSuite() {
        delete engine_;
        engine_ = nullptr;
        removeDb(path_);
    }
    // An operator's session: the settings-file account may only sign in.
    std::unique_ptr<Session> session() {
        LoginResult r;
        auto s = engine_->login("qtl_op", "op_pw_33", "QTL", r);
        EXPECT_TRUE(r.ok) << r.error.text;
        return s;
    }
    static std::int64_t scalarInt(Session& s, const std::string& sql) {
        BatchOutcome b = s.executeBatch(sql);
        EXPECT_EQ(b.statements.size(), 1u);
        EXPECT_FALSE(b.statements[0].failed)
            << (b.statements[0].messages.empty() ? "" : b.statements[0].messages[0].text);
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

std::string text(const Value& v) {
    return std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : "<not text>";
}

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
    ASSERT_EQ(ws.columns.size(), 3u);  // table order
    EXPECT_EQ(ws.columns[0].name, "id_w_s");
    EXPECT_EQ(ws.columns[0].type, ColType::Int);
    EXPECT_EQ(ws.columns[1].name, "p42");
    EXPECT_EQ(ws.columns[1].type, ColType::NVarChar);
    EXPECT_EQ(ws.columns[1].maxChars, 50);
    EXPECT_EQ(text(ws.rows[0][1]), "Осенний");

    b = s->executeBatch(
        "SELECT -1 as  descGroupNum, 1.5 AS f, 'x' + 'y', NULL AS n, visible FROM QTL_User WHERE QTL_login = "
        "'OPERATOR'");
    const ResultSet& rs = b.statements[0].results[0];
    ASSERT_EQ(rs.columns.size(), 5u);
    EXPECT_EQ(rs.columns[0].type, ColType::Int);
    EXPECT_EQ(std::get<std::int64_t>(rs.rows[0][0]), -1);
    EXPECT_EQ(rs.columns[1].type, ColType::Decimal);  // a constant with a point is numeric(2,1)
    EXPECT_EQ(rs.columns[2].name, "");
    EXPECT_EQ(text(rs.rows[0][2]), "xy");
    EXPECT_EQ(rs.columns[3].type, ColType::Int);  // a bare NULL is an int
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
        "dbo.t_fio.id_teacher WHERE (dbo.RRNKkrdt.id_kafedra = " +
        std::to_string(demo::kKafedraB) + ") AND prov_reyt>0 ORDER BY dbo.t_fio.t_fio");
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
        "id_kafedra, kredits, isByPlan, id_vid_zaniatiy) VALUES(" +
        student + ", 1, 1,15,4,15,4,1,1,1,1, 'o''neil',1,1,5,1,1)");
    ASSERT_EQ(firstError(b), nullptr) << firstError(b)->text;
    EXPECT_TRUE(b.statements[0].hasRowCount);
    EXPECT_EQ(b.statements[0].rowCount, 1);
    const std::int64_t id = scalarInt(*s,
                                      "SELECT TOP (1) id_disciplineForStudent FROM dbo.DisciplineForStudent WHERE "
                                      "id_student =" +
                                          student + " ORDER BY id_disciplineForStudent DESC");
    ASSERT_GT(id, 0);
    EXPECT_EQ(scalarInt(*s, "SELECT COUNT(*) FROM DisciplineForStudent WHERE QTL_user = 'O''NEIL'"), 1);

    b = s->executeBatch(
        "UPDATE DisciplineForStudent SET subGroup = 2,  id_teacher = 1 WHERE (id_disciplineForStudent = " +
        std::to_string(id) + ")");
    EXPECT_EQ(b.statements[0].rowCount, 1);

    const std::string del =
        "DELETE FROM DisciplineForStudent WHERE (id_disciplineForStudent = " + std::to_string(id) + ")";
    b = s->executeBatch(del);
    EXPECT_EQ(b.statements[0].rowCount, 1);
    // The audit line comes after the repeated DELETE in one batch: two statements, two counts.
    b = s->executeBatch(del +
                        "\r\nINSERT INTO QTL_LOG([table], [row_id], [descr], [QTL_User], [comp]) "
                        "VALUES('DisciplineForStudent', " +
                        std::to_string(id) + ", 'Запись с уникальным номером - ''" + std::to_string(id) +
                        "'' была удалена - (id_student[" + student + "]).', 'operator', 'PC7\\10.0.0.5')");
    ASSERT_EQ(b.statements.size(), 2u);
    EXPECT_EQ(b.statements[0].rowCount, 0);
    EXPECT_EQ(b.statements[1].rowCount, 1);
    b = s->executeBatch("SELECT [descr], comp FROM QTL_LOG WHERE row_id = " + std::to_string(id));
    ASSERT_EQ(b.statements[0].results[0].rows.size(), 1u);
    EXPECT_EQ(text(b.statements[0].results[0].rows[0][0]), "Запись с уникальным номером - '" + std::to_string(id) +
                                                               "' была удалена - (id_student[" + student + "]).");
    EXPECT_EQ(text(b.statements[0].results[0].rows[0][1]), "PC7\\10.0.0.5");
}

TEST_F(EngineTest, StatementsBuiltFromEmptyValuesFailWholeBatchBeforeRunning) {
    auto s = session();
    const std::int64_t before = scalarInt(*s, "SELECT COUNT(*) FROM QTL_LOG");
    BatchOutcome b = s->executeBatch(
        "INSERT INTO QTL_LOG([table]) VALUES('x')\r\n"
        "SELECT id_semester FROM dbo.semester WHERE (id_w_s =) AND (id_rate = 1)");
    ASSERT_EQ(b.statements.size(), 1u);
    EXPECT_TRUE(b.statements[0].failed);
    ASSERT_EQ(b.statements[0].messages.size(), 1u);
    EXPECT_EQ(b.statements[0].messages[0].number, 102);
    EXPECT_EQ(b.statements[0].messages[0].severity, 15);
    EXPECT_EQ(b.statements[0].messages[0].text, "Incorrect syntax near ')'.");
    EXPECT_EQ(scalarInt(*s, "SELECT COUNT(*) FROM QTL_LOG"), before);  // the INSERT did not run

    b = s->executeBatch("EXEC SP_Qtl33GetDisciplines @id_a_year =,@id_w_s =1,@id_kafedra =1,@id_teacher =1");
    EXPECT_EQ(firstError(b)->number, 102);
    b = s->executeBatch(
        "SELECT * FROM dbo.DisciplineForStudent WHERE dbo.DisciplineForStudent.id_student = ORDER BY id_semester");
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
    ASSERT_EQ(b.statements.size(), 4u);  // SET, BEGIN, INSERT, the failing INSERT; the rest never ran
    EXPECT_EQ(b.statements[1].tran, StatementOutcome::Tran::Begin);
    EXPECT_TRUE(b.statements[3].failed);
    EXPECT_EQ(b.statements[3].tran, StatementOutcome::Tran::Rollback);
    EXPECT_EQ(scalarInt(*s, "SELECT COUNT(*) FROM QTL_LOG"), before + 1);  // the first INSERT rolled back

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
    EXPECT_EQ(b.statements[3].tran, StatementOutcome::Tran::None);  // still one level open
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
    b = s->executeBatch(
        "EXEC GET_USER 'operator','4B583376B2767B923C3E1DA60D10DE59',NULL, 'QTL 33', '1.2.3.4', 'PC', "
        "'operator','0','4'");
    ASSERT_EQ(firstError(b), nullptr);
    EXPECT_TRUE(b.statements[0].isProcedure);
    ASSERT_EQ(b.statements[0].results.size(), 1u);
    EXPECT_EQ(b.statements[0].results[0].columns.size(), 6u);
    EXPECT_EQ(std::get<std::int64_t>(b.statements[0].results[0].rows[0][2]), demo::kUserOperator);
}

TEST_F(EngineTest, NocountAndDateformatAreSessionSettings) {
    auto s = session();
    BatchOutcome b = s->executeBatch(
        "SET DATEFORMAT dmy\r\nSET NOCOUNT ON\r\nUPDATE DisciplineForStudent SET subGroup = subGroup WHERE 1 = 0");
    ASSERT_EQ(b.statements.size(), 3u);
    EXPECT_FALSE(b.statements[2].hasRowCount);
    b = s->executeBatch("SET NOCOUNT OFF UPDATE DisciplineForStudent SET subGroup = subGroup WHERE 1 = 0");
    EXPECT_TRUE(b.statements[1].hasRowCount);
    EXPECT_EQ(b.statements[1].rowCount, 0);
    b = s->executeBatch("   -- only a comment\r\n");
    ASSERT_EQ(b.statements.size(), 1u);
    EXPECT_FALSE(b.statements[0].failed);
}

// Dates as text follow the session's DATEFORMAT on the way in and come back as DATETIME values.
TEST_F(EngineTest, TextDatesFollowTheSessionsDateformat) {
    // A registration of a student who does not exist: a table operators may write, with a DATETIME.
    const std::string row = " WHERE id_student = 987654";
    auto dmy = session();
    auto mdy = session();
    auto dateIns = [&](Session& s) -> std::string {
        BatchOutcome b = s.executeBatch("SELECT date_ins FROM DisciplineForStudent" + row);
        if (b.statements.size() != 1 || b.statements[0].results.size() != 1 ||
            b.statements[0].results[0].rows.size() != 1)
            return "<no single row>";
        const ResultSet& rs = b.statements[0].results[0];
        EXPECT_EQ(rs.columns[0].type, ColType::DateTime);
        return text(rs.rows[0][0]);
    };
    // SET and INSERT in one batch: the format counts although the batch was compiled before it ran.
    BatchOutcome b = dmy->executeBatch(
        "SET DATEFORMAT dmy\r\nINSERT INTO DisciplineForStudent (id_student, id_discipline, date_ins) "
        "VALUES (987654, 1, '01.02.2030')");
    ASSERT_EQ(firstError(b), nullptr) << firstError(b)->text;
    EXPECT_EQ(dateIns(*dmy), "2030-02-01 00:00:00");
    EXPECT_EQ(dateIns(*mdy), "2030-02-01 00:00:00");

    b = mdy->executeBatch("UPDATE DisciplineForStudent SET date_ins = '01.02.2030 17:30'" + row);
    ASSERT_EQ(firstError(b), nullptr) << firstError(b)->text;
    EXPECT_EQ(dateIns(*mdy), "2030-01-02 17:30:00");

    // Comparisons read the text the same way as writes do.
    EXPECT_EQ(scalarInt(*dmy, "SELECT COUNT(*) FROM DisciplineForStudent" + row + " AND date_ins > '02.01.2030'"), 1);
    EXPECT_EQ(scalarInt(*dmy, "SELECT COUNT(*) FROM DisciplineForStudent" + row + " AND date_ins < '03.01.2030'"), 1);
    EXPECT_EQ(scalarInt(*mdy, "SELECT COUNT(*) FROM DisciplineForStudent" + row + " AND date_ins < '01.03.2030'"), 1);
    EXPECT_EQ(scalarInt(*dmy, "SELECT COUNT(*) FROM DisciplineForStudent" + row +
                                  " AND date_ins BETWEEN '01.01.2030' AND '31.01.2030 23:59'"),
              1);
    EXPECT_EQ(scalarInt(*mdy, "SELECT COUNT(*) FROM DisciplineForStudent" + row +
                                  " AND date_ins BETWEEN '01.01.2030' AND '01.02.2030'"),
              0);

    // ISO with T reads alike in both sessions.
    b = dmy->executeBatch("UPDATE DisciplineForStudent SET date_ins = '2030-03-04T10:20:30'" + row);
    ASSERT_EQ(firstError(b), nullptr) << firstError(b)->text;
    EXPECT_EQ(
        scalarInt(*mdy, "SELECT COUNT(*) FROM DisciplineForStudent" + row + " AND date_ins = '2030-03-04T10:20:30'"),
        1);
    EXPECT_EQ(
        scalarInt(*mdy, "SELECT COUNT(*) FROM DisciplineForStudent" + row + " AND date_ins = '03/04/2030 10:20:30'"),
        1);
    EXPECT_EQ(
        scalarInt(*dmy, "SELECT COUNT(*) FROM DisciplineForStudent" + row + " AND date_ins = '04/03/2030 10:20:30'"),
        1);

    // A text that is no date fails its statement at run time; the batch goes on, the row keeps its value.
    b = dmy->executeBatch("UPDATE DisciplineForStudent SET date_ins = 'завтра'" + row + "\r\nSELECT 5");
    ASSERT_EQ(b.statements.size(), 2u);
    ASSERT_TRUE(b.statements[0].failed);
    ASSERT_FALSE(b.statements[0].messages.empty());
    EXPECT_EQ(b.statements[0].messages[0].number, 241);
    EXPECT_EQ(b.statements[0].messages[0].severity, 16);
    EXPECT_EQ(b.statements[0].messages[0].text,
              "Conversion failed when converting date and/or time from character string.");
    EXPECT_FALSE(b.statements[1].failed);
    b = dmy->executeBatch("SELECT COUNT(*) FROM DisciplineForStudent" + row + " AND date_ins = '31.02.2030'");
    ASSERT_NE(firstError(b), nullptr);
    EXPECT_EQ(firstError(b)->number, 242);
    EXPECT_EQ(dateIns(*dmy), "2030-03-04 10:20:30");

    b = dmy->executeBatch("DELETE FROM DisciplineForStudent" + row);
    EXPECT_EQ(firstError(b), nullptr);
}

// An ATTENTION may reach the session just before the batch it cancels starts: it is kept for that
// batch, and forgotten once the protocol layer says that batch is over.
TEST_F(EngineTest, CancelBeforeTheBatchStartsCancelsItUntilCleared) {
    auto s = session();
    s->cancel();
    BatchOutcome b = s->executeBatch("INSERT INTO QTL_LOG([table]) VALUES('cancelled early') SELECT 2");
    EXPECT_EQ(b.statements.size(), 1u);  // the empty outcome of a batch that ran nothing
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

// ---- batch and transaction behaviour, one test per row of the README's table -------------------

class BatchRules : public EngineTest {
protected:
    static std::int64_t logged(Session& s, const std::string& table) {
        return scalarInt(s, "SELECT COUNT(*) FROM QTL_LOG WHERE [table] = '" + table + "'");
    }
    static std::string insert(const std::string& table) {
        return "INSERT INTO QTL_LOG([table], [row_id]) VALUES('" + table + "', 1)";
    }
    // A fresh engine on the suite's database with fault injection options.
    static std::unique_ptr<Engine> engineWith(const std::function<void(EngineOptions&)>& set) {
        EngineOptions o;
        o.dbPath = path_;
        set(o);
        return makeEngine(o);
    }
    static std::unique_ptr<Session> sessionOf(Engine& e) {
        LoginResult r;
        return e.login("qtl_op", "op_pw_33", "QTL", r);
    }
};

TEST_F(BatchRules, ParseErrorAnywhereRunsNothing) {
    auto s = session();
    BatchOutcome b = s->executeBatch(insert("parse1") + "\r\nIF @@TRANCOUNT = ROLLBACK TRAN");
    ASSERT_EQ(b.statements.size(), 1u);
    EXPECT_TRUE(b.statements[0].failed);
    b = s->executeBatch(insert("parse1") + "\r\nSELECT 1 IF 1 = SELECT 1");
    ASSERT_EQ(b.statements.size(), 1u);
    EXPECT_TRUE(b.statements[0].failed);
    EXPECT_EQ(logged(*s, "parse1"), 0);
}

// Only a missing table defers compilation; a wrong column of an existing table is found when the
// batch compiles, so the statements before it do not run either.
TEST_F(BatchRules, UnknownColumnOfAnExistingTableRunsNothing) {
    auto s = session();
    BatchOutcome b = s->executeBatch(insert("col1") + "\r\nSELECT nosuchcol FROM w_s");
    ASSERT_EQ(b.statements.size(), 1u);
    ASSERT_NE(firstError(b), nullptr);
    EXPECT_EQ(firstError(b)->number, 207);
    EXPECT_EQ(firstError(b)->text, "Invalid column name 'nosuchcol'.");
    EXPECT_EQ(logged(*s, "col1"), 0);
}

TEST_F(BatchRules, MissingTableEndsTheBatchWhereItIsReachedAndLeavesTheTransactionOpen) {
    auto s = session();
    // Outside a transaction: the first statement has run, the third never does.
    BatchOutcome b =
        s->executeBatch(insert("missing1") + "\r\nSELECT x FROM dbo.no_such_table\r\n" + insert("missing3"));
    ASSERT_EQ(b.statements.size(), 2u);
    EXPECT_FALSE(b.statements[0].failed);
    EXPECT_TRUE(b.statements[0].hasRowCount);
    ASSERT_FALSE(b.statements[1].messages.empty());
    EXPECT_EQ(b.statements[1].messages[0].number, 208);
    EXPECT_EQ(b.statements[1].messages[0].text, "Invalid object name 'no_such_table'.");
    EXPECT_EQ(logged(*s, "missing1"), 1);
    EXPECT_EQ(logged(*s, "missing3"), 0);

    // In a transaction, with XACT_ABORT ON or OFF, the transaction stays open with its work.
    for (const char* xact : {"OFF", "ON"}) {
        SCOPED_TRACE(xact);
        b = s->executeBatch(std::string("SET XACT_ABORT ") + xact + "\r\nBEGIN TRAN\r\n" + insert("missing-tran") +
                            "\r\nDELETE FROM no_such_table\r\nCOMMIT TRAN");
        ASSERT_EQ(b.statements.size(), 4u);
        EXPECT_EQ(b.statements[3].messages.at(0).number, 208);
        EXPECT_EQ(b.statements[3].tran, StatementOutcome::Tran::None);
        EXPECT_EQ(s->tranCount(), 1);
        EXPECT_EQ(scalarInt(*s, "SELECT @@TRANCOUNT"), 1);
        EXPECT_EQ(logged(*s, "missing-tran"), 1);  // seen inside the transaction
        b = s->executeBatch("ROLLBACK TRAN");
        EXPECT_EQ(firstError(b), nullptr);
        EXPECT_EQ(logged(*s, "missing-tran"), 0);
    }
}

TEST_F(BatchRules, RunTimeErrorWithoutXactAbortUndoesOnlyItsStatement) {
    auto s = session();
    // The conversion fails on the third row: the two rows it had inserted are undone as well.
    const std::string partial =
        "INSERT INTO QTL_LOG([table], [row_id]) SELECT 'conv-partial', CAST(CASE WHEN id_w_s = 3 THEN 'abc' ELSE '1' "
        "END AS INT) "
        "FROM w_s ORDER BY id_w_s";
    BatchOutcome b = s->executeBatch("SET XACT_ABORT OFF\r\nBEGIN TRAN\r\n" + insert("conv1") + "\r\n" + partial +
                                     "\r\n" + insert("conv3"));
    ASSERT_EQ(b.statements.size(), 5u);
    ASSERT_TRUE(b.statements[3].failed);
    EXPECT_EQ(b.statements[3].messages.at(0).number, 245);
    EXPECT_EQ(b.statements[3].messages.at(0).text,
              "Conversion failed when converting the nvarchar value 'abc' to data type int.");
    EXPECT_FALSE(b.statements[4].failed);
    EXPECT_EQ(s->tranCount(), 1);
    EXPECT_EQ(logged(*s, "conv-partial"), 0);
    b = s->executeBatch("COMMIT TRAN");
    EXPECT_EQ(firstError(b), nullptr);
    auto other = session();
    EXPECT_EQ(logged(*other, "conv1"), 1);
    EXPECT_EQ(logged(*other, "conv3"), 1);
    EXPECT_EQ(logged(*other, "conv-partial"), 0);
}

TEST_F(BatchRules, RunTimeErrorWithXactAbortEndsTheBatchAndRollsBack) {
    auto s = session();
    BatchOutcome b =
        s->executeBatch("SET XACT_ABORT ON\r\nBEGIN TRAN\r\n" + insert("abort1") +
                        "\r\nINSERT INTO QTL_LOG([table], [row_id]) VALUES('abort2', CAST('x1' AS INT))\r\n" +
                        insert("abort3") + "\r\nCOMMIT TRAN");
    ASSERT_EQ(b.statements.size(), 4u);
    EXPECT_EQ(b.statements[3].messages.at(0).number, 245);
    EXPECT_EQ(b.statements[3].tran, StatementOutcome::Tran::Rollback);
    EXPECT_EQ(s->tranCount(), 0);
    EXPECT_TRUE(s->xactAbort());
    EXPECT_EQ(logged(*s, "abort1"), 0);
    EXPECT_EQ(logged(*s, "abort3"), 0);
    // Outside a transaction the statements before the error stay.
    b = s->executeBatch(insert("abort-auto1") + "\r\nSELECT CAST('y' AS INT)\r\n" + insert("abort-auto3"));
    ASSERT_EQ(b.statements.size(), 2u);
    EXPECT_EQ(logged(*s, "abort-auto1"), 1);
    EXPECT_EQ(logged(*s, "abort-auto3"), 0);
}

TEST_F(BatchRules, NestedTransactionsCountAndOnlyTheOutermostCommits) {
    auto s = session();
    auto counts = [](const BatchOutcome& b) {
        std::vector<std::int64_t> out;
        for (const auto& st : b.statements)
            for (const auto& rs : st.results) out.push_back(std::get<std::int64_t>(rs.rows.at(0).at(0)));
        return out;
    };
    BatchOutcome b = s->executeBatch("SELECT @@TRANCOUNT BEGIN TRAN SELECT @@TRANCOUNT BEGIN TRANSACTION inner_t " +
                                     insert("nest1") + " SELECT @@TRANCOUNT COMMIT TRAN SELECT @@TRANCOUNT");
    EXPECT_EQ(counts(b), (std::vector<std::int64_t>{0, 1, 2, 1}));
    auto other = session();
    EXPECT_EQ(logged(*other, "nest1"), 0);  // the inner COMMIT committed nothing
    b = s->executeBatch("ROLLBACK SELECT @@TRANCOUNT");
    EXPECT_EQ(b.statements[0].tran, StatementOutcome::Tran::Rollback);
    EXPECT_EQ(counts(b), (std::vector<std::int64_t>{0}));
    EXPECT_EQ(logged(*s, "nest1"), 0);

    b = s->executeBatch("BEGIN TRAN BEGIN TRAN " + insert("nest2") + " COMMIT COMMIT");
    EXPECT_EQ(b.statements[4].tran, StatementOutcome::Tran::Commit);
    EXPECT_EQ(logged(*other, "nest2"), 1);

    // With none open: errors 3902 and 3903, run-time errors that do not stop the batch.
    b = s->executeBatch("COMMIT TRAN ROLLBACK TRAN SELECT 7");
    ASSERT_EQ(b.statements.size(), 3u);
    EXPECT_EQ(b.statements[0].messages.at(0).number, 3902);
    EXPECT_EQ(b.statements[1].messages.at(0).number, 3903);
    EXPECT_EQ(b.statements[1].messages.at(0).text,
              "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
    EXPECT_FALSE(b.statements[2].failed);
    ASSERT_EQ(b.statements[2].results.size(), 1u);
    EXPECT_EQ(b.statements[2].results[0].columns.at(0).type, ColType::Int);
}

TEST_F(BatchRules, OpenTransactionCarriesIntoTheSessionsNextBatch) {
    auto s = session();
    auto other = session();
    ASSERT_EQ(firstError(s->executeBatch("BEGIN TRAN " + insert("carry1"))), nullptr);
    EXPECT_EQ(s->tranCount(), 1);
    EXPECT_EQ(scalarInt(*s, "SELECT @@TRANCOUNT"), 1);
    EXPECT_EQ(logged(*other, "carry1"), 0);
    ASSERT_EQ(firstError(s->executeBatch(insert("carry2") + " COMMIT")), nullptr);
    EXPECT_EQ(s->tranCount(), 0);
    EXPECT_EQ(logged(*other, "carry1"), 1);
    EXPECT_EQ(logged(*other, "carry2"), 1);
}

TEST_F(BatchRules, IfEvaluatesItsConditionWhenReached) {
    auto s = session();
    // The condition sees the transaction begun earlier in the same batch.
    BatchOutcome b =
        s->executeBatch("BEGIN TRAN " + insert("if1") + "\r\nIF @@TRANCOUNT > 0 ROLLBACK TRAN\r\nSELECT @@TRANCOUNT");
    ASSERT_EQ(b.statements.size(), 4u);
    EXPECT_EQ(b.statements[2].tran, StatementOutcome::Tran::Rollback);
    EXPECT_EQ(std::get<std::int64_t>(b.statements[3].results.at(0).rows.at(0).at(0)), 0);
    EXPECT_EQ(logged(*s, "if1"), 0);
    // A false condition skips its statement: no 3902 for a COMMIT with nothing open.
    b = s->executeBatch("IF @@TRANCOUNT > 0 COMMIT TRAN\r\nIF @@TRANCOUNT = 0 " + insert("if2"));
    EXPECT_EQ(firstError(b), nullptr);
    EXPECT_EQ(logged(*s, "if2"), 1);
    // A condition over data, and a guarded statement that fails at run time.
    b = s->executeBatch("IF EXISTS (SELECT 1 FROM QTL_LOG WHERE [table] = 'if2') SELECT CAST('z' AS INT)\r\nSELECT 3");
    ASSERT_EQ(b.statements.size(), 2u);
    EXPECT_EQ(b.statements[0].messages.at(0).number, 245);
    EXPECT_FALSE(b.statements[1].failed);
}

// ATTENTION on a statement held by --stall-on: the statement ends without effect; XACT_ABORT
// decides whether the open transaction survives.
TEST_F(BatchRules, CancelEndsTheStatementAndTheBatchAndXactAbortDecidesTheTransaction) {
    // The cancel comes once the statement is held, never before: an early one would end the
    // batch before its first statement.
    std::mutex mutex;
    std::condition_variable held;
    int stalls = 0;
    auto engine = engineWith([&](EngineOptions& o) {
        o.stallOn = Pattern("'hold me'");
        o.onStall = [&] {
            std::lock_guard lock(mutex);
            ++stalls;
            held.notify_all();
        };
    });
    for (const bool xactAbort : {false, true}) {
        SCOPED_TRACE(xactAbort);
        auto s = sessionOf(*engine);
        ASSERT_NE(s, nullptr);
        const std::string tag = xactAbort ? "cancel-on" : "cancel-off";
        BatchOutcome b;
        const int before = stalls;
        std::thread worker([&] {
            b = s->executeBatch(std::string("SET XACT_ABORT ") + (xactAbort ? "ON" : "OFF") + "\r\nBEGIN TRAN\r\n" +
                                insert(tag) + "\r\nSELECT 'hold me'\r\n" + insert(tag + "-after"));
        });
        {
            std::unique_lock lock(mutex);
            EXPECT_TRUE(held.wait_for(lock, std::chrono::seconds(60), [&] { return stalls > before; }));
        }
        s->cancel();
        worker.join();
        s->clearCancel();
        EXPECT_EQ(b.statements.size(), 4u);
        EXPECT_EQ(s->tranCount(), xactAbort ? 0 : 1);
        EXPECT_EQ(logged(*s, tag), xactAbort ? 0 : 1);
        EXPECT_EQ(logged(*s, tag + "-after"), 0);
        s->executeBatch("IF @@TRANCOUNT > 0 ROLLBACK");
    }
}

// A write inside a transaction is never interrupted by SQLite (that would roll back the whole
// transaction): it is undone through its statement savepoint instead.
TEST_F(BatchRules, CancelDuringAWriteInATransactionKeepsTheEarlierWork) {
    auto s = session();
    ASSERT_EQ(firstError(s->executeBatch("BEGIN TRAN " + insert("slow-first"))), nullptr);
    const std::string slow = "INSERT INTO QTL_LOG([table]) SELECT 'slow' FROM student a, student b, student c";
    BatchOutcome b;
    const auto start = std::chrono::steady_clock::now();
    std::thread worker([&] { b = s->executeBatch(slow + "\r\n" + insert("slow-after")); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    s->cancel();
    worker.join();
    s->clearCancel();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GT(took, std::chrono::milliseconds(30)) << "the write ended before the cancel: the test proves nothing";
    EXPECT_EQ(s->tranCount(), 1);
    EXPECT_EQ(logged(*s, "slow"), 0);
    EXPECT_EQ(logged(*s, "slow-after"), 0);
    EXPECT_EQ(logged(*s, "slow-first"), 1);
    s->executeBatch("ROLLBACK");
}

// A write waits for another session's transaction for as long as it stays open (no lock timeout
// by default), and the wait ends on ATTENTION without effect.
TEST_F(BatchRules, AWriteWaitsForAnotherSessionsTransactionUntilItEndsOrIsCancelled) {
    auto holder = session();
    auto waiter = session();
    ASSERT_EQ(firstError(holder->executeBatch("BEGIN TRAN " + insert("lock-holder"))), nullptr);
    BatchOutcome b;
    std::thread worker([&] { b = waiter->executeBatch(insert("lock-waiter")); });
    std::this_thread::sleep_for(std::chrono::milliseconds(6000));  // longer than SQLite's usual 5 s
    ASSERT_EQ(firstError(holder->executeBatch("COMMIT TRAN")), nullptr);
    worker.join();
    EXPECT_EQ(firstError(b), nullptr) << firstError(b)->text;
    EXPECT_EQ(logged(*waiter, "lock-waiter"), 1);

    ASSERT_EQ(firstError(holder->executeBatch("BEGIN TRAN " + insert("lock-holder-2"))), nullptr);
    std::thread cancelled([&] { b = waiter->executeBatch(insert("lock-cancelled")); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    waiter->cancel();
    cancelled.join();
    waiter->clearCancel();
    EXPECT_TRUE(b.statements.at(0).failed);
    holder->executeBatch("COMMIT TRAN");
    EXPECT_EQ(logged(*waiter, "lock-cancelled"), 0);
    EXPECT_EQ(logged(*waiter, "lock-holder-2"), 1);
}

TEST_F(BatchRules, EndingASessionRollsBackItsOpenTransaction) {
    {
        auto s = session();
        ASSERT_EQ(firstError(s->executeBatch("BEGIN TRAN " + insert("gone"))), nullptr);
    }
    auto other = session();
    EXPECT_EQ(logged(*other, "gone"), 0);
    // And the database is not left locked by it.
    EXPECT_EQ(firstError(other->executeBatch(insert("after-gone"))), nullptr);
}

// ---- fault injection by count ----------------------------------------------------------------

TEST_F(BatchRules, FailNthCountsEveryStatementOfTheSessionFromLogin) {
    auto engine = engineWith([](EngineOptions& o) { o.failNth = 3; });
    auto s = sessionOf(*engine);
    EXPECT_EQ(firstError(s->executeBatch("sp_datatype_info_100 11")), nullptr);  // 1
    BatchOutcome b = s->executeBatch(insert("nth2") + " " + insert("nth3") + " " + insert("nth4"));  // 2, 3, 4
    ASSERT_EQ(b.statements.size(), 3u);
    EXPECT_FALSE(b.statements[0].failed);
    ASSERT_TRUE(b.statements[1].failed);
    EXPECT_EQ(b.statements[1].messages.at(0).number, 50000);
    EXPECT_EQ(b.statements[1].messages.at(0).severity, 16);
    EXPECT_EQ(b.statements[1].messages.at(0).text, "Injected failure: INSERT INTO QTL_LOG([table],");
    EXPECT_FALSE(b.statements[2].failed);
    EXPECT_EQ(logged(*s, "nth3"), 0);
    EXPECT_EQ(logged(*s, "nth4"), 1);
    EXPECT_EQ(firstError(s->executeBatch("SELECT 1")), nullptr);  // only once per count
    // Each session counts for itself.
    auto second = sessionOf(*engine);
    EXPECT_EQ(firstError(second->executeBatch("SELECT 1 SELECT 2")), nullptr);
    EXPECT_NE(firstError(second->executeBatch("SELECT 3")), nullptr);
}

TEST_F(BatchRules, FailNthFollowsXactAbort) {
    auto engine = engineWith([](EngineOptions& o) { o.failNth = 4; });
    auto s = sessionOf(*engine);
    BatchOutcome b = s->executeBatch("SET XACT_ABORT ON BEGIN TRAN " + insert("nth-abort1") + " " +
                                     insert("nth-abort2") + " COMMIT");
    ASSERT_EQ(b.statements.size(), 4u);
    EXPECT_EQ(b.statements[3].tran, StatementOutcome::Tran::Rollback);
    EXPECT_EQ(s->tranCount(), 0);
    EXPECT_EQ(logged(*s, "nth-abort1"), 0);
}

TEST_F(BatchRules, DropNthStopsBeforeTheStatementAndAsksForTheConnectionToClose) {
    auto engine = engineWith([](EngineOptions& o) { o.dropNth = 3; });
    auto s = sessionOf(*engine);
    EXPECT_FALSE(s->executeBatch("SELECT 1").dropConnection);
    BatchOutcome b = s->executeBatch(insert("drop2") + " " + insert("drop3"));
    EXPECT_TRUE(b.dropConnection);
    EXPECT_EQ(logged(*s, "drop2"), 1);
    EXPECT_EQ(logged(*s, "drop3"), 0);
}

TEST_F(BatchRules, FaultMarkRestartsTheCountAndNothingCountsBeforeIt) {
    const std::string mark = "SELECT 'fault-mark'";
    auto engine = engineWith([&](EngineOptions& o) {
        o.failNth = 2;
        o.faultMark = mark;
    });
    auto s = sessionOf(*engine);
    EXPECT_EQ(firstError(s->executeBatch("SELECT 1 SELECT 2 SELECT 3")), nullptr);  // not counted yet
    BatchOutcome b = s->executeBatch(mark);
    EXPECT_EQ(firstError(b), nullptr);
    ASSERT_EQ(b.statements.size(), 1u);
    EXPECT_EQ(b.statements[0].results.at(0).rows.at(0).at(0), Value(std::string("fault-mark")));
    EXPECT_EQ(firstError(s->executeBatch("SELECT 1")), nullptr);  // 1
    EXPECT_NE(firstError(s->executeBatch("SELECT 2")), nullptr);  // 2
    EXPECT_EQ(firstError(s->executeBatch("SELECT 3")), nullptr);
    EXPECT_EQ(firstError(s->executeBatch(mark)), nullptr);  // again from 0
    EXPECT_EQ(firstError(s->executeBatch(mark)), nullptr);  // a mark is never counted
    EXPECT_EQ(firstError(s->executeBatch("SELECT 1")), nullptr);
    EXPECT_NE(firstError(s->executeBatch("SELECT 2")), nullptr);
    // A new session does not inherit the mark: nothing counts there until it sends one.
    auto fresh = sessionOf(*engine);
    EXPECT_EQ(firstError(fresh->executeBatch("SELECT 1 SELECT 2 SELECT 3")), nullptr);
    // Only the exact text marks.
    EXPECT_EQ(firstError(fresh->executeBatch(mark + " ")), nullptr);
    EXPECT_EQ(firstError(fresh->executeBatch("SELECT 1 SELECT 2")), nullptr);
}

}  // namespace

// ---- what each account may reach; SQLite's own catalog and functions are no T-SQL ---------------

namespace {

std::unique_ptr<Session> loginAs(Engine& engine, const std::string& user, const std::string& password) {
    LoginResult r;
    auto s = engine.login(user, password, "QTL", r);
    EXPECT_TRUE(r.ok) << r.error.text;
    return s;
}

// The number and text of the first error, "" when none.
std::string errorOf(Session& s, const std::string& sql) {
    const BatchOutcome b = s.executeBatch(sql);
    for (const auto& st : b.statements)
        for (const auto& m : st.messages)
            if (m.severity > 10) return std::to_string(m.number) + " " + m.text;
    return "";
}

}  // namespace

TEST_F(EngineTest, OperatorsRunTheWorkstationsStatementsAndReachNothingMore) {
    auto op = loginAs(*engine_, "qtl_op", "op_pw_33");
    for (const auto& st : tsql_statements::reads()) EXPECT_EQ(errorOf(*op, st.sql), "") << st.what;
    EXPECT_EQ(errorOf(*op, "EXEC SP_Qtl33GetDisciplines 15, 1, 1, 1"), "");
    EXPECT_EQ(errorOf(*op,
                      "BEGIN TRAN\r\nINSERT INTO QTL_LOG([table], [row_id]) VALUES('perm', 1)\r\n"
                      "UPDATE DisciplineForStudent SET subGroup = subGroup WHERE id_disciplineForStudent = -1\r\n"
                      "DELETE FROM DisciplineForStudent WHERE id_disciplineForStudent = -1\r\nROLLBACK"),
              "");

    EXPECT_EQ(errorOf(*op, "SELECT name, password FROM QTL_DbAccount"),
              "229 The SELECT permission was denied on the object 'QTL_DbAccount', database 'QTL', schema 'dbo'.");
    EXPECT_EQ(errorOf(*op, "SELECT password_md5 FROM QTL_User WHERE QTL_login = 'operator'"),
              "230 The SELECT permission was denied on the column 'password_md5' of the object 'QTL_User', "
              "database 'QTL', schema 'dbo'.");
    EXPECT_EQ(errorOf(*op, "UPDATE QTL_User SET password_state = 90"),
              "229 The UPDATE permission was denied on the object 'QTL_User', database 'QTL', schema 'dbo'.");
    EXPECT_EQ(errorOf(*op, "DELETE FROM QTL_LOG"),
              "229 The DELETE permission was denied on the object 'QTL_LOG', database 'QTL', schema 'dbo'.");
    // A refused statement is a run-time error: the batch goes on after it.
    const BatchOutcome b = op->executeBatch("SELECT name FROM QTL_DbAccount\r\nSELECT 7");
    ASSERT_EQ(b.statements.size(), 2u);
    EXPECT_TRUE(b.statements[0].failed);
    EXPECT_TRUE(b.statements[0].results.empty());
    EXPECT_FALSE(b.statements[1].failed);
}

TEST_F(EngineTest, SqlitesCatalogPragmasAndVirtualTablesAreNotReachable) {
    auto s = session();
    EXPECT_EQ(errorOf(*s, "SELECT name, sql FROM sqlite_master"), "208 Invalid object name 'sqlite_master'.");
    EXPECT_EQ(errorOf(*s, "SELECT * FROM sqlite_schema"),
              "208 Invalid object name 'sqlite_master'.");  // SQLite's own name
    EXPECT_EQ(errorOf(*s, "SELECT * FROM pragma_database_list"), "208 Invalid object name 'pragma_database_list'.");
    EXPECT_EQ(errorOf(*s, "SELECT file FROM pragma_database_list()"),
              "195 'pragma_database_list' is not a recognized built-in function name.");
    EXPECT_EQ(errorOf(*s, "SELECT pragma_table_info('w_s')"),
              "195 'pragma_table_info' is not a recognized built-in function name.");
    EXPECT_EQ(errorOf(*s, "SELECT * FROM dbstat"), "208 Invalid object name 'dbstat'.");
    EXPECT_EQ(errorOf(*s, "SELECT fts3_tokenizer('simple')"),
              "195 'fts3_tokenizer' is not a recognized built-in function name.");
    EXPECT_EQ(errorOf(*s, "SELECT sqlite_version()"),
              "195 'sqlite_version' is not a recognized built-in function name.");
    EXPECT_EQ(errorOf(*s, "SELECT COUNT(DISTINCT randomblob(8)) FROM w_s"),
              "195 'randomblob' is not a recognized built-in function name.");
    EXPECT_EQ(errorOf(*s, "SELECT MAX(DISTINCT load_extension('x')) FROM w_s"),
              "195 'load_extension' is not a recognized built-in function name.");
    // The server's own functions still work.
    EXPECT_EQ(errorOf(*s, "SELECT LTRIM(RTRIM(' a ')), ISNULL(NULL, 1), LEN('ab'), UPPER('ё'), ROUND(1.5, 0)"), "");
}

TEST_F(EngineTest, TheSettingsFileAccountOnlyLogsIn) {
    const auto [user, password] = engine_->settingsAccount();
    auto entry = loginAs(*engine_, user, password);
    EXPECT_EQ(errorOf(*entry, "SELECT name, password FROM QTL_DbAccount"),
              "229 The SELECT permission was denied on the object 'QTL_DbAccount', database 'QTL', schema 'dbo'.");
    EXPECT_EQ(errorOf(*entry, "SELECT id_faculty FROM faculty"),
              "229 The SELECT permission was denied on the object 'faculty', database 'QTL', schema 'dbo'.");
    EXPECT_EQ(errorOf(*entry, "SELECT s_fio FROM s_fio"),  // a view: refused by its own name
              "229 The SELECT permission was denied on the object 's_fio', database 'QTL', schema 'dbo'.");
    EXPECT_EQ(errorOf(*entry, "INSERT INTO QTL_LOG([table], [row_id]) VALUES('x', 1)"),
              "229 The INSERT permission was denied on the object 'QTL_LOG', database 'QTL', schema 'dbo'.");
    EXPECT_EQ(errorOf(*entry, "UPDATE V_Date_reg_DFS SET endDate = NULL WHERE 1 = 0"),
              "229 The UPDATE permission was denied on the object 'V_Date_reg_DFS', database 'QTL', schema 'dbo'.");
    EXPECT_EQ(
        errorOf(*entry, "DELETE FROM DisciplineForStudent WHERE 1 = 0"),
        "229 The DELETE permission was denied on the object 'DisciplineForStudent', database 'QTL', schema 'dbo'.");
    EXPECT_EQ(errorOf(*entry, "UPDATE QTL_DbAccount SET password = 'x'"),
              "229 The UPDATE permission was denied on the object 'QTL_DbAccount', database 'QTL', schema 'dbo'.");
    EXPECT_EQ(errorOf(*entry, "EXEC GET_KPV_Students 1, 1, 15, 1, 1, 5, 1"),
              "229 The EXECUTE permission was denied on the object 'GET_KPV_Students', database 'QTL', schema 'dbo'.");
    // What the workstation does with it: open (sp_datatype_info_100), then the login procedure,
    // which reads the accounts as the database's own code.
    EXPECT_EQ(errorOf(*entry, "sp_datatype_info_100 11"), "");
    const BatchOutcome b = entry->executeBatch(
        "EXEC GET_USER 'operator','4B583376B2767B923C3E1DA60D10DE59',NULL, "
        "'QTL 33', '10.0.0.5', 'PC7', 'operator','0','4'");
    ASSERT_FALSE(b.statements.at(0).failed);
    ASSERT_EQ(b.statements[0].results.at(0).rows.size(), 1u);
    EXPECT_EQ(std::get<std::string>(b.statements[0].results[0].rows[0][0]), "psk^no");  // qtl_op, in stored form
}

// ---- creating the database -----------------------------------------------------------------------

TEST(EngineCreation, AServerKilledWhileBuildingLeavesNothingThatALaterStartWouldTake) {
    const std::string path = tempDbPath("killed");
    removeDb(path);
    std::filesystem::remove(path + ".building");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        EngineOptions o;
        o.dbPath = path;
        o.demo = "large";  // takes seconds: long enough to be killed in the middle
        makeEngine(o);
        ::_exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the build ended before it could be killed";
    EXPECT_FALSE(std::filesystem::exists(path));

    EngineOptions o;
    o.dbPath = path;
    o.demo = "none";
    auto engine = makeEngine(o);
    const auto [user, password] = engine->settingsAccount();
    LoginResult r;
    EXPECT_TRUE(engine->login(user, password, "QTL", r)) << r.error.text;
    EXPECT_FALSE(std::filesystem::exists(path + ".building"));
    engine.reset();
    removeDb(path);
}

TEST(EngineCreation, AFileThatIsNoQtlDatabaseIsRefusedAtStartAndAnEmptyOneIsBuilt) {
    const std::string path = tempDbPath("foreign");
    removeDb(path);
    EngineOptions o;
    o.dbPath = path;
    o.demo = "none";
    { std::ofstream(path) << "not a database at all, just some text that is long enough to be read"; }
    try {
        makeEngine(o);
        ADD_FAILURE() << "a text file was taken for a database";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("is not a QTL database"), std::string::npos) << e.what();
    }
    removeDb(path);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE other(x)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    EXPECT_THROW(makeEngine(o), std::runtime_error);
    removeDb(path);
    { std::ofstream empty(path); }  // what a killed older server left
    auto engine = makeEngine(o);
    EXPECT_NO_THROW(engine->settingsAccount());
    engine.reset();
    removeDb(path);
}

// ---- long statements and big results ---------------------------------------------------------------

TEST(EngineLimits, ALongPlusChainTranslatesAndCancelStopsItsTranslation) {
    const std::string path = tempDbPath("chain");
    removeDb(path);
    EngineOptions o;
    o.dbPath = path;
    o.demo = "none";
    auto engine = makeEngine(o);
    const auto [user, password] = engine->settingsAccount();
    auto s = loginAs(*engine, user, password);
    std::string chain = "SELECT 'a'";
    for (int i = 0; i < 50000; ++i) chain += " + 'b'";
    // SQLite refuses so deep an expression, with an error and not a crash.
    EXPECT_NE(errorOf(*s, chain), "");
    s->cancel();  // ATTENTION that came before the batch: nothing of it is done
    const BatchOutcome b = s->executeBatch(chain);
    ASSERT_EQ(b.statements.size(), 1u);
    EXPECT_TRUE(b.statements[0].failed);
    EXPECT_TRUE(b.statements[0].messages.empty());
    s->clearCancel();
    EXPECT_EQ(errorOf(*s, "SELECT 'a' + 'b' + 'c'"), "");
    s.reset();
    engine.reset();
    removeDb(path);
}

TEST(EngineLimits, AResultBeyondTheMemoryLimitFailsWith701AndTheSessionGoesOn) {
    const std::string path = tempDbPath("result_limit");
    removeDb(path);
    EngineOptions o;
    o.dbPath = path;
    o.demo = "small";
    o.maxResultBytes = 65536;
    auto engine = makeEngine(o);
    auto s = loginAs(*engine, "qtl_op", "op_pw_33");
    // Every student's name against every other's: far beyond 64 KB (the small demo has dozens of
    // students, so tens of thousands of bytes per pass of the outer table).
    const std::string crossJoin = "SELECT a.s_fio, b.s_fio, c.s_fio FROM s_fio a CROSS JOIN s_fio b CROSS JOIN s_fio c";
    const BatchOutcome b = s->executeBatch(crossJoin + "\r\nSELECT 7");
    ASSERT_EQ(b.statements.size(), 2u);
    ASSERT_FALSE(b.statements[0].messages.empty());
    EXPECT_EQ(b.statements[0].messages[0].number, 701);
    EXPECT_EQ(b.statements[0].messages[0].severity, 17);
    EXPECT_EQ(b.statements[0].messages[0].text,
              "There is insufficient system memory in resource pool 'default' to run this query.");
    EXPECT_TRUE(b.statements[0].failed);
    EXPECT_TRUE(b.statements[0].results.empty());  // no partial rows
    EXPECT_FALSE(b.statements[1].failed);  // a run-time error: the batch went on
    // What fits is answered whole.
    const BatchOutcome small = s->executeBatch("SELECT a.s_fio FROM s_fio a");
    ASSERT_FALSE(small.statements.at(0).failed);
    EXPECT_GT(small.statements[0].results.at(0).rows.size(), 10u);
    // With XACT_ABORT ON it ends the batch and the transaction like any run-time error.
    const BatchOutcome x = s->executeBatch("SET XACT_ABORT ON\r\nBEGIN TRAN\r\n" + crossJoin + "\r\nSELECT 8");
    EXPECT_EQ(s->tranCount(), 0);
    EXPECT_EQ(x.statements.size(), 3u);
    s.reset();
    engine.reset();
    removeDb(path);
}

TEST(EngineLimits, ASortSpillingBeyondTheTemporaryStorageLimitFailsWith1105AndGivesItsSpaceBack) {
    const std::string path = tempDbPath("temp_limit");
    removeDb(path);
    EngineOptions o;
    o.dbPath = path;
    o.demo = "small";
    o.maxTempBytes = 256 * 1024;
    auto engine = makeEngine(o);
    auto s = loginAs(*engine, "qtl_op", "op_pw_33");
    // A one-row answer whose DISTINCT keeps hundreds of thousands of name combinations: far
    // more than the page cache holds, so SQLite spills it to a temporary file.
    const std::string spill =
        "SELECT COUNT(*) FROM (SELECT DISTINCT a.s_fio AS x, b.s_fio AS y, c.s_fio AS z "
        "FROM s_fio a CROSS JOIN s_fio b CROSS JOIN s_fio c) t";
    const BatchOutcome b = s->executeBatch(spill + "\r\nSELECT 7");
    ASSERT_EQ(b.statements.size(), 2u);
    ASSERT_FALSE(b.statements[0].messages.empty());
    EXPECT_EQ(b.statements[0].messages[0].number, 1105);
    EXPECT_EQ(b.statements[0].messages[0].severity, 17);
    EXPECT_TRUE(b.statements[0].failed);
    EXPECT_FALSE(b.statements[1].failed);  // a run-time error: the batch went on
    EXPECT_EQ(tsql::tempBytesInUse(), 0);  // the failed sort's file is gone and counted out

    // A transaction the failing statement ran in is reported as the state SQLite left it in.
    const BatchOutcome t = s->executeBatch("BEGIN TRAN\r\n" + spill);
    ASSERT_EQ(t.statements.size(), 2u);
    EXPECT_EQ(t.statements[1].messages.at(0).number, 1105);
    EXPECT_EQ(s->executeBatch("SELECT @@TRANCOUNT").statements.at(0).results.at(0).rows.at(0).at(0),
              Value{std::int64_t{s->tranCount()}});
    s->executeBatch("IF @@TRANCOUNT > 0 ROLLBACK TRAN");

    // With room enough, the same statement is answered and its space given back.
    s.reset();
    engine.reset();
    o.maxTempBytes = 0;
    engine = makeEngine(o);
    s = loginAs(*engine, "qtl_op", "op_pw_33");
    const BatchOutcome ok = s->executeBatch(spill);
    ASSERT_FALSE(ok.statements.at(0).failed) << ok.statements[0].messages.at(0).text;
    const std::int64_t n = std::get<std::int64_t>(ok.statements[0].results.at(0).rows.at(0).at(0));
    EXPECT_GT(n, 100000);
    EXPECT_EQ(tsql::tempBytesInUse(), 0);
    s.reset();
    engine.reset();
    removeDb(path);
}

TEST(EngineLimits, AGreedyFailOnPatternOverAThirtyThousandCharacterStatementNeitherCrashesNorHangs) {
    const std::string path = tempDbPath("long_pattern");
    removeDb(path);
    EngineOptions o;
    o.dbPath = path;
    o.demo = "small";
    o.failOn = Pattern("(.*)*'FAILME'.*$");
    auto engine = makeEngine(o);
    auto s = loginAs(*engine, "qtl_op", "op_pw_33");
    const std::string filler(30000, 'x');
    const BatchOutcome plain = s->executeBatch("SELECT LEN('" + filler + "')");
    ASSERT_FALSE(plain.statements.at(0).failed) << plain.statements[0].messages.at(0).text;
    EXPECT_EQ(std::get<std::int64_t>(plain.statements[0].results.at(0).rows.at(0).at(0)), 30000);
    const BatchOutcome hit = s->executeBatch("SELECT '" + filler + "', 'FAILME'");
    ASSERT_EQ(hit.statements.size(), 1u);
    EXPECT_TRUE(hit.statements[0].failed);
    ASSERT_FALSE(hit.statements[0].messages.empty());
    EXPECT_EQ(hit.statements[0].messages[0].number, 50000);
    EXPECT_TRUE(hit.statements[0].results.empty());
    s.reset();
    engine.reset();
    removeDb(path);
}

// Workstations signing in at the same moment: every GET_USER call records its sign-in, and none
// may fail because another session wrote just before it.
TEST_F(EngineTest, ConcurrentSignInsAllSucceed) {
    const auto [user, password] = engine_->settingsAccount();
    std::atomic<int> failures{0};
    std::string firstFailure;
    std::mutex failureMutex;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, user = user, password = password] {
            auto s = loginAs(*engine_, user, password);
            for (int i = 0; i < 60; ++i) {
                const std::string e = errorOf(*s,
                                              "EXEC GET_USER 'operator','4B583376B2767B923C3E1DA60D10DE59',NULL, "
                                              "'QTL 33', '10.0.0.5', 'PC7', 'operator','0','4'");
                if (!e.empty()) {
                    std::lock_guard lock(failureMutex);
                    if (failures++ == 0) firstFailure = e;
                }
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0) << firstFailure;
}

// A session keeps what it compiled and translated for the next batch of the same text: the next
// run must still see the newest committed data, keep its permission checks, and leave no read
// open between batches that would hold another session's snapshot or lock.
TEST_F(BatchRules, ABatchRunAgainSeesTheNewestDataAndKeepsItsRefusals) {
    auto reader = session();
    auto writer = session();
    const std::string count = "SELECT COUNT(*) FROM QTL_LOG WHERE [table] = 'again'";
    for (const bool inTransaction : {false, true}) {
        SCOPED_TRACE(inTransaction ? "in a transaction" : "outside");
        if (inTransaction) {
            ASSERT_EQ(firstError(reader->executeBatch("BEGIN TRAN")), nullptr);
        }
        const std::int64_t before = scalarInt(*reader, count);
        for (int round = 1; round <= 3; ++round) {
            ASSERT_EQ(firstError(writer->executeBatch(insert("again"))), nullptr);
            EXPECT_EQ(scalarInt(*reader, count), before + round);
        }
        if (inTransaction) {
            ASSERT_EQ(firstError(reader->executeBatch("COMMIT TRAN")), nullptr);
        }
    }
    // Between two runs of the reader's batch the writer takes and commits the write lock.
    ASSERT_EQ(firstError(writer->executeBatch("BEGIN TRAN\r\n" + insert("again") + "\r\nCOMMIT TRAN")), nullptr);

    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        const BatchOutcome b = reader->executeBatch("SELECT password_md5 FROM QTL_User");
        ASSERT_NE(firstError(b), nullptr);
        EXPECT_EQ(firstError(b)->number, 230);
        const BatchOutcome missing = reader->executeBatch("SELECT x FROM dbo.no_such_table");
        ASSERT_NE(firstError(missing), nullptr);
        EXPECT_EQ(firstError(missing)->number, 208);
    }
}
