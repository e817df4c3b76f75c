// One "Регистрировать >>" click with 30 ticked students on the `large` database: the time from
// the click to the rebuilt lists, over several rounds; prints the median and the statements the
// click sent.
//
//   build/<dir>/bin/bench_register [rounds]
//
// The class is taught by a department of another faculty than the group's, so none of the
// students holds it yet; the group gets five more students (30 in all). The credit limits are
// raised so that every ticked student is written: the credit-sum statement is sent either way,
// and the benchmark wants all 30 INSERTs.
#include "DevServer.h"
#include "SignIn.h"

#include "../devserver/qtl/demo_ids.h"
#include "dm_u.h"
#include "main_u.h"
#include "util/errors.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

namespace demo = devserver::qtl::demo;

constexpr int kTicked = 30;

QString num(qint64 n) {
    return QString::number(n);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 15;

    qtltest::DevServer::Options options;
    options.demo = QStringLiteral("large");
    qtltest::DevServer server(options);
    server.start();

    // A class of the second large faculty's first department, autumn, with its first stream,
    // and the first group of the first large faculty.
    const int faculty = demo::kLargeFirstFaculty;
    const auto cls = server.sqlite(
        QStringLiteral("SELECT r.id_kafedra, r.id_teacher, r.id_discipline, r.id_examination, r.kredit FROM RRNKkrdt r "
                       "JOIN kafedra k ON k.id_kafedra = r.id_kafedra WHERE r.id_a_year = 15 AND r.id_w_s = 1 AND "
                       "r.prov_reyt > 0 AND r.id_vid_zaniatiy = 1 AND r.subgroup = 1 AND k.id_faculty = ") +
        num(demo::kLargeFirstFaculty + 1) + QStringLiteral(" ORDER BY r.id_kafedra, r.id_teacher LIMIT 1"));
    if (cls.isEmpty()) {
        std::fprintf(stderr, "no class found in the large data\n");
        return 1;
    }
    const int kafedra = cls[0][0].toInt(), teacher = cls[0][1].toInt(), discipline = cls[0][2].toInt(),
              exam = cls[0][3].toInt(), credits = cls[0][4].toInt();
    const int group =
        server
            .sqliteScalar(
                "SELECT g.id_group FROM \"group\" g JOIN g_r_y y ON y.id_group = g.id_group AND y.id_a_year = 15 "
                "WHERE g.id_faculty = " +
                num(faculty) + " AND g.o_z = 0 ORDER BY g.id_group LIMIT 1")
            .toInt();
    const int firstExtra = server.sqliteScalar(QStringLiteral("SELECT MAX(id_student) + 1 FROM student")).toInt();
    for (int k = 0; k < 5; ++k)
        server.sqliteExec("INSERT INTO student (id_student, s_fio, id_group) VALUES (" + num(firstExtra + k) +
                          ", 'Яшин Добавочный " + num(k) + "', " + num(group) + ")");

    qtltest::MessageRecorder boxes;
    auto form = qtltest::openMainWindow(server, QStringLiteral("operator"), QStringLiteral("operator"));
    if (!form) {
        std::fprintf(stderr, "sign-in failed\n");
        return 1;
    }
    qtl::g_signIn.CreditLimitForOz0 = qtl::g_signIn.CreditLimitForOz1 = 1000;
    qtl::TForm1* w = form.get();

    try {
        // The chain, as the operator's picks would run it.
        w->DBLookupComboBox1->setKeyValue(faculty);
        w->DBLookupComboBox1Click();
        w->DBLookupComboBox2->setKeyValue(demo::kYearCurrent);
        w->DBLookupComboBox2Click();
        w->DBLookupComboBox8->setKeyValue(kafedra);
        w->DBLookupComboBox8Click();
        w->DBLookupComboBox9->setKeyValue(teacher);
        w->DBLookupComboBox9Click();
        w->DBLookupComboBox5->setKeyValue(demo::kWsAutumn);
        w->DBLookupComboBox5Click();
        qtl::Query* disc = qtl::DM_MB->ADOQ_SelectDisciplineForStudent;
        QVariant rowNum;
        for (int r = 0; r < disc->recordCount(); ++r)
            if (disc->valueAt(r, QStringLiteral("id_discipline")).toInt() == discipline &&
                disc->valueAt(r, QStringLiteral("Krdt")).toInt() == credits)
                rowNum = disc->valueAt(r, QStringLiteral("rowNum"));
        w->DBLookupComboBox6->setKeyValue(rowNum);
        w->DBLookupComboBox6Click();
        w->DBLookupComboBox4->setKeyValue(exam);
        w->DBLookupComboBox4Click();
        w->DBLookupComboBox3->setKeyValue(group);
    } catch (const qtl::AppError& e) {
        std::fprintf(stderr, "chain failed: %s\n", e.what());
        return 1;
    }

    std::vector<double> ms;
    std::vector<int> statements;
    int written = 0;
    QElapsedTimer timer;
    for (int round = 0; round < rounds; ++round) {
        server.sqliteExec("DELETE FROM DisciplineForStudent WHERE id_group = " + num(group) +
                          " AND id_discipline = " + num(discipline) + " AND id_ins_year = 15");
        try {
            w->DBLookupComboBox3Click();  // the group step: fresh lists, the stream chosen
            if (w->CheckListBox1->count() < kTicked || !w->SpeedButton1->isEnabled()) {
                std::fprintf(stderr, "group %d lists %d students, button %s\n", group, w->CheckListBox1->count(),
                             w->SpeedButton1->isEnabled() ? "on" : "off");
                return 1;
            }
            for (int i = 0; i < kTicked; ++i) w->CheckListBox1->setChecked(i, true);
            w->CheckListBox1->setItemIndex(0);
            const int mark = server.logMark();
            timer.start();
            w->SpeedButton1Click();
            ms.push_back(timer.nsecsElapsed() / 1e6);
            statements.push_back(int(server.batchesSince(mark).size()));
        } catch (const qtl::AppError& e) {
            std::fprintf(stderr, "round %d failed: %s\n", round, e.what());
            return 1;
        }
        written = server
                      .sqliteScalar("SELECT COUNT(*) FROM DisciplineForStudent WHERE id_group = " + num(group) +
                                    " AND id_discipline = " + num(discipline) + " AND id_ins_year = 15")
                      .toInt();
    }
    std::sort(ms.begin(), ms.end());
    std::printf("registrations in the database: %d\n",
                server.sqliteScalar(QStringLiteral("SELECT COUNT(*) FROM DisciplineForStudent")).toInt());
    std::printf("rounds: %zu, %d ticked, %d written per click, %d statements per click\n", ms.size(), kTicked, written,
                statements.empty() ? 0 : statements.back());
    std::printf("click to rebuilt lists: median %.1f ms, min %.1f ms, max %.1f ms (messages shown: %lld)\n",
                ms[ms.size() / 2], ms.front(), ms.back(), static_cast<long long>(boxes.shown().size()));
    return 0;
}
