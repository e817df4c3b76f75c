// The class list: the toolbar button follows the streams list, one statement reads the list,
// and its window previews, prints and saves it (PDF, CSV) without ever blocking on a dialog.
#include "chain_helpers.h"
#include "search_helpers.h"

#include "Unit6.h"
#include "platform/FileDialogs.h"
#include "util/ClassList.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QPdfWriter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <initializer_list>
#include <utility>

using namespace qtltest::chain;
using qtltest::lookup::whenModal;

namespace {

// Answers the save and print dialogs from a script and remembers what they were offered.
class DialogRecorder : public qtl::FileDialogs {
public:
    DialogRecorder() { install(this); }
    ~DialogRecorder() override { install(nullptr); }
    QString saveFileName(QWidget*, const QString& caption, const QString& proposedPath,
                         const QString& filter) override {
        asked << caption + QLatin1Char('|') + QFileInfo(proposedPath).fileName() + QLatin1Char('|') + filter;
        proposedPaths << proposedPath;
        return answer;
    }
    bool setUpPrinter(QWidget*, QPrinter* printer, int pages) override {
        asked << QStringLiteral("printer");
        offeredPages << pages;
        if (printTo.isEmpty()) return false;
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(printTo);
        if (!printPages.isEmpty()) {
            printer->setPrintRange(QPrinter::PageRange);
            printer->setPageRanges(printPages);
        }
        return true;
    }
    QString answer;  // the path "chosen" ("" = cancelled)
    QString printTo;  // a PDF file the "printer" writes ("" = cancelled)
    QPageRanges printPages;  // the range chosen in the print dialog (empty = all pages)
    QStringList asked;
    QStringList proposedPaths;
    QVector<int> offeredPages;
};

QString pdfText(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"),
            {QStringLiteral("-layout"), QStringLiteral("-enc"), QStringLiteral("UTF-8"), path, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Writes the bytes to a new file in `dir` and returns its path.
QString writeTemp(const QTemporaryDir& dir, const QByteArray& bytes) {
    static int n = 0;
    const QString path = dir.filePath(QStringLiteral("doc%1.pdf").arg(++n));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
    return path;
}

qtl::ClassListHeader header() {
    qtl::ClassListHeader h;
    h.faculty = QStringLiteral("Факультет информационных технологий");
    h.year = QStringLiteral("2026-2027");
    h.department = QStringLiteral("Кафедра информатики");
    h.teacher = QStringLiteral("Абрамов А.В.");
    h.termKind = QStringLiteral("Осенний");
    h.discipline = QStringLiteral("Программирование");
    h.credits = QStringLiteral("5");
    h.examination = QStringLiteral("Экзамен");
    h.date = QDate(2026, 12, 9);
    h.login = QStringLiteral("operator");
    return h;
}

// Where each of `needles` is found in `text`, searching on from the last one; -1 for one missing.
QVector<int> positionsInOrder(const QString& text, const QStringList& needles) {
    QVector<int> at;
    int from = 0;
    for (const QString& n : needles) {
        const int p = text.indexOf(n, from);
        at << p;
        if (p >= 0) from = p + int(n.size());
    }
    return at;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The statement of the class list of Абрамов's "Программирование", exam, 5 credits, autumn.
QString classListStatement() {
    return QStringLiteral(
        "SELECT dbo.DisciplineForStudent.subGroup, dbo.DisciplineForStudent.id_student, "
        "dbo.s_g.s_fio, dbo.s_g.p20 FROM dbo.semester INNER JOIN dbo.DisciplineForStudent ON "
        "dbo.semester.id_semester = dbo.DisciplineForStudent.id_ins_semester INNER JOIN dbo.s_g ON "
        "dbo.DisciplineForStudent.id_student = dbo.s_g.id_student INNER JOIN dbo.g_f ON "
        "dbo.s_g.id_group = dbo.g_f.id_group WHERE (dbo.DisciplineForStudent.id_ins_year = 15) AND "
        "(dbo.DisciplineForStudent.id_discipline = 1) AND "
        "(dbo.DisciplineForStudent.id_examination = 1) AND (dbo.DisciplineForStudent.kredits = 5) "
        "AND         (dbo.semester.id_w_s = 1) AND (dbo.DisciplineForStudent.id_teacher = 1) "
        "GROUP BY dbo.DisciplineForStudent.subGroup, dbo.s_g.p20, dbo.s_g.s_fio, dbo.g_f.id_faculty, "
        "dbo.DisciplineForStudent.id_student, dbo.DisciplineForStudent.id_disciplineForStudent "
        "ORDER BY dbo.DisciplineForStudent.subGroup, dbo.s_g.s_fio, dbo.s_g.p20, "
        "dbo.DisciplineForStudent.id_student");
}

class ClassListWindow : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        qtl::TForm1::Today = [] { return QDate(2026, 12, 9); };
    }
    void TearDown() override {
        qtl::TForm1::Today = [] { return QDate::currentDate(); };
        MainWindowTest::TearDown();
    }
    // Two students of ИТ-22 whose names need quoting in CSV, in streams 1 and 2 of the class.
    void addQuotedStudents() {
        server->sqliteExec(
            QStringLiteral("INSERT INTO student (id_student, s_fio, id_group) VALUES "
                           "(901, 'Д''Артаньян \"Шарль\"', 2), (902, 'Иванов; Пётр', 2)"));
        server->sqliteExec(
            QStringLiteral("INSERT INTO DisciplineForStudent (id_student, id_discipline, id_a_year, id_semester, "
                           "id_ins_year, id_ins_semester, id_teacher, id_group, id_examination, subGroup, kredits) "
                           "VALUES (901, 1, 15, 4, 15, 4, 1, 2, 1, 1, 5), (902, 1, 15, 4, 15, 4, 1, 2, 1, 2, 5)"));
    }
    QPushButton* button() const { return w()->RzBitBtn2; }

    DialogRecorder dialogs;
    QTemporaryDir out;
};

// What the list of the demo class holds, with the two students above.
const char* const kExpectedCsv =
    "\xEF\xBB\xBF"
    "Поток;№;ФИО;Группа\r\n"
    "1;1;Абдуллаев Тимур Русланович;ИТ-21\r\n"
    "1;2;Белова Анастасия Игоревна;ИТ-21\r\n"
    "1;3;\"Д'Артаньян \"\"Шарль\"\"\";ИТ-22\r\n"
    "1;4;Смирнова Алина Викторовна;ИТ-21\r\n"
    "2;1;Волков Артём Денисович;ИТ-21\r\n"
    "2;2;\"Иванов; Пётр\";ИТ-22\r\n"
    "3;1;Павлова Маргарита Борисовна;ИТз-21\r\n"
    "5;1;Кузнецова Валентина Борисовна;ЭК-21\r\n"
    "5;2;Кузьмин Антон Алексеевич;ЭК-21\r\n"
    "6;1;Громов Денис Степанович;ФЛ-21\r\n"
    "6;2;Мартынова Любовь Максимовна;ФЛ-21\r\n";

TEST_F(ClassListWindow, ButtonIsEnabledOnlyWhileAStreamsListIsLoaded) {
    signIn();
    auto* f = w();
    EXPECT_EQ(button()->text(), QStringLiteral("Список потоков"));
    EXPECT_TRUE(button()->isVisible());
    EXPECT_EQ(button()->parentWidget(), f->ToolBar1);
    EXPECT_EQ(button()->x(), f->RzBitBtn1->geometry().right() + 5);
    // The toolbar's rules, and one of its own that greys the text while it is disabled.
    EXPECT_TRUE(button()->styleSheet().startsWith(f->RzBitBtn1->styleSheet()));
    EXPECT_FALSE(button()->isEnabled());
    const QImage disabledLook = button()->grab().toImage();

    // Disabled, neither the click nor the keys send anything or open a window.
    int m = mark();
    QTest::mouseClick(button(), Qt::LeftButton);
    QTest::keyClick(f, Qt::Key_P, Qt::ControlModifier);
    QTest::keyClick(f, Qt::Key_S, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(since(m), QStringList());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    openAndPick(f->DBLookupComboBox1, QStringLiteral("Факультет информационных технологий"));
    pickInList(f->DBLookupComboBox2, QStringLiteral("2026-2027"));
    pickInList(f->DBLookupComboBox8, QStringLiteral("Кафедра информатики"));
    pickInList(f->DBLookupComboBox9, QStringLiteral("Абрамов А.В."));
    pickInList(f->DBLookupComboBox5, QStringLiteral("Осенний"));
    pickInList(f->DBLookupComboBox6, QStringLiteral("Программирование"));
    EXPECT_FALSE(button()->isEnabled());
    pickInList(f->DBLookupComboBox4, QStringLiteral("Экзамен"));  // loads the streams list
    EXPECT_TRUE(button()->isEnabled());
    EXPECT_NE(button()->grab().toImage(), disabledLook) << "the enabled button looks like the disabled one";
    pickInList(f->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    EXPECT_TRUE(button()->isEnabled());

    // A step above the form of control empties the list, and the button goes with it.
    openAndPick(f->DBLookupComboBox6, QStringLiteral("Философия науки"));
    EXPECT_EQ(f->ListBox1->count(), 0);
    EXPECT_FALSE(button()->isEnabled());
    openAndPick(f->DBLookupComboBox4, QStringLiteral("Зачёт"));
    EXPECT_TRUE(button()->isEnabled());  // loaded, though this class may have nobody yet
    openAndPick(f->DBLookupComboBox1, QStringLiteral("Факультет информационных технологий"));
    EXPECT_FALSE(button()->isEnabled());
}

TEST_F(ClassListWindow, OneStatementReadsTheListAndTheCsvHoldsItByteForByte) {
    addQuotedStudents();
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    ASSERT_TRUE(button()->isEnabled());
    const QString csvPath = out.filePath(QStringLiteral("chosen name"));  // no suffix typed
    dialogs.answer = csvPath;

    const int m = mark();
    bool seen = false;
    whenModal<qtl::TForm6>([&](qtl::TForm6* window) {
        seen = true;
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Список потоков"));
        EXPECT_TRUE(window->BitBtnPrint->isDefault());
        QTest::mouseClick(window->BitBtnCsv, Qt::LeftButton);
    });
    QTest::mouseClick(button(), Qt::LeftButton);
    ASSERT_TRUE(seen);
    EXPECT_EQ(since(m), QStringList({sent(classListStatement())}));
    // Students of ИТ-21, ИТ-22, ИТз-21, ЭК-21 and ФЛ-21: no one group names the file.
    EXPECT_EQ(dialogs.asked, QStringList({"Сохранить список в CSV|Список_Программирование_2026-12-09.csv|"
                                          "Таблица CSV (*.csv)"}));
    EXPECT_EQ(readAll(csvPath + QStringLiteral(".csv")), QByteArray(kExpectedCsv));
    EXPECT_FALSE(QFile::exists(csvPath));
    EXPECT_EQ(boxes.shown().size(), 0);
    // Reading wrote nothing and left the window's lists as they were.
    EXPECT_EQ(since(m).size(), 1);
    EXPECT_EQ(w()->ListBox1->count(), 11);
}

TEST_F(ClassListWindow, PdfAndPrintCarryTheHeaderEveryStudentInOrderAndTheTotals) {
    addQuotedStudents();
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    ASSERT_TRUE(button()->isEnabled());
    const QString pdfPath = out.filePath(QStringLiteral("list.pdf"));
    const QString printPath = out.filePath(QStringLiteral("printed.pdf"));
    dialogs.answer = pdfPath;
    dialogs.printTo = printPath;
    // Window shortcuts act in the active window only (an X server without a window manager
    // activates none, so there the test stops here rather than wait for a window).
    w()->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([this] { return QApplication::activeWindow() == w(); }));

    bool seen = false;
    int previewPages = 0;
    whenModal<qtl::TForm6>([&](qtl::TForm6* window) {
        seen = true;
        // Ctrl+S offered the PDF first; the preview has drawn its pages offscreen.
        EXPECT_TRUE(window->BitBtnPdf->isDefault());
        window->Preview->updatePreview();
        QApplication::processEvents();
        previewPages = window->Preview->pageCount();
        const QImage shot = window->Preview->grab().toImage();
        EXPECT_FALSE(shot.isNull());
        QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
        QTest::keyClick(window, Qt::Key_P, Qt::ControlModifier);
    });
    QTest::keyClick(w(), Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(seen);
    EXPECT_EQ(previewPages, 1);
    EXPECT_EQ(boxes.texts(), QStringList());
    EXPECT_EQ(dialogs.asked.size(), 2);
    EXPECT_EQ(dialogs.asked.value(1), QStringLiteral("printer"));

    const QStringList students = {
        "Абдуллаев Тимур Русланович",  "Белова Анастасия Игоревна",     "Д'Артаньян \"Шарль\"",
        "Смирнова Алина Викторовна",   "Волков Артём Денисович",        "Иванов; Пётр",
        "Павлова Маргарита Борисовна", "Кузнецова Валентина Борисовна", "Кузьмин Антон Алексеевич",
        "Громов Денис Степанович",     "Мартынова Любовь Максимовна"};
    for (const QString& path : {pdfPath, printPath}) {
        SCOPED_TRACE(qPrintable(path));
        ASSERT_TRUE(readAll(path).startsWith("%PDF-"));
        const QString text = pdfText(path);
        ASSERT_FALSE(text.isEmpty()) << "pdftotext (poppler-utils) read nothing";
        QStringList inOrder = {"Список студентов по потокам",
                               "Факультет: Факультет информационных технологий",
                               "Учебный год: 2026-2027",
                               "Кафедра: Кафедра информатики",
                               "Преподаватель: Абрамов А.В.",
                               "Семестр: Осенний",
                               "Дисциплина: Программирование (кредитов: 5)",
                               "Форма контроля: Экзамен",
                               "Дата: 09.12.2026",
                               "Оператор: operator",
                               "Поток 1"};
        inOrder << students.mid(0, 4) << "Всего в потоке: 4"
                << "Поток 2" << students.mid(4, 2) << "Всего в потоке: 2"
                << "Поток 3" << students[6] << "Всего в потоке: 1"
                << "Поток 5" << students.mid(7, 2) << "Всего в потоке: 2"
                << "Поток 6" << students.mid(9, 2) << "Всего в потоке: 2"
                << "Всего студентов: 11"
                << "Страница 1 из 1";
        int from = 0;
        for (const QString& piece : inOrder) {
            const int at = text.indexOf(piece, from);
            ASSERT_GE(at, 0) << qPrintable(piece) << " missing or out of order in:\n" << qPrintable(text);
            from = at + int(piece.size());
        }
    }
}

// A server whose s_g and g_f give every row twice: the streams list groups the repeats into one
// line per student, and the class list must hold exactly those lines.
TEST_F(ClassListWindow, StudentsTheJoinsRepeatAreListedOnceLikeInTheStreamsList) {
    server->sqliteExec(
        QStringLiteral("DROP VIEW s_g; CREATE VIEW s_g AS "
                       "SELECT student.id_student, student.id_group, \"group\".p20, student.s_fio FROM student "
                       "INNER JOIN \"group\" ON \"group\".id_group = student.id_group UNION ALL "
                       "SELECT student.id_student, student.id_group, \"group\".p20, student.s_fio FROM student "
                       "INNER JOIN \"group\" ON \"group\".id_group = student.id_group; "
                       "DROP VIEW g_f; CREATE VIEW g_f AS SELECT id_group, id_faculty FROM \"group\" UNION ALL "
                       "SELECT id_group, id_faculty FROM \"group\";"));
    // Every student now meets his registrations twice in s_g and twice again in g_f.
    ASSERT_EQ(server->sqliteScalar(QStringLiteral("SELECT count(*) FROM s_g")).toInt(),
              2 * server->sqliteScalar(QStringLiteral("SELECT count(*) FROM student")).toInt());
    ASSERT_EQ(server->sqliteScalar(QStringLiteral("SELECT count(*) FROM g_f")).toInt(),
              2 * server->sqliteScalar(QStringLiteral("SELECT count(*) FROM \"group\"")).toInt());
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    ASSERT_EQ(w()->ListBox1->count(), 9);
    const QString csvPath = out.filePath(QStringLiteral("list.csv"));
    dialogs.answer = csvPath;

    const int m = mark();
    QStringList listed;
    whenModal<qtl::TForm6>([&](qtl::TForm6* window) {
        for (const qtl::ClassListStream& stream : window->classList().streams)
            for (const qtl::ClassListStudent& student : stream.students)
                listed << stream.stream + QStringLiteral("п (") + student.group + QStringLiteral(") - ") + student.name;
        QTest::mouseClick(window->BitBtnCsv, Qt::LeftButton);
    });
    QTest::mouseClick(button(), Qt::LeftButton);
    EXPECT_EQ(since(m), QStringList({sent(classListStatement())}));
    QStringList lines;
    for (int i = 0; i < w()->ListBox1->count(); ++i) lines << w()->ListBox1->lineText(i);
    lines.sort();
    listed.sort();
    EXPECT_EQ(listed, lines);
    // The file: the header row and one row per line of the streams list.
    const QList<QByteArray> rows = readAll(csvPath).split('\n');
    EXPECT_EQ(rows.size(), 1 + 9 + 1) << readAll(csvPath).constData();
    EXPECT_EQ(boxes.texts(), QStringList());
}

TEST_F(ClassListWindow, AServerErrorIsShownAndNothingOpensOrIsWritten) {
    options.failOn = QStringLiteral("ORDER BY dbo\\.DisciplineForStudent\\.subGroup, dbo\\.s_g\\.s_fio");
    server->restartWith(options);
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    ASSERT_TRUE(button()->isEnabled());
    dialogs.answer = out.filePath(QStringLiteral("never.csv"));

    const int m = mark();
    QTest::mouseClick(button(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(since(m), QStringList({sent(classListStatement())}));
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, qtl::MbIcon::Error);
    EXPECT_TRUE(boxes.shown()[0].text.contains(QStringLiteral("Injected failure")))
        << qPrintable(boxes.shown()[0].text);
    EXPECT_TRUE(dialogs.asked.isEmpty());
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files), QStringList());
    // The window goes on: the list and the button are as they were.
    EXPECT_TRUE(button()->isEnabled());
    EXPECT_EQ(w()->ListBox1->count(), 9);
}

// A class nobody is registered to yet: the window still opens and its list says it is empty.
TEST_F(ClassListWindow, AnEmptyClassGivesAListThatSaysSo) {
    server->sqliteExec(QStringLiteral("DELETE FROM DisciplineForStudent WHERE id_discipline = 1"));
    signIn();
    chainTo();
    ASSERT_EQ(w()->ListBox1->count(), 0);
    ASSERT_TRUE(button()->isEnabled());
    const QString pdfPath = out.filePath(QStringLiteral("empty.pdf"));
    const QString csvPath = out.filePath(QStringLiteral("empty.csv"));
    bool seen = false;
    whenModal<qtl::TForm6>([&](qtl::TForm6* window) {
        seen = true;
        EXPECT_TRUE(window->classList().isEmpty());
        dialogs.answer = pdfPath;
        window->BitBtnPdf->click();
        dialogs.answer = csvPath;
        window->BitBtnCsv->click();
        dialogs.answer.clear();  // cancelled: nothing written, nothing said
        window->BitBtnCsv->click();
    });
    QTest::mouseClick(button(), Qt::LeftButton);
    ASSERT_TRUE(seen);
    EXPECT_EQ(boxes.texts(), QStringList());
    const QString text = pdfText(pdfPath);
    EXPECT_TRUE(text.contains(QStringLiteral("Список пуст"))) << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("Всего студентов: 0")));
    EXPECT_EQ(readAll(csvPath), QByteArray("\xEF\xBB\xBF") + QStringLiteral("Поток;№;ФИО;Группа\r\n").toUtf8());
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files).size(), 2);
}

