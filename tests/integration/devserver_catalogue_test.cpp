// qtl-devserver through the workstation's own client stack (Qt QODBC, unixODBC, FreeTDS): every
// statement form the workstation sends, filled with demo ids, and how the server copes with
// several clients, broken clients, unknown statements, bad logins and failing batches.
// Only forward-only text execution is used: anything else would go to the server as an RPC.
#include "DevServer.h"
#include "qtl/demo_ids.h"
#include "qtl/qtl.h"
#include "tds/codec.h"

#include "../unit/tds_test_support.h"
#include "../unit/tsql_statements.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <map>
#include <set>

using namespace devserver::qtl::demo;

namespace {

struct Result {
    bool ok = false;
    QString error;
    QStringList columns;
    QVector<QVector<QVariant>> rows;
    int affected = -1;

    int col(const QString& name) const {
        for (int i = 0; i < columns.size(); ++i)
            if (columns[i].compare(name, Qt::CaseInsensitive) == 0) return i;
        return -1;
    }
    QVariant at(int row, const QString& name) const {
        const int c = col(name);
        if (c < 0 || row < 0 || row >= rows.size()) return {};
        return rows[row][c];
    }
    // Values of one column, in row order.
    QVariantList column(const QString& name) const {
        QVariantList out;
        for (int r = 0; r < rows.size(); ++r) out << at(r, name);
        return out;
    }
    int rowWhere(const QString& name, const QVariant& value) const {
        for (int r = 0; r < rows.size(); ++r)
            if (at(r, name).toString() == value.toString()) return r;
        return -1;
    }
};

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// Runs one batch as the workstation does and reads its first result completely.
Result run(const QSqlDatabase& db, const QString& sql) {
    Result r;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    r.ok = query.exec(sql);
    if (!r.ok) {
        r.error = query.lastError().text();
        return r;
    }
    r.affected = query.numRowsAffected();
    const QSqlRecord rec = query.record();
    for (int i = 0; i < rec.count(); ++i) r.columns << rec.fieldName(i);
    while (query.next()) {
        QVector<QVariant> row;
        for (int i = 0; i < rec.count(); ++i) row << query.value(i);
        r.rows << row;
    }
    if (query.lastError().isValid()) {
        r.ok = false;
        r.error = query.lastError().text();
    }
    return r;
}

int sqliteInt(const qtltest::DevServer& server, const QString& sql) {
    return server.sqliteScalar(sql).toInt();
}

class Catalogue : public ::testing::Test {
protected:
    void SetUp() override {
        server.start();
        db = connect(QStringLiteral("catalogue"));
        ASSERT_TRUE(db.isOpen()) << db.lastError().text().toStdString();
    }
    void TearDown() override {
        for (const QString& name : m_names) {
            QSqlDatabase::database(name, false).close();
        }
        m_names.clear();
        db = QSqlDatabase();
        for (const QString& name : m_opened) QSqlDatabase::removeDatabase(name);
        m_opened.clear();
        // The workstation's stack must never turn a statement into an RPC.
        for (const qtltest::LogEntry& e : server.log())
            EXPECT_NE(e.kind, QStringLiteral("rpc")) << e.text.toStdString();
    }

    QSqlDatabase connect(const QString& name, const QString& user = {}, const QString& pw = {}) {
        QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
        m_opened << name;
        c.setDatabaseName(user.isEmpty() ? server.operatorOdbcString() : server.odbcString(user, pw));
        if (c.open()) m_names << name;
        return c;
    }

    // The newest registration row, as the server stored it.
    int lastDfsId() const {
        return sqliteInt(server, QStringLiteral("SELECT max(id_disciplineForStudent) FROM DisciplineForStudent"));
    }

