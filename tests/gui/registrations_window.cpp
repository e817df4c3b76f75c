// The student registrations window against qtl-devserver: the list of every registration of
// the student found, its look, and deleting one registration at a time.
#include "DevServer.h"
#include "SignIn.h"
#include "search_helpers.h"

#include "Unit4.h"
#include "Unit5.h"
#include "dm_u.h"
#include "main_u.h"

#include "../../devserver/qtl/demo_ids.h"

#include <QHeaderView>
#include <QImage>

#include <gtest/gtest.h>

namespace demo = devserver::qtl::demo;
using namespace qtltest::lookup;
using qtltest::DevServer;
using qtltest::MessageRecorder;

namespace {

const QString kQuestion = QStringLiteral("Вы действительно хотите удалить строку ");

QString findOne(const QString& id) {
    return QStringLiteral(
               "SELECT TOP (1) id_disciplineForStudent FROM dbo.DisciplineForStudent WHERE id_disciplineForStudent =") +
           id;
}

class RegistrationsWindow : public ::testing::Test {
protected:
    void SetUp() override {
        server.start();
        form = qtltest::openMainWindow(server, QStringLiteral("operator"), QStringLiteral("operator"));
        ASSERT_TRUE(form);
    }

    // Searches the way the operator does and clicks the student's row.
    void find(const QString& text, int student) {
        search = std::make_unique<qtl::TForm4>(form.get());
        search->show();
        typeText(search->RzEdit1, text);
        const int row = qtl::DM_MB->ADOQ_SGM->findRow(QStringLiteral("id_student"), student);
        ASSERT_GE(row, 0);
        const QRect cell = search->DBGridEh1->visualRect(search->DBGridEh1->model()->index(row, 0));
        QTest::mouseClick(search->DBGridEh1->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        ASSERT_EQ(qtl::DM_MB->ADOQ_SGM->currentRow(), row);
    }
    std::unique_ptr<qtl::TForm5> openRegistrations() {
        auto regs = std::make_unique<qtl::TForm5>(search.get());
        regs->show();
        QApplication::processEvents();
        return regs;
    }
    // The student's registrations in list order, from the database.
    QVector<int> expectedIds(int student) const {
        QVector<int> ids;
        for (const auto& row : server.sqlite(
                 QStringLiteral(
                     "SELECT d.id_disciplineForStudent FROM DisciplineForStudent d JOIN semester s ON "
                     "s.id_semester = d.id_semester JOIN discipline c ON c.id_discipline = d.id_discipline JOIN "
                     "examination e ON e.id_examination = d.id_examination JOIN t_fio t ON t.id_teacher = d.id_teacher "
                     "WHERE d.id_student = %1 ORDER BY d.id_semester, c.p34")
                     .arg(student)))
            ids << row[0].toInt();
        return ids;
    }
    QVector<int> shownIds() const {
        QVector<int> ids;
        qtl::Query* q = qtl::DM_MB->ADOQ_V_DFS;
        for (int r = 0; r < q->recordCount(); ++r)
            ids << q->valueAt(r, QStringLiteral("id_disciplineForStudent")).toInt();
        return ids;
    }
    int countOf(int student) const {
        return server
            .sqliteScalar(
                QStringLiteral("SELECT COUNT(*) FROM DisciplineForStudent WHERE id_student = %1").arg(student))
            .toInt();
    }
    // Two more registrations of the student: the previous year's first semester and another
    // teacher, so the list spans semesters and teachers.
    void addOlderRegistrations(int student) {
        server.sqliteExec(
            QStringLiteral(
                "INSERT INTO DisciplineForStudent (id_student, descGroupNum, id_discipline, id_a_year, id_semester, "
                "id_ins_year, id_ins_semester, id_teacher, id_group, id_examination, subGroup, QTL_user, id_faculty, "
                "id_kafedra, kredits, isByPlan, id_vid_zaniatiy) VALUES "
                "(%1, 1, %2, %3, %4, %3, %4, %5, %6, %7, 1, 'operator', %8, %9, 6, 1, 1),"
                "(%1, 1, %10, %3, %4, %3, %4, %11, %6, %7, 1, 'operator', %8, %9, 6, 1, 1)")
                .arg(student)
                .arg(demo::kDisciplineDiscrete)
                .arg(demo::kYearPrevious)
                .arg(demo::kSemesterCourse1Autumn)
                .arg(demo::kTeacherYo)
                .arg(demo::kGroupOz0)
                .arg(demo::kExamA)
                .arg(demo::kFacultyA)
                .arg(demo::kKafedraB)
                .arg(demo::kDisciplineCalculus)
                .arg(demo::kTeacherE));
    }

    DevServer server;
    MessageRecorder boxes;
    decltype(qtltest::openMainWindow(std::declval<DevServer&>(), QString(), QString())) form{};
    std::unique_ptr<qtl::TForm4> search;
};

TEST_F(RegistrationsWindow, ListsEveryRegistrationOrderedBySemesterThenDiscipline) {
    addOlderRegistrations(demo::kStudentFullCredits);
    find(QStringLiteral("Петров П"), demo::kStudentFullCredits);
    const int mark = server.logMark();
    auto regs = openRegistrations();
    EXPECT_EQ(server.batchesSince(mark),
              QStringList({sent(registrationsStatement(QString::number(demo::kStudentFullCredits)))}));
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_EQ(regs->windowTitle(), QStringLiteral("Окно регистрации студента"));
    EXPECT_EQ(regs->Label5->text(), QStringLiteral(" Ф.И.О. студента:"));
    EXPECT_EQ(regs->DBText1->text(), QStringLiteral("Петров Пётр Петрович"));

    const QVector<int> expected = expectedIds(demo::kStudentFullCredits);
    ASSERT_EQ(expected.size(), 8);
    EXPECT_EQ(shownIds(), expected);
    EXPECT_EQ(regs->DBGridEh1->rowCountShown(), 8);
    // The two older rows come first (semester 1), by discipline name; then semester 3 ones.
    EXPECT_EQ(regs->DBGridEh1->cellText(0, 1), QStringLiteral("Дискретная математика"));
    EXPECT_EQ(regs->DBGridEh1->cellText(1, 1), QStringLiteral("Математический анализ"));
    EXPECT_EQ(regs->DBGridEh1->cellText(0, 5), QStringLiteral("Ёлкин Сергей Петрович"));
    EXPECT_EQ(regs->DBGridEh1->cellText(1, 5), QStringLiteral("Ежов Дмитрий Сергеевич"));
    EXPECT_EQ(regs->DBGridEh1->cellText(0, 2), QStringLiteral("6"));
}

TEST_F(RegistrationsWindow, LooksAsDesigned) {
    find(QStringLiteral("Петров П"), demo::kStudentFullCredits);
    auto regs = openRegistrations();
    QAbstractItemModel* model = regs->DBGridEh1->model();
    const QStringList titles = {QStringLiteral("Семестр"),  QStringLiteral("Дисциплина"),
                                QStringLiteral("Кредит"),   QStringLiteral("Поток"),
                                QStringLiteral("Контроль"), QStringLiteral("Преподаватель")};
    ASSERT_EQ(model->columnCount(), 6);
    for (int c = 0; c < 6; ++c) EXPECT_EQ(model->headerData(c, Qt::Horizontal).toString(), titles[c]);
    // Credits and streams centred, the rest left.
    const auto align = [&](int c) {
        return model->data(model->index(0, c), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignHorizontal_Mask;
    };
    EXPECT_EQ(align(2), Qt::AlignHCenter);
    EXPECT_EQ(align(3), Qt::AlignHCenter);
    EXPECT_EQ(align(1), Qt::AlignLeft);
    // Widths in the design proportion 80 : 300 : 50 : 50 : 100 : 130.
    auto* header = regs->DBGridEh1->horizontalHeader();
    EXPECT_NEAR(double(header->sectionSize(1)) / header->sectionSize(0), 300.0 / 80, 0.15);
    EXPECT_NEAR(double(header->sectionSize(5)) / header->sectionSize(4), 1.3, 0.1);
    // Two text lines per row.
    EXPECT_GE(regs->DBGridEh1->rowHeight(0), 2 * regs->DBGridEh1->fontMetrics().lineSpacing());

    EXPECT_EQ(regs->RzBitBtn2->text(), QStringLiteral("Закрыть"));
    EXPECT_EQ(regs->RzBitBtn1->text(), QStringLiteral("Удалить регистрацию"));
    EXPECT_EQ(regs->RzBitBtn2->width(), 88);
    EXPECT_EQ(regs->RzBitBtn1->width(), 177);
    EXPECT_FALSE(regs->RzBitBtn1->icon().isNull());
    EXPECT_FALSE(regs->RzBitBtn2->icon().isNull());
    EXPECT_LT(regs->RzBitBtn2->x(), regs->RzBitBtn1->x());
    EXPECT_EQ(regs->RzBitBtn1->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(regs->DBText1->font().pixelSize(), 13);
    EXPECT_EQ(regs->DBText1->palette().color(QPalette::WindowText), QColor(0, 0, 128));

    // Every second row in the alternate colour, as painted.
    ASSERT_GE(regs->DBGridEh1->rowCountShown(), 3);
    const QImage image = regs->DBGridEh1->viewport()->grab().toImage();
    const int x = header->sectionPosition(5) + header->sectionSize(5) - 4;
    const auto pixelOfRow = [&](int row) {
        const int y = regs->DBGridEh1->rowViewportPosition(row) + 3;
        return QColor(image.pixel(x, y));
    };
    EXPECT_EQ(pixelOfRow(1), QColor(224, 231, 252));
    EXPECT_NE(pixelOfRow(2), QColor(224, 231, 252));

    // "Закрыть" ends the window.
    regs->RzBitBtn2->click();
    EXPECT_FALSE(regs->isVisible());
}

TEST_F(RegistrationsWindow, CancelSendsNothing) {
    find(QStringLiteral("Петров П"), demo::kStudentFullCredits);
    auto regs = openRegistrations();
    const QVector<int> before = shownIds();
    boxes.answerNext(qtl::MbResult::Cancel);
    const int mark = server.logMark();
    regs->RzBitBtn1->click();
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].text, kQuestion);
    EXPECT_EQ(boxes.shown()[0].caption, QStringLiteral("Внимание!!!"));
    EXPECT_EQ(boxes.shown()[0].icon, qtl::MbIcon::Warning);
    EXPECT_EQ(boxes.shown()[0].buttons, qtl::MbButtons::OkCancel);
    EXPECT_TRUE(server.batchesSince(mark).isEmpty());
    EXPECT_EQ(shownIds(), before);
    EXPECT_EQ(countOf(demo::kStudentFullCredits), before.size());
}

TEST_F(RegistrationsWindow, OkDeletesExactlyTheSelectedRowThenTheNext) {
    find(QStringLiteral("Петров П"), demo::kStudentFullCredits);
    auto regs = openRegistrations();
    const QVector<int> before = shownIds();
    ASSERT_GE(before.size(), 3);
    const int total = server.sqliteScalar(QStringLiteral("SELECT COUNT(*) FROM DisciplineForStudent")).toInt();

    // Select the second row, as the operator would, and delete it.
    const QRect second = regs->DBGridEh1->visualRect(regs->DBGridEh1->model()->index(1, 1));
    QTest::mouseClick(regs->DBGridEh1->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
    ASSERT_EQ(qtl::DM_MB->ADOQ_V_DFS->currentRow(), 1);
    const QString victim = QString::number(before[1]);
    int mark = server.logMark();
    regs->RzBitBtn1->click();
    QStringList sentNow = server.batchesSince(mark);
    ASSERT_EQ(sentNow.size(), 3) << sentNow.join(QStringLiteral("\n")).toStdString();
    EXPECT_EQ(sentNow[0], sent(findOne(victim)));
    EXPECT_TRUE(sentNow[1].contains(QStringLiteral("DELETE"), Qt::CaseInsensitive));
    EXPECT_TRUE(sentNow[1].contains(QStringLiteral("id_disciplineForStudent = ") + victim));
    EXPECT_EQ(sentNow[2], sent(registrationsStatement(QString::number(demo::kStudentFullCredits))));
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[1].text, QStringLiteral("Удалено "));
    EXPECT_TRUE(boxes.shown()[1].caption.isEmpty());
    EXPECT_EQ(boxes.shown()[1].icon, qtl::MbIcon::None);
    EXPECT_EQ(boxes.shown()[1].buttons, qtl::MbButtons::Ok);

    EXPECT_EQ(server.sqliteScalar(QStringLiteral("SELECT COUNT(*) FROM DisciplineForStudent")).toInt(), total - 1);
    EXPECT_EQ(
        server
            .sqliteScalar(QStringLiteral("SELECT COUNT(*) FROM DisciplineForStudent WHERE id_disciplineForStudent = ") +
                          victim)
            .toInt(),
        0);
    QVector<int> remaining = before;
    remaining.removeAt(1);
    EXPECT_EQ(shownIds(), remaining);
    EXPECT_EQ(qtl::DM_MB->ADOQ_V_DFS->currentRow(), 0);
    EXPECT_EQ(regs->DBGridEh1->currentIndex().row(), 0);

    // A second press asks again and deletes the row now current: the first.
    boxes.clear();
    mark = server.logMark();
    regs->RzBitBtn1->click();
    ASSERT_EQ(boxes.texts(), QStringList({kQuestion, QStringLiteral("Удалено ")}));
    sentNow = server.batchesSince(mark);
    ASSERT_EQ(sentNow.size(), 3);
    EXPECT_EQ(sentNow[0], sent(findOne(QString::number(before[0]))));
    remaining.removeAt(0);
    EXPECT_EQ(shownIds(), remaining);
    EXPECT_EQ(countOf(demo::kStudentFullCredits), remaining.size());
}

TEST_F(RegistrationsWindow, RowDeletedMeanwhileGivesTheErrorAndNoReload) {
    find(QStringLiteral("Петров П"), demo::kStudentFullCredits);
    auto regs = openRegistrations();
    const QVector<int> before = shownIds();
    ASSERT_FALSE(before.isEmpty());
    // Another workstation deletes the first registration.
    server.sqliteExec(
        QStringLiteral("DELETE FROM DisciplineForStudent WHERE id_disciplineForStudent = %1").arg(before[0]));
    const int mark = server.logMark();
    regs->RzBitBtn1->click();
    EXPECT_EQ(server.batchesSince(mark), QStringList({sent(findOne(QString::number(before[0])))}));
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[1].icon, qtl::MbIcon::Error);
    EXPECT_NE(boxes.shown()[1].text, QStringLiteral("Удалено "));
    EXPECT_FALSE(boxes.shown()[1].text.isEmpty());
    EXPECT_EQ(countOf(demo::kStudentFullCredits), before.size() - 1);
    EXPECT_EQ(shownIds(), before);  // not reloaded
}

TEST_F(RegistrationsWindow, EmptyListGivesTheErrorAndDeletesNothing) {
    find(QStringLiteral("Елисеева"), demo::kStudentEliseeva);
    auto regs = openRegistrations();
    ASSERT_EQ(regs->DBGridEh1->rowCountShown(), 0);
    const int total = server.sqliteScalar(QStringLiteral("SELECT COUNT(*) FROM DisciplineForStudent")).toInt();
    const int mark = server.logMark();
    regs->RzBitBtn1->click();
    // The incomplete statement is rejected by the server; no DELETE follows.
    EXPECT_EQ(server.batchesSince(mark), QStringList({sent(findOne(QString()))}));
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[0].text, kQuestion);
    EXPECT_EQ(boxes.shown()[1].icon, qtl::MbIcon::Error);
    EXPECT_EQ(server.sqliteScalar(QStringLiteral("SELECT COUNT(*) FROM DisciplineForStudent")).toInt(), total);
}

}  // namespace

