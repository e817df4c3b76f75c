// The class list: its statement byte for byte, the CSV bytes, the file names it proposes and how
// its rows are cut into pages. (The PDF needs a GUI application: tests/gui/class_list.cpp.)
#include "main_u.h"
#include "util/ClassList.h"

#include "chosen_class_example.h"

#include <gtest/gtest.h>

using namespace qtl;

namespace {

ChosenClass chosen() {
    return qtltest::exampleChosenClass();
}

ClassListHeader header() {
    ClassListHeader h;
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

}  // namespace

TEST(ClassListStatement, StreamsListLinesByStreamThenNameWithTheGivenTerm) {
    const ChosenClass c = chosen();
    const QString expected =
        "SELECT dbo.DisciplineForStudent.subGroup, dbo.DisciplineForStudent.id_student, "
        "dbo.s_g.s_fio, dbo.s_g.p20 FROM dbo.semester INNER JOIN dbo.DisciplineForStudent ON "
        "dbo.semester.id_semester = dbo.DisciplineForStudent.id_ins_semester INNER JOIN dbo.s_g ON "
        "dbo.DisciplineForStudent.id_student = dbo.s_g.id_student INNER JOIN dbo.g_f ON "
        "dbo.s_g.id_group = dbo.g_f.id_group WHERE (dbo.DisciplineForStudent.id_ins_year = 15) AND "
        "(dbo.DisciplineForStudent.id_discipline = 501) AND "
        "(dbo.DisciplineForStudent.id_examination = 4) AND (dbo.DisciplineForStudent.kredits = 5) "
        "AND         (dbo.semester.id_w_s = 1) AND (dbo.DisciplineForStudent.id_teacher = 42) "
        "GROUP BY dbo.DisciplineForStudent.subGroup, dbo.s_g.p20, dbo.s_g.s_fio, dbo.g_f.id_faculty, "
        "dbo.DisciplineForStudent.id_student, dbo.DisciplineForStudent.id_disciplineForStudent "
        "ORDER BY dbo.DisciplineForStudent.subGroup, dbo.s_g.s_fio, dbo.s_g.p20, "
        "dbo.DisciplineForStudent.id_student";
    EXPECT_EQ(statements::classList(c, statements::termByKind(QStringLiteral("1"))), expected);
    // The registering-semester condition goes where the kind of term went, nothing else moves.
    QString bySemester = expected;
    bySemester.replace(QStringLiteral("(dbo.semester.id_w_s = 1)"),
                       QStringLiteral("(dbo.DisciplineForStudent.id_ins_semester = 31)"));
    EXPECT_EQ(statements::classList(c, statements::termBySemester(c.insSemesterId)), bySemester);
}

TEST(ClassListData, RowsGroupIntoStreamsInTheOrderTheyCome) {
    ClassList list;
    EXPECT_TRUE(list.isEmpty());
    list.addStudent(QStringLiteral("1"), QStringLiteral("А"), QStringLiteral("Г1"));
    list.addStudent(QStringLiteral("1"), QStringLiteral("Б"), QStringLiteral("Г2"));
    list.addStudent(QStringLiteral("3"), QStringLiteral("В"), QStringLiteral("Г1"));
    list.addStudent(QStringLiteral(""), QStringLiteral("Г"), QStringLiteral("Г1"));
    ASSERT_EQ(list.streams.size(), 3);
    EXPECT_EQ(list.streams[0].students.size(), 2);
    EXPECT_EQ(list.streams[1].stream, QStringLiteral("3"));
    EXPECT_EQ(list.streams[2].stream, QString());
    EXPECT_EQ(list.total(), 4);
    EXPECT_EQ(streamTitle(QStringLiteral("3")), QStringLiteral("Поток 3"));
    EXPECT_EQ(streamTitle(QString()), QStringLiteral("Без потока"));

    const QStringList lines = classListHeaderLines(header());
    EXPECT_EQ(lines, QStringList({"Факультет: Факультет информационных технологий", "Учебный год: 2026-2027",
                                  "Кафедра: Кафедра информатики", "Преподаватель: Абрамов А.В.", "Семестр: Осенний",
                                  "Дисциплина: Программирование (кредитов: 5)", "Форма контроля: Экзамен",
                                  "Дата: 09.12.2026", "Оператор: operator"}));
    ClassListHeader noCredits = header();
    noCredits.credits.clear();
    EXPECT_EQ(classListHeaderLines(noCredits)[5], QStringLiteral("Дисциплина: Программирование"));
}

TEST(ClassListCsv, BomSemicolonsCrLfAndRfc4180Quoting) {
    EXPECT_EQ(csvField(QStringLiteral("Иванов Иван")), QStringLiteral("Иванов Иван"));
    EXPECT_EQ(csvField(QStringLiteral("a;b")), QStringLiteral("\"a;b\""));
    EXPECT_EQ(csvField(QStringLiteral("О\"Коннор")), QStringLiteral("\"О\"\"Коннор\""));
    EXPECT_EQ(csvField(QStringLiteral("a\r\nb")), QStringLiteral("\"a\r\nb\""));
    EXPECT_EQ(csvField(QStringLiteral("a\nb")), QStringLiteral("\"a\nb\""));
    EXPECT_EQ(csvField(QStringLiteral("a,b")), QStringLiteral("a,b"));  // ',' is no separator here
    EXPECT_EQ(csvField(QString()), QString());

    ClassList list;
    list.header = header();
    list.addStudent(QStringLiteral("1"), QStringLiteral("Белова Анастасия"), QStringLiteral("ИТ-21"));
    list.addStudent(QStringLiteral("1"), QStringLiteral("Д'Артаньян \"Шарль\""), QStringLiteral("ИТ-22"));
    list.addStudent(QStringLiteral("2"), QStringLiteral("Иванов; Пётр"), QStringLiteral("ЭК-21"));
    const QByteArray expected = QByteArray("\xEF\xBB\xBF") + QStringLiteral(
                                                                 "Поток;№;ФИО;Группа\r\n"
                                                                 "1;1;Белова Анастасия;ИТ-21\r\n"
                                                                 "1;2;\"Д'Артаньян \"\"Шарль\"\"\";ИТ-22\r\n"
                                                                 "2;1;\"Иванов; Пётр\";ЭК-21\r\n")
                                                                 .toUtf8();
    EXPECT_EQ(classListCsv(list), expected);

    ClassList empty;
    EXPECT_EQ(classListCsv(empty), QByteArray("\xEF\xBB\xBF") + QStringLiteral("Поток;№;ФИО;Группа\r\n").toUtf8());
}

// What a spreadsheet would run as a formula reaches the file as text: a leading ', quoted.
TEST(ClassListCsv, FormulaLikeFieldsAreNeutralised) {
    const struct {
        const char* field;
        const char* written;
    } cases[] = {
        {"=1+2", "\"'=1+2\""},
        {"=HYPERLINK(\"http://x\";\"y\")", "\"'=HYPERLINK(\"\"http://x\"\";\"\"y\"\")\""},
        {"+7 900", "\"'+7 900\""},
        {"-2+3", "\"'-2+3\""},
        {"@SUM(A1:A2)", "\"'@SUM(A1:A2)\""},
        {"\t=1", "\"'\t=1\""},
        {"\r=1", "\"'\r=1\""},
        {"'=1", "'=1"},  // already text to a spreadsheet
        {"Иванов-Петров", "Иванов-Петров"},  // the marks inside a text are harmless
        {"a=b", "a=b"},
        {" =1", " =1"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(csvField(QString::fromUtf8(c.field)), QString::fromUtf8(c.written)) << c.field;

    // Every field that comes from the database: the stream, the name and the group.
    ClassList list;
    list.addStudent(QStringLiteral("-1"), QStringLiteral("=cmd|' /C calc'!A0"), QStringLiteral("@ИТ"));
    list.addStudent(QStringLiteral("-1"), QStringLiteral("Петров Пётр"), QStringLiteral("+ИТ;2"));
    EXPECT_EQ(classListCsv(list), QByteArray("\xEF\xBB\xBF") + QStringLiteral("Поток;№;ФИО;Группа\r\n"
                                                                              "\"'-1\";1;\"'=cmd|' /C "
                                                                              "calc'!A0\";\"'@ИТ\"\r\n"
                                                                              "\"'-1\";2;Петров Пётр;\"'+ИТ;2\"\r\n")
                                                                   .toUtf8());
}

// The group named in the file is the group of everyone on the list, or none.
TEST(ClassListFiles, OnlyTheGroupOfEveryStudentNamesTheFile) {
    const struct {
        QStringList groups;  // one student each, streams 1, 1, 2, ...
        const char* only;
    } cases[] = {
        {{}, ""},
        {{"ИТ-21"}, "ИТ-21"},
        {{"ИТ-21", "ИТ-21", "ИТ-21"}, "ИТ-21"},
        {{"ИТ-21", "ИТ-22"}, ""},
        {{"ИТ-21", "ИТ-21", "ЭК-21"}, ""},  // another group in another stream
        {{"", "ИТ-21"}, ""},
    };
    for (const auto& c : cases) {
        ClassList list;
        for (int i = 0; i < c.groups.size(); ++i)
            list.addStudent(QString::number(i / 2 + 1), QStringLiteral("Студент"), c.groups[i]);
        EXPECT_EQ(list.onlyGroup(), QString::fromUtf8(c.only)) << qPrintable(c.groups.join(','));
    }
}

TEST(ClassListFiles, ProposedNamesAreSafeOnEveryFileSystem) {
    const QDate d(2026, 12, 9);
    EXPECT_EQ(proposedFileName(QStringLiteral("Программирование"), QStringLiteral("ИТ-21"), d, QStringLiteral("pdf")),
              QStringLiteral("Список_Программирование_ИТ-21_2026-12-09.pdf"));
    EXPECT_EQ(proposedFileName(QStringLiteral("Алгоритмы и структуры данных"), QString(), d, QStringLiteral("csv")),
              QStringLiteral("Список_Алгоритмы_и_структуры_данных_2026-12-09.csv"));
    // Separators, reserved characters, control characters and trailing dots never reach the name.
    const QString hostile = proposedFileName(QStringLiteral("../a/b\\c:d*e?f\"g<h>i|j\tk\x01."),
                                             QStringLiteral(" ИТ/22 "), d, QStringLiteral("pdf"));
    EXPECT_EQ(hostile, QStringLiteral("Список_a_b_c_d_e_f_g_h_i_j_k_ИТ_22_2026-12-09.pdf"));
    for (QChar c : QStringLiteral("/\\:*?\"<>|")) EXPECT_FALSE(hostile.contains(c)) << qPrintable(QString(c));
    EXPECT_LE(proposedFileName(QString(500, QChar(0x0416)), QString(), d, QStringLiteral("pdf")).size(), 110);

    EXPECT_EQ(withSuffix(QStringLiteral("/tmp/list"), QStringLiteral("pdf")), QStringLiteral("/tmp/list.pdf"));
    EXPECT_EQ(withSuffix(QStringLiteral("/tmp/list.PDF"), QStringLiteral("pdf")), QStringLiteral("/tmp/list.PDF"));
    EXPECT_EQ(withSuffix(QStringLiteral("/tmp/list.pdf.csv"), QStringLiteral("pdf")),
              QStringLiteral("/tmp/list.pdf.csv.pdf"));
}

TEST(ClassListPages, RowsNeverSplitTitlesStayWithTheirFirstRowAndEveryRowIsPlaced) {
    // Ten rows of 10 on pages of 35: three rows a page.
    const QVector<double> ten(10, 10.0);
    const QVector<bool> none(10, false);
    EXPECT_EQ(paginateRows(ten, none, none, 35, 0), QVector<int>({0, 3, 6, 9}));
    // Exactly full pages take their last row.
    EXPECT_EQ(paginateRows(ten, none, none, 30, 0), QVector<int>({0, 3, 6, 9}));
    EXPECT_EQ(paginateRows({}, {}, {}, 30, 0), QVector<int>({0}));

    // A title (row 2) that would end page one moves to page two with its first row.
    QVector<bool> keep(10, false);
    keep[2] = true;
    EXPECT_EQ(paginateRows(ten, keep, none, 30, 0), QVector<int>({0, 2, 5, 8}));

    // Rows of a stream begun above start their page after the repeated title.
    QVector<bool> continues(10, true);
    continues[0] = false;
    EXPECT_EQ(paginateRows(ten, none, continues, 30, 10), QVector<int>({0, 3, 5, 7, 9}));

    // A row taller than a page gets one of its own, and a run that can never fit is cut, so
    // the document always ends.
    EXPECT_EQ(paginateRows({10, 50, 10}, {false, false, false}, {false, false, false}, 30, 0), QVector<int>({0, 1, 2}));
    EXPECT_EQ(paginateRows({20, 20, 20}, {true, true, false}, {false, false, false}, 30, 0), QVector<int>({0, 1, 2}));
}

// Whatever the rows, no page holds more than it has room for (the repeated title included),
// as long as every row fits a page by itself.
TEST(ClassListPages, NoPageIsEverOverfilled) {
    const struct {
        const char* what;
        QVector<double> heights;
        QVector<bool> keep, continues;
        QVector<int> starts;
        QVector<bool> headed;
    } cases[] = {
        // Row 2 fits an empty page (25 <= 30) but not with the title (10 + 25): its page goes
        // without the title instead of running into the foot.
        {"near-full row", {10, 10, 25}, {false, false, false}, {false, true, true}, {0, 2}, {false, false}},
        {"exactly full with the title",
         {10, 10, 20},
         {false, false, false},
         {false, true, true},
         {0, 2},
         {false, true}},
        {"near-full row kept with its total",
         {10, 10, 25, 4},
         {false, false, true, false},
         {false, true, true, true},
         {0, 2},
         {false, false}},
        {"near-full row whose total needs the next page",
         {10, 10, 25, 8},
         {false, false, true, false},
         {false, true, true, true},
         {0, 2, 3},
         {false, false, true}},
        {"full page row", {10, 30, 10}, {false, false, false}, {false, true, true}, {0, 1, 2}, {false, false, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QVector<bool> headed;
        const QVector<int> starts = paginateRows(c.heights, c.keep, c.continues, 30, 10, &headed);
        EXPECT_EQ(starts, c.starts);
        EXPECT_EQ(headed, c.headed);
    }

    // Many mixes of row heights up to a full page: sum every page.
    for (int seed = 1; seed <= 200; ++seed) {
        QVector<double> heights;
        QVector<bool> keep, continues;
        unsigned x = unsigned(seed) * 2654435761u;
        for (int i = 0; i < 40; ++i) {
            x = x * 1103515245u + 12345u;
            heights << 1 + (x >> 16) % 30;
            keep << ((x >> 8) % 5 == 0);
            continues << (i > 0 && (x >> 4) % 7 != 0);
        }
        QVector<bool> headed;
        const QVector<int> starts = paginateRows(heights, keep, continues, 30, 10, &headed);
        ASSERT_EQ(headed.size(), starts.size());
        for (int p = 0; p < starts.size(); ++p) {
            const int end = p + 1 < starts.size() ? starts[p + 1] : int(heights.size());
            double used = headed[p] ? 10 : 0;
            for (int i = starts[p]; i < end; ++i) used += heights[i];
            EXPECT_LE(used, 30) << "seed " << seed << ", page " << p + 1;
            EXPECT_TRUE(!headed[p] || continues[starts[p]]);
        }
    }
}