    qtltest::DevServer server;
    QSqlDatabase db;

private:
    QStringList m_names, m_opened;
};

// ---- reads ------------------------------------------------------------------------------------

struct Expect {
    QStringList columns;  // read by name (an empty list: read by position, see minColumns)
    int exactRows = -1;  // -1: at least minRows
    int minRows = 1;
    int minColumns = 0;
};

const std::map<std::string, Expect>& expectations() {
    static const std::map<std::string, Expect> e = {
        {"rights", {{"id_QTL_user", "visible", "QTL_login", "canRemoveDFSFromExStudent"}, 1}},
        {"login", {{}, 1, 1, 6}},
        {"faculties", {{"id_faculty", "faculty"}, 2}},
        {"w_s", {{"id_w_s", "p42"}, 3}},
        {"limit26", {{"id_field"}, 1}},
        {"limit27", {{"id_field"}, 1}},
        {"year2", {{"id_a_year", "p32"}}},
        {"kafedra", {{"id_kafedra", "kafedra"}}},
        {"year", {{"id_a_year", "year"}}},
        {"semester2", {{"id_semester", "semester", "id_w_s"}}},
        {"subgroup", {{"subgroup", "subgroupAndName"}, -1, 2}},
        {"subgroup2", {{"subgroup"}, -1, 2}},
        {"teachers", {{"id_teacher", "t_fio"}, -1, 2}},
        {"semester", {{"id_w_s", "p42", "ws_sort"}, 3}},
        {"disciplines", {{"rowNum", "discipline", "id_discipline", "Krdt"}, -1, 2}},
        {"examinations", {{"id_examination", "examination"}}},
        {"groups3", {{"id_a_year", "id_faculty", "id_group", "group", "o_z", "descGroupNum"}, -1, 3}},
        {"groups", {{"id_group", "id_faculty", "id_a_year", "id_semester", "id_w_s", "group", "o_z"}, -1, 3}},
        {"insSemester", {{"id_semester"}, 1}},
        {"groupEduc", {{"id_group", "p108"}, 1}},
        {"descGroupNum", {{"descGroupNum"}, 1}},
        {"studentsA", {{"id_student", "IsSelected", "IsTeacher", "s_fio"}, kGroupOz0Students}},
        {"studentsB", {{"id_student", "IsSelected", "IsTeacher", "s_fio"}, kGroupOz0Students}},
        {"deadline", {{"id_a_year", "id_w_s", "id_f_educ", "endDate", "id_group"}, 1}},
        {"lessonKind", {{"subgroup", "id_rrnkKrdt", "id_vid_zaniatiy", "id_ebe_var"}, 1}},
        {"streamFaculty", {{"id_faculty"}, 1}},
        {"creditSum", {{"Sumkredits"}, 1}},
        {"streams", {{"id_faculty", "id_student", "id_disciplineForStudent", "s_fio"}, -1, 4}},
        {"studentInfo",
         {{"id_kafedra", "id_teacher", "id_discipline", "id_examination", "discipline", "id_a_year", "id_semester",
           "subGroup"},
          1}},
        {"teachers2", {{"id_teacher", "t_fio"}, -1, 2}},
        {"search", {{"id_student", "s_fio", "id_group", "p20", "id_faculty", "QTL_login"}, -1, 2}},
        {"registrations",
         {{"id_disciplineForStudent", "id_student", "id_semester", "p43", "id_discipline", "p34", "kredits", "subgroup",
           "id_examination", "p30", "id_teacher", "s_t_fio"},
          -1,
          2}},
    };
    return e;
}

QString statement(const char* what) {
    for (const auto& s : tsql_statements::reads())
        if (std::string(s.what) == what) return q(s.sql);
    ADD_FAILURE() << "no statement named " << what;
    return {};
}

Result runNamed(const QSqlDatabase& db, const char* what) {
    return run(db, statement(what));
}

TEST_F(Catalogue, EveryReadReturnsTheColumnsAndRowsItsReaderNeeds) {
    const auto statements = tsql_statements::reads();
    ASSERT_EQ(statements.size(), expectations().size()) << "a statement without expectations";
    const int mark = server.logMark();
    for (const auto& s : statements) {
        SCOPED_TRACE(s.what);
        const auto it = expectations().find(s.what);
        ASSERT_NE(it, expectations().end());
        const Expect& want = it->second;
        const Result r = run(db, q(s.sql));
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        for (const QString& c : want.columns)
            EXPECT_GE(r.col(c), 0) << "missing column " << c.toStdString() << " in "
                                   << r.columns.join(QLatin1Char(',')).toStdString();
        EXPECT_GE(r.columns.size(), want.minColumns);
        if (want.exactRows >= 0)
            EXPECT_EQ(r.rows.size(), want.exactRows);
        else
            EXPECT_GE(r.rows.size(), want.minRows);
    }
    // Each statement arrived exactly as sent (line breaks kept), as one batch; the log masks the
    // login procedure's password digest, so that one is found by its masked form.
    const QStringList sent = server.batchesSince(mark);
    for (const auto& s : statements) {
        QString logged = q(s.sql);
        if (QLatin1String(s.what) == QLatin1String("login"))
            logged.replace(QStringLiteral("'4B583376B2767B923C3E1DA60D10DE59'"), QStringLiteral("'********'"));
        EXPECT_TRUE(sent.contains(logged)) << s.what;
    }
}

TEST_F(Catalogue, SignInReadsAccountsLimitsAndCyrillicNames) {
    const Result user = runNamed(db, "login");
    ASSERT_EQ(user.rows.size(), 1);
    const auto& row = user.rows.first();
    ASSERT_GE(row.size(), 6);
    // Stored form: every character one below the real one.
    auto plain = [](QString s) {
        for (QChar& c : s) c = QChar(c.unicode() + 1);
        return s;
    };
    EXPECT_EQ(plain(row[0].toString()), QStringLiteral("qtl_op"));
    EXPECT_EQ(plain(row[1].toString()), QStringLiteral("op_pw_33"));
    EXPECT_EQ(row[2].toInt(), kUserOperator);
    EXPECT_EQ(row[3].toInt(), 50);
    EXPECT_TRUE(row[4].toString().isEmpty());
    EXPECT_EQ(row[5].toInt(), kNewestVersion);

    // The account handed out is one the server accepts.
    QSqlDatabase op = connect(QStringLiteral("handed-out"), QStringLiteral("qtl_op"), QStringLiteral("op_pw_33"));
    ASSERT_TRUE(op.isOpen()) << op.lastError().text().toStdString();
    EXPECT_EQ(run(op, QStringLiteral("SET DATEFORMAT dmy")).error, QString());

    const Result wrong = run(db, QStringLiteral("EXEC GET_USER 'operator','00000000000000000000000000000000',NULL, "
                                                "'QTL 33', '10.0.0.5', 'PC7', 'operator','0','4'"));
    ASSERT_EQ(wrong.rows.size(), 1);
    EXPECT_EQ(wrong.rows[0][2].toInt(), 0);
    EXPECT_EQ(wrong.rows[0][4].toString(), QString::fromUtf8(kWrongPasswordText));
    const Result blocked = run(
        db, QStringLiteral("EXEC GET_USER 'blocked','") +
                QString::fromLatin1(QCryptographicHash::hash("blocked1", QCryptographicHash::Md5).toHex().toUpper()) +
                QStringLiteral("',NULL, 'QTL 33', '10.0.0.5', 'PC7', 'blocked','0','4'"));
    ASSERT_EQ(blocked.rows.size(), 1);
    EXPECT_EQ(blocked.rows[0][4].toString(), QString::fromUtf8(kBlockedText));

    EXPECT_EQ(runNamed(db, "limit26").at(0, QStringLiteral("id_field")).toInt(), kCreditLimitOz0);
    EXPECT_EQ(runNamed(db, "limit27").at(0, QStringLiteral("id_field")).toInt(), kCreditLimitOz1);

    const Result rights = runNamed(db, "rights");
    EXPECT_EQ(rights.at(0, QStringLiteral("id_QTL_user")).toInt(), kUserOperator);
    EXPECT_EQ(rights.at(0, QStringLiteral("canRemoveDFSFromExStudent")).toInt(), 1);
    const Result noRight =
        run(db, QStringLiteral("SELECT TOP (1) id_QTL_user, visible, QTL_login, canRemoveDFSFromExStudent "
                               "FROM QTL_User WHERE (canRemoveDFSFromExStudent = 1)  AND (QTL_login ='viewer')"));
    ASSERT_TRUE(noRight.ok);
    EXPECT_TRUE(noRight.rows.isEmpty());

    const Result faculties = runNamed(db, "faculties");
    EXPECT_EQ(faculties.column(QStringLiteral("id_faculty")), (QVariantList{kFacultyA, kFacultyB}));
    // Cyrillic comes back exactly as the database holds it.
    EXPECT_EQ(faculties.at(0, QStringLiteral("faculty")).toString(),
              server.sqliteScalar(QStringLiteral("SELECT \"p23-2\" FROM faculty WHERE id_faculty = 1")).toString());
    EXPECT_EQ(faculties.at(0, QStringLiteral("faculty")).toString(),
              QStringLiteral("Факультет информационных технологий"));

    const Result ws = runNamed(db, "w_s");
    EXPECT_EQ(ws.column(QStringLiteral("p42")),
              (QVariantList{QStringLiteral("Осенний"), QStringLiteral("Весенний"), QStringLiteral("Летний")}));
}

TEST_F(Catalogue, SelectionChainListsHoldTheDemoRows) {
    const Result kafedra = runNamed(db, "kafedra");
    const QVariantList kafedras = kafedra.column(QStringLiteral("id_kafedra"));
    EXPECT_TRUE(kafedras.contains(kKafedraA));
    EXPECT_FALSE(kafedras.contains(kKafedraNoClasses));

    for (const QVariant& y : runNamed(db, "year").column(QStringLiteral("id_a_year"))) EXPECT_GT(y.toInt(), 10);
    EXPECT_TRUE(runNamed(db, "year2").column(QStringLiteral("id_a_year")).contains(kYearCurrent));

    // Teachers in Russian order; one whose rows are all unrated is left out.
    const Result teachers = runNamed(db, "teachers");
    const QVariantList ids = teachers.column(QStringLiteral("id_teacher"));
    EXPECT_TRUE(ids.contains(kTeacherA));
    EXPECT_TRUE(ids.contains(kTeacherGuest));
    EXPECT_FALSE(ids.contains(kTeacherNoRating));
    EXPECT_EQ(teachers.at(0, QStringLiteral("t_fio")).toString(), QStringLiteral("Абрамов А.В."));

    const Result semesters = runNamed(db, "semester");
    EXPECT_EQ(semesters.column(QStringLiteral("id_w_s")), (QVariantList{kWsAutumn, kWsSpring, kWs3}));

    const Result disciplines = runNamed(db, "disciplines");
    std::set<int> rowNums;
    for (int r = 0; r < disciplines.rows.size(); ++r) {
        rowNums.insert(disciplines.at(r, QStringLiteral("rowNum")).toInt());
        EXPECT_FALSE(disciplines.at(r, QStringLiteral("discipline")).toString().isEmpty());
    }
    EXPECT_EQ(int(rowNums.size()), disciplines.rows.size()) << "rowNum must be unique";
    const int prog = disciplines.rowWhere(QStringLiteral("id_discipline"), kDisciplineA);
    ASSERT_GE(prog, 0);
    EXPECT_EQ(disciplines.at(prog, QStringLiteral("Krdt")).toInt(), kCreditsA);
    EXPECT_EQ(disciplines.at(prog, QStringLiteral("discipline")).toString(), QStringLiteral("Программирование"));
    // One discipline offered with two credits gives two rows.
    const Result two = run(db, QStringLiteral("EXEC SP_Qtl33GetDisciplines @id_a_year =%1,@id_w_s =%2,@id_kafedra =%3,"
                                              "@id_teacher =%4")
                                   .arg(kYearCurrent)
                                   .arg(kWsAutumn)
                                   .arg(kKafedraA)
                                   .arg(kTeacherB));
    QVariantList credits;
    for (int r = 0; r < two.rows.size(); ++r)
        if (two.at(r, QStringLiteral("id_discipline")).toInt() == kDisciplineTwoCredits)
            credits << two.at(r, QStringLiteral("Krdt")).toInt();
    EXPECT_EQ(credits, (QVariantList{5, 6}));

    EXPECT_TRUE(runNamed(db, "examinations").column(QStringLiteral("id_examination")).contains(kExamA));

    const Result groups3 = runNamed(db, "groups3");
    for (const QVariant& v : groups3.column(QStringLiteral("descGroupNum"))) EXPECT_EQ(v.toInt(), -1);
    const Result groups = runNamed(db, "groups");
    const int it21 = groups.rowWhere(QStringLiteral("id_group"), kGroupOz0);
    ASSERT_GE(it21, 0);
    EXPECT_EQ(groups.at(it21, QStringLiteral("group")).toString(), QStringLiteral("ИТ-21"));
    EXPECT_EQ(groups.at(it21, QStringLiteral("id_semester")).toInt(), kSemesterCourse2Autumn);
    EXPECT_EQ(groups.at(it21, QStringLiteral("o_z")).toInt(), 0);

    EXPECT_EQ(runNamed(db, "insSemester").at(0, QStringLiteral("id_semester")).toInt(), kSemesterCourse2Autumn);
    EXPECT_FALSE(runNamed(db, "groupEduc").at(0, QStringLiteral("p108")).toString().isEmpty());
    const Result noGs =
        run(db, QStringLiteral("SELECT dbo.g_s.id_group, dbo.specialityV.p108 FROM dbo.specialityV INNER JOIN "
                               "dbo.g_s ON dbo.specialityV.id_speciality = dbo.g_s.id_speciality WHERE  "
                               "(dbo.g_s.id_group =%1)")
                    .arg(kGroupNoGs));
    ASSERT_TRUE(noGs.ok);
    EXPECT_TRUE(noGs.rows.isEmpty());

    const Result sem2 = runNamed(db, "semester2");
    const QVariantList semIds = sem2.column(QStringLiteral("id_semester"));
    EXPECT_TRUE(semIds.contains(kSemesterCourse2Autumn));
    EXPECT_TRUE(semIds.contains(kSemesterCourse2Spring));
    for (int r = 0; r < sem2.rows.size(); ++r) {
        const int s = sem2.at(r, QStringLiteral("id_semester")).toInt();
        if (s != kSemesterCourse2Autumn && s != kSemesterCourse2Spring) {
            EXPECT_EQ(sem2.at(r, QStringLiteral("id_w_s")).toInt(), kWs3) << s;
        }
    }
}

TEST_F(Catalogue, StreamNamesAreNullWithoutAName) {
    const Result streams = runNamed(db, "subgroup");
    ASSERT_TRUE(streams.ok) << streams.error.toStdString();
    QVariantList numbers = streams.column(QStringLiteral("subgroup"));
    std::sort(numbers.begin(), numbers.end(),
              [](const QVariant& a, const QVariant& b) { return a.toInt() < b.toInt(); });
    // The lab stream is kept out by the plan's zero lab hours; the practice stream is in.
    EXPECT_EQ(numbers,
              (QVariantList{kStreamNamed, kStreamUnnamed, kStreamExtramural, kStreamFacultyB, kStreamFacultyC}));
    const int named = streams.rowWhere(QStringLiteral("subgroup"), kStreamNamed);
    const int unnamed = streams.rowWhere(QStringLiteral("subgroup"), kStreamUnnamed);
    ASSERT_GE(named, 0);
    ASSERT_GE(unnamed, 0);
    EXPECT_EQ(streams.at(named, QStringLiteral("subgroupAndName")).toString(), QStringLiteral("1 - [ИТ-21, ИТ-22]"));
    EXPECT_FALSE(streams.at(named, QStringLiteral("subgroupAndName")).isNull());
    EXPECT_TRUE(streams.at(unnamed, QStringLiteral("subgroupAndName")).isNull());

    const Result numbersOnly = runNamed(db, "subgroup2");
    const QVariantList full = numbersOnly.column(QStringLiteral("subgroup"));
    EXPECT_TRUE(full.contains(kStreamLab));
    EXPECT_FALSE(full.contains(kStreamExtramural)) << "the extramural stream is o_z 1";

    const Result kind = runNamed(db, "lessonKind");
    EXPECT_EQ(kind.at(0, QStringLiteral("id_vid_zaniatiy")).toInt(), 1);
    EXPECT_EQ(runNamed(db, "streamFaculty").at(0, QStringLiteral("id_faculty")).toInt(), kFacultyA);
    const Result deadline = runNamed(db, "deadline");
    EXPECT_EQ(deadline.at(0, QStringLiteral("endDate")).toDateTime().date(), QDate(2099, 12, 31));
    const Result closed =
        run(db, QStringLiteral("Select id_a_year, id_w_s, id_f_educ, endDate, id_group FROM  dbo.V_Date_reg_DFS "
                               "GROUP BY id_a_year, id_w_s, id_f_educ, endDate, id_group HAVING (id_a_year =%1) "
                               "AND (id_w_s =%2) AND (id_group = %3)")
                    .arg(kYearCurrent)
                    .arg(kWsAutumn)
                    .arg(kGroupClosed));
    EXPECT_EQ(closed.at(0, QStringLiteral("endDate")).toDateTime().date(), QDate(2020, 6, 30));
}

TEST_F(Catalogue, StudentListsFlagsAndRegistrationsMatchTheDatabase) {
    const Result a = runNamed(db, "studentsA");
    const Result b = runNamed(db, "studentsB");
    ASSERT_EQ(a.rows.size(), kGroupOz0Students);
    EXPECT_EQ(a.rows, b.rows) << "both routines list the same rows";
    EXPECT_EQ(a.column(QStringLiteral("id_student")).mid(3, 3),
              (QVariantList{kStudentEliseeva, kStudentTwoGroups, kStudentZhdanov}))
        << "е before ё before ж";
    auto flags = [&](int student) {
        const int r = a.rowWhere(QStringLiteral("id_student"), student);
        return std::pair<int, int>(a.at(r, QStringLiteral("IsSelected")).toInt(),
                                   a.at(r, QStringLiteral("IsTeacher")).toInt());
    };
    EXPECT_EQ(flags(kStudentAbdullaev), std::make_pair(1, 1));
    EXPECT_EQ(flags(kStudentSmirnova), std::make_pair(1, 0)) << "registered by operator2";
    EXPECT_EQ(flags(kStudentEliseeva), std::make_pair(0, 0));
    EXPECT_EQ(a.at(0, QStringLiteral("s_fio")).toString(), QStringLiteral("Абдуллаев Тимур Русланович"));

    EXPECT_EQ(runNamed(db, "descGroupNum").at(0, QStringLiteral("descGroupNum")).toInt(), kDescGroupNumA);
    const Result notInPlan =
        run(db, QStringLiteral("Exec SP_GetDescGroupNumOfDiscipline @id_a_year =%1,@id_w_s =%2,@id_kafedra =%3,"
                               "@id_group =%4,@id_discipline =%5,@id_examination =%6")
                    .arg(kYearCurrent)
                    .arg(kWsAutumn)
                    .arg(kKafedraA)
                    .arg(kGroupOz0)
                    .arg(kDisciplineNotInPlan)
                    .arg(kExamCredit));
    EXPECT_EQ(notInPlan.at(0, QStringLiteral("descGroupNum")).toInt(), -1);

    EXPECT_EQ(runNamed(db, "creditSum").at(0, QStringLiteral("Sumkredits")).toInt(), kCreditLimitOz0);
    const Result none =
        run(db, QStringLiteral("SELECT  Sum([kredits]) as Sumkredits FROM [QTL].[dbo].[DisciplineForStudent] "
                               "where id_student=%1 and id_semester=%2 and id_group=%3 and id_a_year=%4")
                    .arg(kStudentEliseeva)
                    .arg(kSemesterCourse2Autumn)
                    .arg(kGroupOz0)
                    .arg(kYearCurrent));
    ASSERT_EQ(none.rows.size(), 1);
    EXPECT_TRUE(none.at(0, QStringLiteral("Sumkredits")).isNull());

    // The streams list: one line per registration of the class, Cyrillic text glued on the server.
    const Result streams = runNamed(db, "streams");
    const int expected = sqliteInt(
        server, QStringLiteral(
                    "SELECT count(*) FROM DisciplineForStudent d JOIN semester s ON s.id_semester = d.id_ins_semester "
                    "WHERE d.id_ins_year = %1 AND d.id_discipline = %2 AND d.id_examination = %3 AND d.kredits = %4 "
                    "AND s.id_w_s = %5 AND d.id_teacher = %6")
                    .arg(kYearCurrent)
                    .arg(kDisciplineA)
                    .arg(kExamA)
                    .arg(kCreditsA)
                    .arg(kWsAutumn)
                    .arg(kTeacherA));
    EXPECT_EQ(streams.rows.size(), expected);
    const int abd = streams.rowWhere(QStringLiteral("id_student"), kStudentAbdullaev);
    ASSERT_GE(abd, 0);
    EXPECT_EQ(streams.at(abd, QStringLiteral("s_fio")).toString(),
              QStringLiteral("1п (ИТ-21) - Абдуллаев Тимур Русланович"));

    const Result info = runNamed(db, "studentInfo");
    EXPECT_EQ(info.at(0, QStringLiteral("id_teacher")).toInt(), kTeacherA);
    EXPECT_EQ(info.at(0, QStringLiteral("id_kafedra")).toInt(), kKafedraA);
    EXPECT_EQ(info.at(0, QStringLiteral("subGroup")).toInt(), kStreamNamed);
    EXPECT_EQ(info.at(0, QStringLiteral("discipline")).toString(), QStringLiteral("Программирование"));
    const Result noInfo =
        run(db, QStringLiteral("EXEC GetKPVStudentInfo   @id_student = %1 ,@id_semester = %2 ,@id_a_year = %3 "
                               ",@id_discipline = %4 ,@id_group =  %5 ,@descGroupNum =  %6 ,@kredits =  %7")
                    .arg(kStudentEliseeva)
                    .arg(kSemesterCourse2Autumn)
                    .arg(kYearCurrent)
                    .arg(kDisciplineA)
                    .arg(kGroupOz0)
                    .arg(kDescGroupNumA)
                    .arg(kCreditsA));
    ASSERT_TRUE(noInfo.ok) << noInfo.error.toStdString();
    EXPECT_TRUE(noInfo.rows.isEmpty());

    const QVariantList staff = runNamed(db, "teachers2").column(QStringLiteral("id_teacher"));
    EXPECT_TRUE(staff.contains(kTeacherIdle));
    EXPECT_FALSE(staff.contains(kTeacherGuest));
}

TEST_F(Catalogue, SearchAndRegistrationsWindowReads) {
    const Result found = runNamed(db, "search");
    int yolkina = 0;
    for (const QVariant& v : found.column(QStringLiteral("id_student"))) yolkina += v.toInt() == kStudentTwoGroups;
    EXPECT_EQ(yolkina, 2) << "one line per group of her movement records";
    // Case does not matter for Cyrillic either.
    const Result lower = run(db, statement("search").replace(QStringLiteral("'%ЁЛК%'"), QStringLiteral("'%ёлк%'")));
    EXPECT_EQ(lower.rows, found.rows);

    const Result regs = runNamed(db, "registrations");
    EXPECT_EQ(
        regs.rows.size(),
        sqliteInt(
            server,
            QStringLiteral("SELECT count(*) FROM DisciplineForStudent WHERE id_student = %1").arg(kStudentAbdullaev)));
    EXPECT_EQ(regs.at(0, QStringLiteral("p34")).toString(),
              server
                  .sqliteScalar(QStringLiteral("SELECT p34 FROM discipline WHERE id_discipline = %1")
                                    .arg(regs.at(0, QStringLiteral("id_discipline")).toInt()))
                  .toString());

    const int id = regs.at(0, QStringLiteral("id_disciplineForStudent")).toInt();
    const Result temp =
        run(db, QStringLiteral("SELECT TOP (1) id_disciplineForStudent FROM dbo.DisciplineForStudent WHERE "
                               "id_disciplineForStudent =%1")
                    .arg(id));
    ASSERT_EQ(temp.rows.size(), 1);
    EXPECT_EQ(temp.rows[0][0].toInt(), id);
}

// ---- writes -----------------------------------------------------------------------------------

TEST_F(Catalogue, RegisteringInsertsOneRowWithEveryValue) {
    const int before = lastDfsId();
    const QString sql =
        QStringLiteral(
            "INSERT INTO DisciplineForStudent  (id_student, descGroupNum, id_discipline, id_a_year, id_semester, "
            "id_ins_year, "
            "id_ins_semester, id_teacher, id_group,  id_examination, subGroup, QTL_user, id_faculty, id_kafedra, "
            "kredits, "
            "isByPlan, id_vid_zaniatiy) VALUES(%1, %2, %3,%4,%5,%4,%5,%6,%7,%8,%9, 'o''brien',%10,%11,%12,1,1)")
            .arg(kStudentEliseeva)
            .arg(kDescGroupNumA)
            .arg(kDisciplineA)
            .arg(kYearCurrent)
            .arg(kSemesterCourse2Autumn)
            .arg(kTeacherA)
            .arg(kGroupOz0)
            .arg(kExamA)
            .arg(kStreamNamed)
            .arg(kFacultyA)
            .arg(kKafedraA)
            .arg(kCreditsA);
    const Result r = run(db, sql);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.affected, 1);
    const auto rows = server.sqlite(
        QStringLiteral(
            "SELECT id_disciplineForStudent, id_student, descGroupNum, id_discipline, id_a_year, id_semester, "
            "id_ins_year, "
            "id_ins_semester, id_teacher, id_group, id_examination, subGroup, QTL_user, id_faculty, id_kafedra, "
            "kredits, "
            "isByPlan, id_vid_zaniatiy, date_ins FROM DisciplineForStudent WHERE id_disciplineForStudent > %1")
            .arg(before));
    ASSERT_EQ(rows.size(), 1);
    const QVariantList got(rows[0].begin(), rows[0].end() - 1);
    EXPECT_EQ(got,
              (QVariantList{before + 1, kStudentEliseeva, kDescGroupNumA, kDisciplineA, kYearCurrent,
                            kSemesterCourse2Autumn, kYearCurrent, kSemesterCourse2Autumn, kTeacherA, kGroupOz0, kExamA,
                            kStreamNamed, QStringLiteral("o'brien"), kFacultyA, kKafedraA, kCreditsA, 1, 1}));
    EXPECT_FALSE(rows[0].last().toString().isEmpty()) << "insert time stamped";

