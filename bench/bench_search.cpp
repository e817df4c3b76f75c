// One keystroke in the student search window on the `large` database: the time from the key
// press to the grid showing the new result, over many keystrokes; prints the median.
//
//   build/<dir>/bin/bench_search [keystrokes]
#include "DevServer.h"
#include "SignIn.h"

#include "Unit4.h"
#include "dm_u.h"
#include "main_u.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void press(QWidget* widget, QChar c) {
    QKeyEvent down(QEvent::KeyPress, c == QChar(8) ? Qt::Key_Backspace : Qt::Key_unknown, Qt::NoModifier,
                   c == QChar(8) ? QString() : QString(c));
    QApplication::sendEvent(widget, &down);
    QKeyEvent up(QEvent::KeyRelease, down.key(), Qt::NoModifier, down.text());
    QApplication::sendEvent(widget, &up);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int keystrokes = argc > 1 ? std::max(10, atoi(argv[1])) : 200;

    qtltest::DevServer::Options options;
    options.demo = QStringLiteral("large");
    qtltest::DevServer server(options);
    server.start();
    auto form = qtltest::openMainWindow(server, QStringLiteral("operator"), QStringLiteral("operator"));
    if (!form) {
        std::fprintf(stderr, "sign-in failed\n");
        return 1;
    }
    const int students = server.sqliteScalar(QStringLiteral("SELECT COUNT(*) FROM s_fio")).toInt();

    qtl::TForm4 search(form.get());
    search.show();
    // Prefixes typed and taken back, so every keystroke is a different search: short ones match
    // thousands of names (the server still returns at most 100), longer ones a few.
    const QString words[] = {QStringLiteral("Иван"), QStringLiteral("Смирн"), QStringLiteral("Петрова А"),
                             QStringLiteral("ова"),  QStringLiteral("Ёлк"),   QStringLiteral("Кузнецов Д")};
    std::vector<double> ms;
    QElapsedTimer timer;
    int rows = 0;
    for (int k = 0; int(ms.size()) < keystrokes; ++k) {
        const QString& word = words[k % std::size(words)];
        for (QChar c : word) {
            timer.start();
            press(search.RzEdit1, c);
            ms.push_back(timer.nsecsElapsed() / 1e6);
            rows += search.DBGridEh1->rowCountShown();
        }
        for (int i = 0; i < word.size(); ++i) {
            timer.start();
            press(search.RzEdit1, QChar(8));
            ms.push_back(timer.nsecsElapsed() / 1e6);
        }
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const double p90 = ms[ms.size() * 9 / 10];
    std::printf("students in the database: %d\n", students);
    std::printf("keystrokes: %zu, median %.2f ms, 90th percentile %.2f ms, max %.2f ms (rows seen %d)\n", ms.size(),
                median, p90, ms.back(), rows);
    return 0;
}