// No removal right: the removal button is hidden and the list button takes its place.
TEST_F(ClassListWindow, TakesTheFirstPlaceWhenTheRemovalButtonIsHidden) {
    signIn(QStringLiteral("viewer"), QStringLiteral("viewer1"));
    EXPECT_FALSE(w()->RzBitBtn1->isVisible());
    EXPECT_TRUE(button()->isVisible());
    EXPECT_EQ(button()->x(), 0);
}

// A file that cannot be written is reported and leaves nothing behind.
TEST_F(ClassListWindow, AFileThatCannotBeWrittenIsReported) {
    signIn();
    chainTo();
    dialogs.answer = out.filePath(QStringLiteral("no such folder/list.csv"));
    whenModal<qtl::TForm6>([&](qtl::TForm6* window) { window->BitBtnCsv->click(); });
    QTest::mouseClick(button(), Qt::LeftButton);
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, qtl::MbIcon::Error);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("Не удалось сохранить файл ")))
        << qPrintable(boxes.shown()[0].text);
    EXPECT_EQ(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

// A long class: several pages, each with the header, the students in order, the totals.
TEST(ClassListPdf, ReaderGetsTheHeaderEveryStudentInOrderAndTheTotalsOnEveryPage) {
    QTemporaryDir out;
    qtl::ClassList list;
    list.header = header();
    QStringList names;
    for (int i = 0; i < 300; ++i) {
        const QString name = QStringLiteral("Студентов Студент %1").arg(i + 1, 3, 10, QLatin1Char('0'));
        names << name;
        list.addStudent(QString::number(i < 120   ? 1
                                        : i < 250 ? 2
                                                  : 3),
                        name, i % 2 ? QStringLiteral("ИТ-21") : QStringLiteral("ЭК-22"));
    }
    const QByteArray pdf = qtl::classListPdf(list);
    ASSERT_TRUE(pdf.startsWith("%PDF-"));
    const QString text = pdfText(writeTemp(out, pdf));
    ASSERT_FALSE(text.isEmpty()) << "pdftotext (poppler-utils) read nothing";
    const QStringList pages = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    ASSERT_GE(pages.size(), 5);
    for (int i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE(i + 1);
        for (const QString& line : qtl::classListHeaderLines(list.header))
            EXPECT_TRUE(pages[i].contains(line)) << qPrintable(line);
        EXPECT_TRUE(pages[i].contains(QStringLiteral("ФИО студента")));
        EXPECT_TRUE(pages[i].contains(qtl::pageNumberText(i + 1, int(pages.size()))));
    }
    // Every student once, in order, with a number counted within his stream.
    const QVector<int> at = positionsInOrder(text, names);
    for (int i = 0; i < names.size(); ++i) {
        ASSERT_GE(at[i], 0) << qPrintable(names[i]) << " missing or out of order";
        EXPECT_EQ(text.count(names[i]), 1) << qPrintable(names[i]);
    }
    const int lineStart = text.lastIndexOf(QLatin1Char('\n'), at[120]) + 1;
    EXPECT_EQ(text.mid(lineStart, at[120] - lineStart).trimmed(), QStringLiteral("1"));
    EXPECT_EQ(positionsInOrder(
                  text, {QStringLiteral("Поток 1"), QStringLiteral("Всего в потоке: 120"), QStringLiteral("Поток 2"),
                         QStringLiteral("Всего в потоке: 130"), QStringLiteral("Поток 3"),
                         QStringLiteral("Всего в потоке: 50"), QStringLiteral("Всего студентов: 300")})
                  .contains(-1),
              false);
    // A page that starts inside a stream says which one it continues.
    EXPECT_TRUE(pages[1].contains(QStringLiteral("Поток 1 (продолжение)")));

    qtl::ClassList empty;
    empty.header = header();
    const QString emptyText = pdfText(writeTemp(out, qtl::classListPdf(empty)));
    EXPECT_TRUE(emptyText.contains(qtl::emptyListText())) << qPrintable(emptyText);
    EXPECT_TRUE(emptyText.contains(qtl::grandTotalText(0)));
    EXPECT_TRUE(emptyText.contains(qtl::pageNumberText(1, 1)));
}

// A list of `n` students in streams of 50, of the groups given in turn.
qtl::ClassList manyStudents(int n, const QStringList& groups = {QStringLiteral("ИТ-21")}) {
    qtl::ClassList list;
    list.header = header();
    for (int i = 0; i < n; ++i)
        list.addStudent(QString::number(i / 50 + 1), QStringLiteral("Студентов Студент %1").arg(i + 1),
                        groups[i % groups.size()]);
    return list;
}

// The pages of a PDF as pdftotext reads them.
QStringList pdfPages(const QString& path) {
    return pdfText(path).split(QLatin1Char('\f'), Qt::SkipEmptyParts);
}

// The print dialog's page range decides what reaches the printer; the page numbers stay those of
// the whole list.
TEST(ClassListPrint, OnlyTheChosenPagesArePrinted) {
    QTemporaryDir out;
    DialogRecorder dialogs;
    qtltest::MessageRecorder boxes;
    qtl::TForm6 window(manyStudents(260));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    dialogs.printTo = out.filePath(QStringLiteral("all.pdf"));
    QTest::mouseClick(window.BitBtnPrint, Qt::LeftButton);
    const QStringList all = pdfPages(dialogs.printTo);
    const int n = int(all.size());
    ASSERT_GE(n, 5);
    EXPECT_EQ(dialogs.offeredPages, QVector<int>({n}));  // the dialog's range ends at the last page

    const auto ranges = [](std::initializer_list<std::pair<int, int>> list) {
        QPageRanges r;
        for (const auto& [from, to] : list) r.addRange(from, to);
        return r;
    };
    const struct {
        const char* what;
        QPageRanges chosen;
        QVector<int> printed;
    } cases[] = {
        {"from 2 to 3", ranges({{2, 3}}), {2, 3}},
        {"the last page", ranges({{n, n}}), {n}},
        {"1 and 4", ranges({{1, 1}, {4, 4}}), {1, 4}},
        {"beyond the end", ranges({{n - 1, n + 5}}), {n - 1, n}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dialogs.printTo = out.filePath(QString::fromUtf8(c.what) + QStringLiteral(".pdf"));
        dialogs.printPages = c.chosen;
        QTest::mouseClick(window.BitBtnPrint, Qt::LeftButton);
        const QStringList pages = pdfPages(dialogs.printTo);
        ASSERT_EQ(pages.size(), c.printed.size());
        for (int i = 0; i < pages.size(); ++i) {
            EXPECT_TRUE(pages[i].contains(qtl::pageNumberText(c.printed[i], n))) << qPrintable(pages[i]);
            // The page holds what that page of the whole list holds.
            EXPECT_EQ(pages[i], all[c.printed[i] - 1]);
        }
    }
    EXPECT_EQ(boxes.texts(), QStringList());

    // A range past the list prints nothing and says so.
    dialogs.printTo = out.filePath(QStringLiteral("none.pdf"));
    dialogs.printPages = ranges({{n + 1, n + 3}});
    QTest::mouseClick(window.BitBtnPrint, Qt::LeftButton);
    EXPECT_FALSE(QFile::exists(dialogs.printTo));
    EXPECT_EQ(boxes.texts(),
              QStringList({QStringLiteral("В списке %1 стр.: выбранных для печати страниц в нём нет").arg(n)}));
}

// A word wider than its column is broken inside, never cut off: on the page as in the layout.
TEST(ClassListPdf, AWordWiderThanItsColumnReachesThePageWhole) {
    const QString letters = QStringLiteral("абвгдежзийклмнопрстуфхцчшщъыьэюя");
    QString word, group;
    for (int i = 0; i < 300; ++i) word += letters[i % letters.size()];
    for (int i = 0; i < 120; ++i) group += QChar(u'A' + i % 26);

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(300);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(10);
    const QFontMetricsF metrics(font, &writer);
    const struct {
        QString text;
        double width;
        int minLines;
    } cases[] = {
        {word, 1500, 2},
        {word, 200, 10},
        {group, 600, 2},
        {QStringLiteral("Иванов Иван Иванович"), metrics.horizontalAdvance(QStringLiteral("Иванов Иван")) + 1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qPrintable(c.text.left(20)));
        const QStringList lines = qtl::wrapText(c.text, font, c.width, &writer);
        EXPECT_EQ(lines.join(QString()), c.text);
        EXPECT_GE(lines.size(), c.minLines);
        for (const QString& line : lines) EXPECT_LE(metrics.horizontalAdvance(line.trimmed()), c.width);
    }
    // Names with blanks still break only at the blanks.
    EXPECT_EQ(qtl::wrapText(QStringLiteral("Иванов Иван Иванович"), font,
                            metrics.horizontalAdvance(QStringLiteral("Иванов Иван")) + 1, &writer),
              QStringList({QStringLiteral("Иванов Иван "), QStringLiteral("Иванович")}));

    // On the page: the name (no group beside it) and, in the next row, the group come whole.
    QTemporaryDir out;
    qtl::ClassList list;
    list.header = header();
    list.addStudent(QStringLiteral("1"), word, QString());
    list.addStudent(QStringLiteral("1"), QStringLiteral("Б"), group);
    QString text = pdfText(writeTemp(out, qtl::classListPdf(list)));
    ASSERT_FALSE(text.isEmpty()) << "pdftotext (poppler-utils) read nothing";
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    text.remove(blanks);
    EXPECT_EQ(text.count(word), 1) << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("2Б") + group)) << qPrintable(text);
}