    // The student now shows as registered by nobody of ours (the login is not operator's).
    const Result list = runNamed(db, "studentsA");
    const int r2 = list.rowWhere(QStringLiteral("id_student"), kStudentEliseeva);
    EXPECT_EQ(list.at(r2, QStringLiteral("IsSelected")).toInt(), 1);
    EXPECT_EQ(list.at(r2, QStringLiteral("IsTeacher")).toInt(), 0);
}

TEST_F(Catalogue, StreamEditorTransferAndCopyUpdatesChangeOnlyTheirRows) {
    const int row = sqliteInt(server, QStringLiteral("SELECT id_disciplineForStudent FROM DisciplineForStudent WHERE "
                                                     "id_student = %1 AND id_discipline = %2 AND id_ins_year = %3")
                                          .arg(kStudentAbdullaev)
                                          .arg(kDisciplineA)
                                          .arg(kYearCurrent));
    ASSERT_GT(row, 0);
    const int total = sqliteInt(server, QStringLiteral("SELECT count(*) FROM DisciplineForStudent"));

    // Stream editor.
    Result r = run(db, QStringLiteral("UPDATE DisciplineForStudent SET subGroup = %1,  id_teacher = %2 WHERE "
                                      "(id_disciplineForStudent = %3)")
                           .arg(kStreamUnnamed)
                           .arg(kTeacherB)
                           .arg(row));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.affected, 1);
    auto state = [&] {
        return server
            .sqlite(QStringLiteral("SELECT subGroup, id_teacher, id_a_year, id_semester, id_discipline, kredits "
                                   "FROM DisciplineForStudent WHERE id_disciplineForStudent = %1")
                        .arg(row))
            .value(0);
    };
    EXPECT_EQ(state().mid(0, 2), (QVector<QVariant>{kStreamUnnamed, kTeacherB}));
    EXPECT_EQ(sqliteInt(server, QStringLiteral(
                                    "SELECT count(*) FROM DisciplineForStudent WHERE subGroup = %1 AND id_teacher = %2")
                                    .arg(kStreamUnnamed)
                                    .arg(kTeacherB)),
              1);

    // Transfer frame "apply": matched by student, registering year and semester, plan number, discipline.
    r = run(db, QStringLiteral(
                    "UPDATE DisciplineForStudent SET id_teacher = %1, subGroup = %2, id_a_year = %3, id_semester = %4 "
                    "WHERE   id_student = %5 AND id_ins_year = %6 AND id_examination = %7 AND id_ins_semester = %8 "
                    "AND descGroupNum = %9 AND id_discipline = %10")
                    .arg(kTeacherA)
                    .arg(kStreamExtramural)
                    .arg(kYearNext)
                    .arg(kSemesterCourse2Spring)
                    .arg(kStudentAbdullaev)
                    .arg(kYearCurrent)
                    .arg(kExamA)
                    .arg(kSemesterCourse2Autumn)
                    .arg(kDescGroupNumA)
                    .arg(kDisciplineA));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.affected, 1);
    EXPECT_EQ(state().mid(0, 4), (QVector<QVariant>{kStreamExtramural, kTeacherA, kYearNext, kSemesterCourse2Spring}));

    // "Copy current parameters", without the discipline condition.
    r = run(db,
            QStringLiteral(
                "UPDATE DisciplineForStudent SET id_teacher = %1, subGroup = %2, id_semester = %3, id_discipline = %4, "
                "id_a_year = %5, id_examination = %6, descGroupNum = %7, id_ins_year = %5, kredits = %8, "
                "id_ins_semester = %3 WHERE   id_student = %9 AND id_ins_year = %5 AND id_ins_semester = %3 "
                "AND descGroupNum = %7")
                .arg(kTeacherA)
                .arg(kStreamNamed)
                .arg(kSemesterCourse2Autumn)
                .arg(kDisciplineA)
                .arg(kYearCurrent)
                .arg(kExamA)
                .arg(kDescGroupNumA)
                .arg(kCreditsA)
                .arg(kStudentAbdullaev));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.affected, 1);
    EXPECT_EQ(state(), (QVector<QVariant>{kStreamNamed, kTeacherA, kYearCurrent, kSemesterCourse2Autumn, kDisciplineA,
                                          kCreditsA}));
    EXPECT_EQ(sqliteInt(server, QStringLiteral("SELECT count(*) FROM DisciplineForStudent")), total);

    // An UPDATE that matches nothing reports no rows.
    r = run(
        db,
        QStringLiteral(
            "UPDATE DisciplineForStudent SET subGroup = 1,  id_teacher = 1 WHERE (id_disciplineForStudent = 999999)"));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.affected, 0);
}