// The glyph and caption of each bottom button sit in its middle as painted (blank columns on
// either side differ by at most one pixel), and the two buttons keep equal margins to the
// window's edges.
TEST_F(RegistrationsWindow, ButtonsAtTheEndsWithTheirInkInTheMiddle) {
    find(QStringLiteral("Петров П"), demo::kStudentFullCredits);
    auto regs = openRegistrations();
    QPushButton* buttons[] = {regs->RzBitBtn2, regs->RzBitBtn1};
    for (QPushButton* button : buttons) {
        SCOPED_TRACE(button->text().toStdString());
        const QImage image = button->grab().toImage();
        // The face colour, read inside the frame above the ink.
        const QRgb face = image.pixel(3, 2);
        int first = -1, last = -1;
        for (int x = 2; x < image.width() - 2; ++x)
            for (int y = 2; y < image.height() - 2; ++y)
                if (image.pixel(x, y) != face) {
                    if (first < 0) first = x;
                    last = x;
                    break;
                }
        ASSERT_GE(first, 0) << "nothing painted on the button";
        const int leftBlank = first, rightBlank = image.width() - 1 - last;
        EXPECT_LE(std::abs(leftBlank - rightBlank), 1) << "blank columns " << leftBlank << " and " << rightBlank;
        // The caption's ink is there, not only the glyph.
        EXPECT_GT(last - first, 16 + button->fontMetrics().tightBoundingRect(button->text()).width() - 2);
    }
    const int leftEdge = regs->RzBitBtn2->mapTo(regs.get(), QPoint(0, 0)).x();
    const int rightEdge =
        regs->width() - (regs->RzBitBtn1->mapTo(regs.get(), QPoint(0, 0)).x() + regs->RzBitBtn1->width());
    EXPECT_EQ(leftEdge, rightEdge);
}
