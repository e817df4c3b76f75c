// Every statement form the workstation sends, on the `large` database through QODBC and FreeTDS,
// filled with the ids of a busy class (the teacher and discipline with the most registrations in
// the operator's faculties). Prints the median and the worst time per statement; exits non-zero
// when a median exceeds the 50 ms budget.
//
//   build/<dir>/bin/bench_catalogue [repetitions]
#include "DevServer.h"

#include "../devserver/qtl/demo_ids.h"
#include "../tests/unit/tsql_statements.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

namespace demo = devserver::qtl::demo;

constexpr double kBudgetMs = 50.0;

struct Timing {
    double median = 0, max = 0;
    int rows = 0;
    QString error;
};

// Runs `sql` as the workstation does (forward-only text) and reads every row.
int runOnce(QSqlDatabase& db, const QString& sql, QString& error) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(sql)) {
        error = q.lastError().text();
        return -1;
    }
    int rows = 0;
    const int cols = q.record().count();
    while (q.next()) {
        for (int c = 0; c < cols; ++c) (void)q.value(c);
        ++rows;
    }
    return rows;
}

Timing measure(QSqlDatabase& db, int reps, const std::function<QString(int)>& sqlFor) {
    Timing t;
    std::vector<double> ms;
    QElapsedTimer timer;
    runOnce(db, sqlFor(-1), t.error);  // warm-up: page cache, statement cache
    for (int i = 0; i < reps && t.error.isEmpty(); ++i) {
        const QString sql = sqlFor(i);
        timer.start();
        t.rows = runOnce(db, sql, t.error);
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    if (ms.empty()) return t;
    std::sort(ms.begin(), ms.end());
    t.median = ms[ms.size() / 2];
    t.max = ms.back();
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int reps = argc > 1 ? std::max(3, atoi(argv[1])) : 15;

    qtltest::DevServer::Options options;
    options.demo = QStringLiteral("large");
    qtltest::DevServer server(options);
    QElapsedTimer built;
    built.start();
    server.start();
    std::printf("large database ready in %.1f s: %d students, %d registrations\n", built.elapsed() / 1000.0,
                server.sqliteScalar(QStringLiteral("SELECT count(*) FROM student")).toInt(),
                server.sqliteScalar(QStringLiteral("SELECT count(*) FROM DisciplineForStudent")).toInt());

    // The busiest class of the work year in the operator's generated faculties.
    const auto busy = server.sqlite(
        QStringLiteral(
            "SELECT id_teacher, id_discipline, id_examination, kredits, id_kafedra, id_ins_semester, count(*) AS c "
            "FROM DisciplineForStudent WHERE id_ins_year = %1 AND id_faculty BETWEEN %2 AND %3 "
            "GROUP BY id_teacher, id_discipline, id_examination, kredits, id_kafedra, id_ins_semester ORDER BY c DESC "
            "LIMIT 1")
            .arg(demo::kYearCurrent)
            .arg(demo::kLargeFirstFaculty)
            .arg(demo::kLargeFirstFaculty + demo::kLargeOperatorFaculties - 1));
    if (busy.isEmpty()) {
        std::fprintf(stderr, "no registrations in the large data\n");
        return 1;
    }
    tsql_statements::Ids ids;
    ids.year = demo::kYearCurrent;
    ids.teacher = busy[0][0].toInt();
    ids.discipline = busy[0][1].toInt();
    ids.exam = busy[0][2].toInt();
    ids.credits = busy[0][3].toInt();
    ids.kafedra = busy[0][4].toInt();
    ids.semester = busy[0][5].toInt();
    const int classSize = busy[0][6].toInt();
    ids.ws = server.sqliteScalar(QStringLiteral("SELECT id_w_s FROM semester WHERE id_semester = %1").arg(ids.semester))
                 .toInt();
    const auto row = server.sqlite(
        QStringLiteral(
            "SELECT id_group, id_faculty, subGroup, descGroupNum, id_student FROM DisciplineForStudent WHERE "
            "id_ins_year = %1 "
            "AND id_teacher = %2 AND id_discipline = %3 AND id_ins_semester = %4 ORDER BY id_group, id_student LIMIT 1")
            .arg(ids.year)
            .arg(ids.teacher)
            .arg(ids.discipline)
            .arg(ids.semester));
    ids.group = row[0][0].toInt();
    ids.faculty = row[0][1].toInt();
    ids.stream = row[0][2].toInt();
    ids.descGroupNum = row[0][3].toInt();
    ids.student = row[0][4].toInt();
    ids.creditStudent = ids.student;
    const QString name =
        server.sqliteScalar(QStringLiteral("SELECT s_fio FROM student WHERE id_student = %1").arg(ids.student))
            .toString();
    ids.searchPattern = (QStringLiteral("%") + name.left(3).toUpper() + QStringLiteral("%")).toStdString();
    std::printf(
        "class: teacher %d, discipline %d, exam %d, %d credits, kafedra %d, semester %d (w_s %d): %d registrations; "
        "group %d (faculty %d), stream %d, plan number %d, student %d, search %s\n",
        ids.teacher, ids.discipline, ids.exam, ids.credits, ids.kafedra, ids.semester, ids.ws, classSize, ids.group,
        ids.faculty, ids.stream, ids.descGroupNum, ids.student, ids.searchPattern.c_str());

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("bench"));
    db.setDatabaseName(server.operatorOdbcString());
    if (!db.open()) {
        std::fprintf(stderr, "connect: %s\n", qPrintable(db.lastError().text()));
        return 1;
    }

    bool over = false, failed = false;
    auto report = [&](const char* what, const Timing& t) {
        if (!t.error.isEmpty()) {
            failed = true;
            std::printf("%-16s FAILED: %s\n", what, qPrintable(t.error));
            return;
        }
        const bool slow = t.median > kBudgetMs;
        over |= slow;
        std::printf("%-16s median %7.2f ms  max %7.2f ms  rows %6d%s\n", what, t.median, t.max, t.rows,
                    slow ? "  OVER BUDGET" : (t.max > kBudgetMs ? "  (max over budget)" : ""));
    };

    std::printf("%d runs each\n", reps);
    for (const auto& s : tsql_statements::reads(ids)) {
        const QString sql = QString::fromStdString(s.sql);
        report(s.what, measure(db, reps, [&](int) { return sql; }));
    }
    // Things the transfer frame and the sign-in send besides the catalogue reads.
    report("dateformat", measure(db, reps, [](int) { return QStringLiteral("SET DATEFORMAT dmy"); }));
    const int anyRow =
        server.sqliteScalar(QStringLiteral("SELECT max(id_disciplineForStudent) FROM DisciplineForStudent")).toInt();
    report("temp", measure(db, reps, [&](int) {
               return QStringLiteral(
                          "SELECT TOP (1) id_disciplineForStudent FROM dbo.DisciplineForStudent WHERE "
                          "id_disciplineForStudent =%1")
                   .arg(anyRow);
           }));

    // Writes: each run registers a student of the group, moves the row, and removes it with its audit row.
    const QString insert =
        QStringLiteral(
            "INSERT INTO DisciplineForStudent  (id_student, descGroupNum, id_discipline, id_a_year, id_semester, "
            "id_ins_year, "
            "id_ins_semester, id_teacher, id_group,  id_examination, subGroup, QTL_user, id_faculty, id_kafedra, "
            "kredits, "
            "isByPlan, id_vid_zaniatiy) VALUES(%1, %2, %3,%4,%5,%4,%5,%6,%7,%8,%9, 'operator',%10,%11,%12,1,1)")
            .arg(ids.student)
            .arg(ids.descGroupNum)
            .arg(ids.discipline)
            .arg(ids.year)
            .arg(ids.semester)
            .arg(ids.teacher)
            .arg(ids.group)
            .arg(ids.exam)
            .arg(ids.stream)
            .arg(ids.faculty)
            .arg(ids.kafedra)
            .arg(ids.credits);
    report("insert", measure(db, reps, [&](int) { return insert; }));
    auto newest = [&] {
        return server.sqliteScalar(QStringLiteral("SELECT max(id_disciplineForStudent) FROM DisciplineForStudent"))
            .toInt();
    };
    const int mine = newest();
    report("update stream", measure(db, reps, [&](int i) {
               return QStringLiteral(
                          "UPDATE DisciplineForStudent SET subGroup = %1,  id_teacher = %2 WHERE "
                          "(id_disciplineForStudent = %3)")
                   .arg(ids.stream + (i & 1))
                   .arg(ids.teacher)
                   .arg(mine);
           }));
    report("update apply", measure(db, reps, [&](int) {
               return QStringLiteral(
                          "UPDATE DisciplineForStudent SET id_teacher = %1, subGroup = %2, id_a_year = %3, "
                          "id_semester = %4 WHERE   id_student = %5 AND id_ins_year = %3 AND id_examination = %6 "
                          "AND id_ins_semester = %4 AND descGroupNum = %7 AND id_discipline = %8")
                   .arg(ids.teacher)
                   .arg(ids.stream)
                   .arg(ids.year)
                   .arg(ids.semester)
                   .arg(ids.student)
                   .arg(ids.exam)
                   .arg(ids.descGroupNum)
                   .arg(ids.discipline);
           }));
    report("update copy", measure(db, reps, [&](int) {
               return QStringLiteral(
                          "UPDATE DisciplineForStudent SET id_teacher = %1, subGroup = %2, id_semester = %3, "
                          "id_discipline = %4, id_a_year = %5, id_examination = %6, descGroupNum = %7, "
                          "id_ins_year = %5, kredits = %8, id_ins_semester = %3 WHERE   id_student = %9 AND "
                          "id_ins_year = %5 AND id_ins_semester = %3 AND descGroupNum = %7 AND id_discipline = %4")
                   .arg(ids.teacher)
                   .arg(ids.stream)
                   .arg(ids.semester)
                   .arg(ids.discipline)
                   .arg(ids.year)
                   .arg(ids.exam)
                   .arg(ids.descGroupNum)
                   .arg(ids.credits)
                   .arg(ids.student);
           }));
    // The removal batch on the rows inserted above, newest first (the warm-up takes one more).
    int next = newest();
    report("remove+audit", measure(db, reps, [&](int) {
               const QString id = QString::number(next--);
               return QStringLiteral(
                          "SET XACT_ABORT ON\r\nBEGIN TRAN\r\nDELETE FROM DisciplineForStudent WHERE "
                          "(id_disciplineForStudent = ") +
                      id +
                      QStringLiteral(
                          ")\r\nINSERT INTO QTL_LOG([table], [row_id], [descr], [QTL_User], [comp]) "
                          "VALUES('DisciplineForStudent', ") +
                      id + QStringLiteral(", 'Запись с уникальным номером - ''") + id +
                      QStringLiteral("'' была удалена - ().', 'operator', 'PC7\\10.0.0.5')\r\nCOMMIT TRAN\r\n");
           }));

    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("bench"));
    if (server.anyRpc()) {
        std::printf("an RPC was sent\n");
        failed = true;
    }
    std::printf("%s\n", failed ? "FAILED" : over ? "OVER BUDGET" : "all medians within 50 ms");
    return failed || over ? 1 : 0;
}