TEST_F(Catalogue, RemovalWritesItsAuditRowInTheSameBatch) {
    const auto ids = server.sqlite(
        QStringLiteral("SELECT id_disciplineForStudent FROM DisciplineForStudent WHERE id_student IN (%1, %2) "
                       "AND id_discipline = %3 AND id_ins_year = %4 ORDER BY id_student")
            .arg(kStudentAbdullaev)
            .arg(kStudentBelova)
            .arg(kDisciplineA)
            .arg(kYearCurrent));
    ASSERT_EQ(ids.size(), 2);
    const QString first = ids[0][0].toString(), second = ids[1][0].toString();
    const int logBefore = sqliteInt(server, QStringLiteral("SELECT count(*) FROM QTL_LOG"));
    auto audit = [](const QString& id) {
        return QStringLiteral(
                   "INSERT INTO QTL_LOG([table], [row_id], [descr], [QTL_User], [comp]) "
                   "VALUES('DisciplineForStudent', ") +
               id + QStringLiteral(", 'Запись с уникальным номером - ''") + id +
               QStringLiteral("'' была удалена - (id_faculty[1], id_disciplineForStudent[") + id +
               QStringLiteral("]).', 'operator', 'PC7\\10.0.0.5')");
    };

    // As the audit log sends it: the caller's DELETE, then the INSERT, as one batch.
    Result r = run(db, QStringLiteral("DELETE FROM DisciplineForStudent WHERE (id_disciplineForStudent = ") + first +
                           QStringLiteral(")\r\n") + audit(first));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(
        sqliteInt(server,
                  QStringLiteral("SELECT count(*) FROM DisciplineForStudent WHERE id_disciplineForStudent = ") + first),
        0);
    const auto log = server.sqlite(QStringLiteral(
        "SELECT \"table\", row_id, descr, QTL_User, comp FROM QTL_LOG ORDER BY id_QTL_LOG DESC LIMIT 1"));
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0],
              (QVector<QVariant>{QStringLiteral("DisciplineForStudent"), first.toLongLong(),
                                 QStringLiteral("Запись с уникальным номером - '") + first +
                                     QStringLiteral("' была удалена - (id_faculty[1], id_disciplineForStudent[") +
                                     first + QStringLiteral("])."),
                                 QStringLiteral("operator"), QStringLiteral("PC7\\10.0.0.5")}));

    // As the workstation sends it: one transaction that any error rolls back.
    r = run(
        db,
        QStringLiteral(
            "SET XACT_ABORT ON\r\nBEGIN TRAN\r\nDELETE FROM DisciplineForStudent WHERE (id_disciplineForStudent = ") +
            second + QStringLiteral(")\r\n") + audit(second) + QStringLiteral("\r\nCOMMIT TRAN\r\n"));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(
        sqliteInt(server, QStringLiteral("SELECT count(*) FROM DisciplineForStudent WHERE id_disciplineForStudent = ") +
                              second),
        0);
    EXPECT_EQ(sqliteInt(server, QStringLiteral("SELECT count(*) FROM QTL_LOG")), logBefore + 2);
    EXPECT_EQ(sqliteInt(server, QStringLiteral("SELECT count(*) FROM QTL_LOG WHERE row_id = ") + second), 1);

    // The registrations window's single-row delete.
    const int third =
        sqliteInt(server, QStringLiteral("SELECT max(id_disciplineForStudent) FROM DisciplineForStudent"));
    const int total = sqliteInt(server, QStringLiteral("SELECT count(*) FROM DisciplineForStudent"));
    r = run(db, QStringLiteral("DELETE FROM DisciplineForStudent WHERE id_disciplineForStudent = %1").arg(third));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.affected, 1);
    EXPECT_EQ(sqliteInt(server, QStringLiteral("SELECT count(*) FROM DisciplineForStudent")), total - 1);
    r = run(db, QStringLiteral("DELETE FROM DisciplineForStudent WHERE id_disciplineForStudent = %1").arg(third));
    EXPECT_EQ(r.affected, 0);
    // Identity values are never reused after a delete.
    ASSERT_TRUE(run(db, QStringLiteral("INSERT INTO DisciplineForStudent (id_student, id_discipline) VALUES (%1, %2)")
                            .arg(kStudentZhdanov)
                            .arg(kDisciplineA))
                    .ok);
    EXPECT_EQ(lastDfsId(), third + 1);
}