// The save dialogs start in the documents folder (home when there is none) and name the group
// only when the whole list is of it.
TEST(ClassListFiles, SaveDialogsStartInTheDocumentsFolderWithANameForWhatTheListHolds) {
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    DialogRecorder dialogs;
    const struct {
        bool documents;
        QStringList groups;
        const char* folder;
        const char* name;
    } cases[] = {
        {true, {"ИТ-21"}, "/Documents", "Список_Программирование_ИТ-21_2026-12-09.csv"},
        {true, {"ИТ-21", "ЭК-22"}, "/Documents", "Список_Программирование_2026-12-09.csv"},
        {false, {"ЭК-22"}, "", "Список_Программирование_ЭК-22_2026-12-09.csv"},
        {false, {"ИТ-21", "ИТ-21", "ИТз-21"}, "", "Список_Программирование_2026-12-09.csv"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qPrintable(c.groups.join(',')));
        QDir(home.path()).mkpath(QStringLiteral("Documents"));
        if (!c.documents) QDir(home.filePath(QStringLiteral("Documents"))).removeRecursively();
        dialogs.proposedPaths.clear();
        qtl::TForm6 window(manyStudents(3, c.groups));
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(window.BitBtnCsv, Qt::LeftButton);
        QTest::mouseClick(window.BitBtnPdf, Qt::LeftButton);
        const QString csv = home.path() + QString::fromUtf8(c.folder) + QLatin1Char('/') + QString::fromUtf8(c.name);
        QString pdf = csv;
        pdf.replace(QStringLiteral(".csv"), QStringLiteral(".pdf"));
        EXPECT_EQ(dialogs.proposedPaths, QStringList({csv, pdf}));
    }
    qputenv("HOME", oldHome);
    if (oldConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);
}

}  // namespace
