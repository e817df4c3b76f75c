// The two heaviest steps of the main window's selection chain on the `large` database: the group
// step (semester, plan number, students, stream choices, form of study) and the teacher step
// with the whole class chosen (term kinds, stream choices, streams list). Prints the median time
// per step and the statements each step sent, beside the number the chain prescribes.
//
//   build/<dir>/bin/bench_chain_steps [repetitions]
#include "DevServer.h"
#include "SignIn.h"

#include "../devserver/qtl/demo_ids.h"
#include "dm_u.h"
#include "main_u.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

namespace demo = devserver::qtl::demo;

// Sets a selector to a row of its list as a pick would, then runs the step.
bool choose(qtl::LookupComboBox* box, const char* keyField, int row, const std::function<void()>& step) {
    qtl::Query* q = box->listSource()->query();
    if (!q->isOpen() || row >= q->recordCount()) return false;
    box->setKeyValue(q->valueAt(row, QLatin1String(keyField)));
    step();
    box->closeUp();
    return true;
}

// The first row of `box` after which `next` offers at least one row.
bool chooseFilled(qtl::LookupComboBox* box, const char* keyField, const std::function<void()>& step,
                  qtl::LookupComboBox* next) {
    for (int row = 0; row < box->count(); ++row) {
        if (!choose(box, keyField, row, step)) return false;
        if (!next || next->count() > 0) return true;
    }
    return false;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int reps = argc > 1 ? std::max(3, atoi(argv[1])) : 30;

    qtltest::DevServer::Options options;
    options.demo = QStringLiteral("large");
    qtltest::DevServer server(options);
    server.start();
    auto form = qtltest::openMainWindow(server, QStringLiteral("operator"), QStringLiteral("operator"));
    if (!form) {
        std::fprintf(stderr, "sign-in failed\n");
        return 1;
    }
    qtl::TForm1* f = form.get();

    // Walk the chain on the large part of the data, in the same way the keys pick rows.
    const int facultyRow = qtl::DM_MB->ADOQ_Faculty->findRow(QStringLiteral("id_faculty"), demo::kLargeFirstFaculty);
    const int yearRow = [&] {
        qtl::DM_MB->ADOQ_Year->open();
        return qtl::DM_MB->ADOQ_Year->findRow(QStringLiteral("id_a_year"), demo::kYearCurrent);
    }();
    const bool walked =
        choose(f->DBLookupComboBox1, "id_faculty", std::max(0, facultyRow), [f] { f->DBLookupComboBox1Click(); }) &&
        choose(f->DBLookupComboBox2, "id_a_year", std::max(0, yearRow), [f] { f->DBLookupComboBox2Click(); }) &&
        chooseFilled(
            f->DBLookupComboBox8, "id_kafedra", [f] { f->DBLookupComboBox8Click(); }, f->DBLookupComboBox9) &&
        chooseFilled(
            f->DBLookupComboBox9, "id_teacher", [f] { f->DBLookupComboBox9Click(); }, f->DBLookupComboBox5) &&
        chooseFilled(
            f->DBLookupComboBox5, "id_w_s", [f] { f->DBLookupComboBox5Click(); }, f->DBLookupComboBox6) &&
        chooseFilled(
            f->DBLookupComboBox6, "rowNum", [f] { f->DBLookupComboBox6Click(); }, f->DBLookupComboBox4) &&
        chooseFilled(
            f->DBLookupComboBox4, "id_examination", [f] { f->DBLookupComboBox4Click(); }, f->DBLookupComboBox3) &&
        choose(f->DBLookupComboBox3, "id_group", 0, [f] { f->DBLookupComboBox3Click(); });
    if (!walked) {
        std::fprintf(stderr, "could not walk the chain to a group\n");
        return 1;
    }
    std::printf("class: %s / %s / %s / %s / %s / %s / %s / %s\n", qPrintable(f->DBLookupComboBox1->shownText()),
                qPrintable(f->DBLookupComboBox2->shownText()), qPrintable(f->DBLookupComboBox8->shownText()),
                qPrintable(f->DBLookupComboBox9->shownText()), qPrintable(f->DBLookupComboBox5->shownText()),
                qPrintable(f->DBLookupComboBox6->shownText()), qPrintable(f->DBLookupComboBox4->shownText()),
                qPrintable(f->DBLookupComboBox3->shownText()));
    std::printf("students %d, streams-list lines %d, groups listed %d\n", f->CheckListBox1->count(),
                f->ListBox1->count(), f->DBLookupComboBox3->count());

    struct Step {
        const char* name;
        std::function<void()> run;
        int prescribed;
    };
    const Step steps[] = {
        // TOP 1 semester, plan number, students, ADOQ_SubGroup, ADOQ_SubGroup3, form of study
        {"group step", [f] { f->DBLookupComboBox3Click(); }, 6},
        // term kinds, ADOQ_SubGroup, ADOQ_SubGroup3, streams list (year list already open)
        {"teacher step",
         [f] {
             f->DBLookupComboBox9Click();
             f->DBLookupComboBox5->closeUp();
         },
         4},
    };
    for (const Step& step : steps) {
        std::vector<double> ms;
        int statements = -1;
        QElapsedTimer timer;
        for (int i = 0; i < reps; ++i) {
            const int mark = server.logMark();
            timer.start();
            step.run();
            ms.push_back(timer.nsecsElapsed() / 1e6);
            const int sent = int(server.batchesSince(mark).size());
            if (statements < 0)
                statements = sent;
            else if (statements != sent)
                statements = -2;  // not the same every time
        }
        std::printf("%-13s median %8.2f ms over %d runs; statements per step %d (prescribed %d)\n", step.name,
                    median(ms), reps, statements, step.prescribed);
    }
    return 0;
}