// ---- several clients, broken clients, errors --------------------------------------------------

TEST_F(Catalogue, TwoClientsInterleaveStatements) {
    QSqlDatabase other = connect(QStringLiteral("second"));
    ASSERT_TRUE(other.isOpen()) << other.lastError().text().toStdString();
    const int before = sqliteInt(server, QStringLiteral("SELECT count(*) FROM QTL_LOG"));

    // A result being read on one connection while the other reads and writes.
    QSqlQuery reading(db);
    reading.setForwardOnly(true);
    ASSERT_TRUE(reading.exec(statement("studentsA")));
    ASSERT_TRUE(reading.next());
    const int firstStudent = reading.value(0).toInt();
    for (int i = 0; i < 5; ++i) {
        const Result r =
            run(other, QStringLiteral("INSERT INTO QTL_LOG([table], [row_id], [descr], [QTL_User], [comp]) "
                                      "VALUES('t', %1, 'клиент два', 'operator2', 'PC8')")
                           .arg(i));
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        const Result w = run(other, QStringLiteral("SELECT * FROM w_s"));
        EXPECT_EQ(w.rows.size(), 3);
    }
    int rest = 1;
    while (reading.next()) ++rest;
    EXPECT_EQ(rest, kGroupOz0Students);
    EXPECT_EQ(firstStudent, kStudentAbdullaev);
    reading.finish();

    // Each sees what the other committed at once.
    EXPECT_EQ(run(db, QStringLiteral("SELECT count(*) AS n FROM QTL_LOG")).at(0, QStringLiteral("n")).toInt(),
              before + 5);
    const Result moved = run(db, QStringLiteral("UPDATE DisciplineForStudent SET subGroup = %1,  id_teacher = %2 WHERE "
                                                "id_student = %3 AND id_discipline = %4 AND id_ins_year = %5")
                                     .arg(kStreamUnnamed)
                                     .arg(kTeacherA)
                                     .arg(kStudentAbdullaev)
                                     .arg(kDisciplineA)
                                     .arg(kYearCurrent));
    ASSERT_TRUE(moved.ok) << moved.error.toStdString();
    EXPECT_EQ(runNamed(other, "studentInfo").at(0, QStringLiteral("subGroup")).toInt(), kStreamUnnamed);

    // Both sessions were logged apart.
    std::set<int> sessions;
    for (const auto& e : server.log())
        if (e.kind == QStringLiteral("batch")) sessions.insert(e.session);
    EXPECT_GE(sessions.size(), 2u);
}

// A bare TDS client: enough to log in, send one batch and walk away in the middle of its answer.
class RawClient {
public:
    bool login(quint16 port, const std::string& user, const std::string& pw) {
        m_sock.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!m_sock.waitForConnected(5000)) return false;
        send(0x12, tdstest::buildPreLogin());
        if (readMessage().empty()) return false;
        send(0x10, tdstest::buildLogin7(user, pw, "QTL"));
        return !readMessage().empty();
    }
    void send(std::uint8_t type, const devserver::tds::Bytes& payload) {
        const auto bytes = devserver::tds::packetize(type, payload, 4096, 0);
        m_sock.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        m_sock.waitForBytesWritten(5000);
    }
    // Reads packets until one marked end-of-message; returns the payload.
    devserver::tds::Bytes readMessage() {
        devserver::tds::Bytes payload;
        for (;;) {
            const QByteArray header = readExactly(8);
            if (header.size() < 8) return {};
            const int len = (quint8(header[2]) << 8) | quint8(header[3]);
            const QByteArray body = readExactly(len - 8);
            payload.insert(payload.end(), body.begin(), body.end());
            if (header[1] & 0x01) return payload;
        }
    }
    QByteArray readExactly(int n) {
        QByteArray out;
        while (out.size() < n) {
            // Generous: the server builds the whole result before its first byte, slowly under
            // the sanitizers on a loaded machine.
            if (m_sock.bytesAvailable() == 0 && !m_sock.waitForReadyRead(60000)) break;
            out += m_sock.read(n - out.size());
        }
        return out;
    }
    QTcpSocket m_sock;
};

TEST_F(Catalogue, ClientThatVanishesMidResultLeavesTheServerServing) {
    RawClient raw;
    ASSERT_TRUE(raw.login(quint16(server.port()), kOperatorDbUser, kOperatorDbPassword));
    // A result far larger than the socket buffers, abandoned after its first packets.
    raw.send(0x01, tdstest::buildBatch("SELECT a.s_fio, b.s_fio, c.s_fio FROM s_fio a, s_fio b, s_fio c"));
    const QByteArray start = raw.readExactly(3 * 4096);
    ASSERT_EQ(start.size(), 3 * 4096) << "no result arrived";
    raw.m_sock.abort();

    // The old connection stays usable, and a new one logs in and works.
    EXPECT_EQ(run(db, QStringLiteral("SELECT * FROM w_s")).rows.size(), 3);
    QSqlDatabase fresh = connect(QStringLiteral("after-drop"));
    ASSERT_TRUE(fresh.isOpen()) << fresh.lastError().text().toStdString();
    EXPECT_EQ(runNamed(fresh, "studentsA").rows.size(), kGroupOz0Students);
}

TEST_F(Catalogue, UnknownStatementGetsAClearErrorAndRunsNothing) {
    const int before = sqliteInt(server, QStringLiteral("SELECT count(*) FROM QTL_LOG"));
    for (const QString& sql : {QStringLiteral("MERGE w_s USING a_year ON 1=1 WHEN MATCHED THEN DELETE;"),
                               QStringLiteral("SELECT id_w_s FROM w_s FOR XML AUTO")}) {
        SCOPED_TRACE(sql.toStdString());
        // Even the statement in front of it is not run: the batch fails as a whole.
        const Result r = run(db, QStringLiteral("INSERT INTO QTL_LOG([table], [row_id]) VALUES('x', 1)\r\n") + sql);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.error.contains(QStringLiteral("[SQL Server]"))) << r.error.toStdString();
        EXPECT_TRUE(r.error.contains(QStringLiteral("MERGE")) || r.error.contains(QStringLiteral("XML")))
            << r.error.toStdString();
    }
    EXPECT_EQ(sqliteInt(server, QStringLiteral("SELECT count(*) FROM QTL_LOG")), before);
    const Result missing = run(db, QStringLiteral("SELECT nope FROM w_s"));
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(missing.error.contains(QStringLiteral("nope"))) << missing.error.toStdString();
    // Same connection goes on.
    EXPECT_EQ(run(db, QStringLiteral("SELECT * FROM w_s")).rows.size(), 3);
}

TEST_F(Catalogue, WrongPasswordIsRefusedWithTheUserName) {
    QSqlDatabase bad = connect(QStringLiteral("bad"), QString::fromLatin1(kSettingsUser), QStringLiteral("wrong"));
    EXPECT_FALSE(bad.isOpen());
    EXPECT_TRUE(bad.lastError().text().contains(QStringLiteral("Login failed for user 'qtl_entry'.")))
        << bad.lastError().text().toStdString();
    QSqlDatabase unknown = connect(QStringLiteral("unknown"), QStringLiteral("nobody"), QStringLiteral("x"));
    EXPECT_FALSE(unknown.isOpen());
    EXPECT_TRUE(unknown.lastError().text().contains(QStringLiteral("Login failed for user 'nobody'.")))
        << unknown.lastError().text().toStdString();
    // The server goes on serving the right password.
    EXPECT_EQ(run(db, QStringLiteral("SELECT * FROM w_s")).rows.size(), 3);
}

TEST_F(Catalogue, FailingSecondStatementWithAndWithoutXactAbort) {
    auto count = [&](const QString& table) {
        return sqliteInt(server, QStringLiteral("SELECT count(*) FROM QTL_LOG WHERE \"table\" = '%1'").arg(table));
    };
    auto ins = [](const QString& table) {
        return QStringLiteral("INSERT INTO QTL_LOG([table], [row_id]) VALUES('%1', 1)").arg(table);
    };
    // id_student is NOT NULL: a run-time error in the middle statement.
    const QString failing =
        QStringLiteral("INSERT INTO DisciplineForStudent (id_student, id_discipline) VALUES (NULL, 1)");
    const int dfs = sqliteInt(server, QStringLiteral("SELECT count(*) FROM DisciplineForStudent"));

    // Without XACT_ABORT: the failed statement ends, the batch goes on.
    run(db, ins(QStringLiteral("plain1")) + QStringLiteral("\r\n") + failing + QStringLiteral("\r\n") +
                ins(QStringLiteral("plain3")));
    EXPECT_EQ(count(QStringLiteral("plain1")), 1);
    EXPECT_EQ(count(QStringLiteral("plain3")), 1);

    // Inside a transaction without XACT_ABORT only the failed statement is undone.
    run(db, QStringLiteral("BEGIN TRAN\r\n") + ins(QStringLiteral("tran1")) + QStringLiteral("\r\n") + failing +
                QStringLiteral("\r\n") + ins(QStringLiteral("tran3")) + QStringLiteral("\r\nCOMMIT TRAN"));
    EXPECT_EQ(count(QStringLiteral("tran1")), 1);
    EXPECT_EQ(count(QStringLiteral("tran3")), 1);

    // With XACT_ABORT and a transaction: the batch stops and everything rolls back.
    run(db, QStringLiteral("SET XACT_ABORT ON\r\nBEGIN TRAN\r\n") + ins(QStringLiteral("abort1")) +
                QStringLiteral("\r\n") + failing + QStringLiteral("\r\n") + ins(QStringLiteral("abort3")) +
                QStringLiteral("\r\nCOMMIT TRAN"));
    EXPECT_EQ(count(QStringLiteral("abort1")), 0);
    EXPECT_EQ(count(QStringLiteral("abort3")), 0);
    EXPECT_EQ(sqliteInt(server, QStringLiteral("SELECT count(*) FROM DisciplineForStudent")), dfs);
    // No transaction is left open: the next statement commits on its own and another client sees it.
    ASSERT_TRUE(run(db, ins(QStringLiteral("after"))).ok);
    EXPECT_EQ(count(QStringLiteral("after")), 1);

    // XACT_ABORT stays on for the session; without a transaction the finished statement stays.
    run(db, ins(QStringLiteral("auto1")) + QStringLiteral("\r\n") + failing + QStringLiteral("\r\n") +
                ins(QStringLiteral("auto3")));
    EXPECT_EQ(count(QStringLiteral("auto1")), 1);
    EXPECT_EQ(count(QStringLiteral("auto3")), 0);
}

TEST_F(Catalogue, FailedStatementErrorReachesTheClient) {
    // A single failing statement is reported with the server's number text, not as success.
    const Result r =
        run(db, QStringLiteral("INSERT INTO DisciplineForStudent (id_student, id_discipline) VALUES (NULL, 1)"));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("NULL"), Qt::CaseInsensitive)) << r.error.toStdString();
}

// Fault injection by count through the workstation's client stack, and the session state in the log.
TEST(FaultInjection, CountsStatementsFromOpenOrFromTheMarkAndLogsTheSessionState) {
    qtltest::DevServer::Options options;
    options.failNth = 3;
    qtltest::DevServer server(options);
    server.start();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("fault-count"));
        db.setDatabaseName(server.operatorOdbcString());
        ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
        // Whatever the client sent at open (one statement a batch) counts too.
        const int atOpen = server.batches().size();
        ASSERT_LT(atOpen, 3);
        for (int k = 1; k <= 3; ++k) {
            const QString sql = QStringLiteral("SELECT %1").arg(k);
            const Result r = run(db, sql);
            if (atOpen + k == 3) {
                EXPECT_FALSE(r.ok) << k;
                EXPECT_TRUE(r.error.contains(QStringLiteral("Injected failure: ") + sql)) << r.error.toStdString();
            } else {
                EXPECT_TRUE(r.ok) << k << r.error.toStdString();
            }
        }
        ASSERT_TRUE(run(db, QStringLiteral("BEGIN TRAN")).ok);
        EXPECT_TRUE(run(db, QStringLiteral("SET XACT_ABORT ON")).ok);
        EXPECT_TRUE(run(db, QStringLiteral("ROLLBACK TRAN")).ok);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fault-count"));
    const QVector<qtltest::LogEntry> log = server.log();
    QVector<qtltest::LogEntry> batches;
    for (const auto& e : log)
        if (e.kind == QLatin1String("batch")) batches << e;
    ASSERT_GE(batches.size(), 6);
    const auto last = batches.size() - 1;
    EXPECT_EQ(batches[0].tranCount, 0);
    EXPECT_EQ(batches[0].xactAbort, 0);
    EXPECT_EQ(batches[last - 1].text, QStringLiteral("SET XACT_ABORT ON"));
    EXPECT_EQ(batches[last - 1].tranCount, 1);  // left by BEGIN TRAN
    EXPECT_EQ(batches[last - 1].xactAbort, 0);
    EXPECT_EQ(batches[last].tranCount, 1);
    EXPECT_EQ(batches[last].xactAbort, 1);
    for (const auto& e : log)
        if (e.kind == QLatin1String("login")) {
            EXPECT_EQ(e.tranCount, -1);
            EXPECT_EQ(e.xactAbort, -1);
        }

    // With a mark nothing counts before it; after it the second statement fails.
    options.failNth = 2;
    options.faultMark = qtltest::DevServer::faultMarkText();
    server.restartWith(options);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("fault-mark"));
        db.setDatabaseName(server.operatorOdbcString());
        ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
        for (const char* sql : {"SELECT 1", "SELECT 2", "SELECT 3"})  // no mark yet: nothing counts
            EXPECT_TRUE(run(db, QString::fromLatin1(sql)).ok) << sql;
        const Result mark = run(db, qtltest::DevServer::faultMarkText());
        EXPECT_TRUE(mark.ok);
        EXPECT_EQ(mark.rows.size(), 1);
        EXPECT_TRUE(run(db, QStringLiteral("SELECT 1")).ok);
        EXPECT_FALSE(run(db, QStringLiteral("SELECT 2")).ok);
        EXPECT_TRUE(run(db, QStringLiteral("SELECT 3")).ok);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fault-mark"));
}

// Registering looks up the stream's faculty in RRNK_krdt_kolst; a stream without that row would
// leave the INSERT with an empty value and fail. The large data must have it for every stream.
TEST(LargeDemo, EveryStreamHasItsFacultyRow) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    devserver::qtl::createDatabase(db, "large");
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(db,
                           "SELECT count(*), (SELECT count(*) FROM RRNKkrdt WHERE id_teacher >= 1001) FROM RRNKkrdt r "
                           "WHERE r.id_teacher >= 1001 AND NOT EXISTS (SELECT 1 FROM RRNK_krdt_kolst k WHERE "
                           "k.id_a_year = r.id_a_year AND k.id_w_s = r.id_w_s AND k.id_kafedra = r.id_kafedra AND "
                           "k.id_teacher = r.id_teacher AND k.id_discipline = r.id_discipline AND "
                           "k.id_examination = r.id_examination AND k.subgroup = r.subgroup)",
                           -1, &st, nullptr),
        SQLITE_OK)
        << sqlite3_errmsg(db);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 0) << "streams without a faculty row";
    EXPECT_GT(sqlite3_column_int(st, 1), 1000);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

}  // namespace
