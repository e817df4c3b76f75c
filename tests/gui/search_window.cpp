// The student search window against qtl-devserver: one exact search per change of the text,
// what the operator's faculties let him find, and the way into the registrations window.
#include "DevServer.h"
#include "SignIn.h"
#include "search_helpers.h"

#include "Unit4.h"
#include "Unit5.h"
#include "dm_u.h"
#include "main_u.h"

#include "../../devserver/qtl/demo_ids.h"

#include <QHeaderView>
#include <QLineEdit>

#include <gtest/gtest.h>

namespace demo = devserver::qtl::demo;
using namespace qtltest::lookup;
using qtltest::DevServer;
using qtltest::MessageRecorder;

namespace {

const QString kSearchHead = QStringLiteral("SELECT TOP (100) dbo.s_fio");

class SearchWindow : public ::testing::Test {
protected:
    void SetUp() override { server.start(); }
    void signIn(const QString& login, const QString& password) {
        form = qtltest::openMainWindow(server, login, password);
        ASSERT_TRUE(form);
    }
    QStringList gridColumn(qtl::DbGrid* grid, int column) const {
        QStringList out;
        for (int r = 0; r < grid->rowCountShown(); ++r) out << grid->cellText(r, column);
        return out;
    }
    DevServer server;
    MessageRecorder boxes;
    decltype(qtltest::openMainWindow(std::declval<DevServer&>(), QString(), QString())) form{};
};

TEST_F(SearchWindow, LooksAsDesigned) {
    signIn(QStringLiteral("operator"), QStringLiteral("operator"));
    qtl::TForm4 search(form.get());
    EXPECT_EQ(search.windowTitle(), QStringLiteral("Поиск"));
    EXPECT_EQ(search.Label5->text(), QStringLiteral(" Поиск студента:"));
    EXPECT_TRUE(search.Label5->font().bold());
    EXPECT_EQ(search.Label5->font().pixelSize(), 13);
    EXPECT_EQ(search.Label5->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    EXPECT_EQ(search.Panel1->palette().color(QPalette::Window), QColor(241, 244, 254));
    EXPECT_FALSE(search.Image2->pixmap().isNull());
    EXPECT_TRUE(search.RzEdit1->text().isEmpty());
    EXPECT_EQ(search.DBGridEh1->toolTip(), QStringLiteral("Выберите студента и нажмите\nлевой кнопкой мыши два раза"));
    auto* header = search.DBGridEh1->horizontalHeader();
    EXPECT_EQ(search.DBGridEh1->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Ф.И.О студента"));
    EXPECT_EQ(search.DBGridEh1->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Группа"));
    search.show();
    QApplication::processEvents();
    // Widths keep the 200 : 100 design proportion across the grid's width.
    const int nameWidth = header->sectionSize(0), groupWidth = header->sectionSize(1);
    EXPECT_NEAR(double(nameWidth) / groupWidth, 2.0, 0.1);
    EXPECT_EQ(search.StatusBar1->height(), 19);
}

TEST_F(SearchWindow, EveryChangeSendsOneExactSearch) {
    signIn(QStringLiteral("operator"), QStringLiteral("operator"));
    qtl::TForm4 search(form.get());
    search.show();
    const int mark = server.logMark();
    typeText(search.RzEdit1, QStringLiteral("Ёлк"));
    const QStringList sentNow = server.batchesSince(mark);
    ASSERT_EQ(sentNow.size(), 3) << sentNow.join(QStringLiteral("\n")).toStdString();
    EXPECT_EQ(sentNow[0], sent(searchStatement(QStringLiteral("Ё"), QStringLiteral("operator"))));
    EXPECT_EQ(sentNow[1], sent(searchStatement(QStringLiteral("Ёл"), QStringLiteral("operator"))));
    EXPECT_EQ(sentNow[2], sent(searchStatement(QStringLiteral("Ёлк"), QStringLiteral("operator"))));

    // The student with movement records in two of the operator's groups is listed once per group.
    ASSERT_EQ(search.DBGridEh1->rowCountShown(), 2);
    EXPECT_EQ(gridColumn(search.DBGridEh1, 0),
              QStringList({QStringLiteral("Ёлкина Мария Петровна"), QStringLiteral("Ёлкина Мария Петровна")}));
    QStringList groups = gridColumn(search.DBGridEh1, 1);
    groups.sort();
    EXPECT_EQ(groups, QStringList({QStringLiteral("ИТ-21"), QStringLiteral("ЭК-21")}));
    EXPECT_TRUE(boxes.shown().isEmpty());

    // A blank is searched as typed, not trimmed away.
    const int blankMark = server.logMark();
    typeText(search.RzEdit1, QStringLiteral(" "));
    ASSERT_EQ(server.batchesSince(blankMark).size(), 1);
    EXPECT_EQ(server.batchesSince(blankMark)[0],
              sent(searchStatement(QStringLiteral("Ёлк "), QStringLiteral("operator"))));
    EXPECT_EQ(search.DBGridEh1->rowCountShown(), 0);
}

TEST_F(SearchWindow, EmptyTextListsFirstHundredOfOperatorsFaculties) {
    signIn(QStringLiteral("operator"), QStringLiteral("operator"));
    qtl::TForm4 search(form.get());
    search.show();
    typeText(search.RzEdit1, QStringLiteral("Б"));
    const int mark = server.logMark();
    QTest::keyClick(search.RzEdit1, Qt::Key_Backspace);
    ASSERT_EQ(server.batchesSince(mark), QStringList({sent(searchStatement(QString(), QStringLiteral("operator")))}));

    // Pairs (student, group) of the operator's faculties, straight from the database.
    const int pairs =
        server
            .sqliteScalar(QStringLiteral(
                "SELECT COUNT(*) FROM (SELECT DISTINCT m.id_student, g.id_group FROM movement_t m "
                "JOIN [group] g ON g.id_group = m.id_group JOIN user_faculty uf ON uf.faculty = g.id_faculty "
                "JOIN QTL_User u ON u.id_QTL_user = uf.id_login JOIN s_fio s ON s.id_student = m.id_student "
                "WHERE u.QTL_login = 'operator' AND u.visible = 1)"))
            .toInt();
    ASSERT_GT(pairs, 0);
    EXPECT_EQ(search.DBGridEh1->rowCountShown(), std::min(pairs, 100));
    // Nobody of faculty C (not the operator's) is listed.
    EXPECT_FALSE(gridColumn(search.DBGridEh1, 1).contains(QStringLiteral("ФЛ-21")));
}

TEST_F(SearchWindow, QuotesAreSearchedSafely) {
    signIn(QStringLiteral("operator"), QStringLiteral("operator"));
    qtl::TForm4 search(form.get());
    search.show();
    const int mark = server.logMark();
    typeText(search.RzEdit1, QStringLiteral("д'А"));
    const QStringList sentNow = server.batchesSince(mark);
    ASSERT_EQ(sentNow.size(), 3);
    EXPECT_EQ(sentNow[1], sent(searchStatement(QStringLiteral("д''"), QStringLiteral("operator"))));
    EXPECT_EQ(sentNow[2], sent(searchStatement(QStringLiteral("д''А"), QStringLiteral("operator"))));
    EXPECT_TRUE(boxes.shown().isEmpty()) << boxes.texts().join(QStringLiteral("|")).toStdString();
    EXPECT_EQ(search.DBGridEh1->rowCountShown(), 0);
    // The login is written the same way.
    EXPECT_TRUE(qtl::statements::studentSearch(QStringLiteral("x"), QStringLiteral("o'k"))
                    .contains(QStringLiteral("QTL_login ='o''k') ")));
}

TEST_F(SearchWindow, InvisibleLoginFindsNobody) {
    signIn(QStringLiteral("viewer"), QStringLiteral("viewer1"));
    qtl::TForm4 search(form.get());
    search.show();
    const int mark = server.logMark();
    typeText(search.RzEdit1, QStringLiteral("а"));
    EXPECT_EQ(server.batchesSince(mark),
              QStringList({sent(searchStatement(QStringLiteral("а"), QStringLiteral("viewer")))}));
    EXPECT_EQ(search.DBGridEh1->rowCountShown(), 0);
    QTest::keyClick(search.RzEdit1, Qt::Key_Backspace);
    EXPECT_EQ(search.DBGridEh1->rowCountShown(), 0);
}

TEST_F(SearchWindow, ReopeningShowsThePreviousResult) {
    signIn(QStringLiteral("operator"), QStringLiteral("operator"));
    {
        qtl::TForm4 first(form.get());
        first.show();
        typeText(first.RzEdit1, QStringLiteral("Волков Арт"));
        ASSERT_EQ(first.DBGridEh1->rowCountShown(), 1);
    }
    const int mark = server.logMark();
    qtl::TForm4 second(form.get());
    second.show();
    QApplication::processEvents();
    EXPECT_TRUE(second.RzEdit1->text().isEmpty());
    EXPECT_TRUE(server.batchesSince(mark).isEmpty());
    ASSERT_EQ(second.DBGridEh1->rowCountShown(), 1);
    EXPECT_EQ(second.DBGridEh1->cellText(0, 0), QStringLiteral("Волков Артём Денисович"));
}

TEST_F(SearchWindow, ServerErrorIsShownAndLeavesTheGridEmpty) {
    server.stop();
    DevServer::Options options;
    options.failOn = QStringLiteral("LIKE '%Бел%'");
    server.restartWith(options);
    signIn(QStringLiteral("operator"), QStringLiteral("operator"));
    qtl::TForm4 search(form.get());
    search.show();
    typeText(search.RzEdit1, QStringLiteral("Бе"));
    ASSERT_GT(search.DBGridEh1->rowCountShown(), 0);
    typeText(search.RzEdit1, QStringLiteral("л"));
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, qtl::MbIcon::Error);
    EXPECT_FALSE(qtl::DM_MB->ADOQ_SGM->isOpen());
    EXPECT_EQ(search.DBGridEh1->rowCountShown(), 0);
    // The next change searches again.
    typeText(search.RzEdit1, QStringLiteral("x"));
    EXPECT_EQ(boxes.shown().size(), 1);
    EXPECT_TRUE(qtl::DM_MB->ADOQ_SGM->isOpen());
}

// The toolbar button opens the search window modally; a double click opens the registrations
// window modally over it, whatever the grid holds.
TEST_F(SearchWindow, ToolbarButtonAndDoubleClickOpenTheWindowsModally) {
    signIn(QStringLiteral("operator"), QStringLiteral("operator"));
    ASSERT_TRUE(form->RzBitBtn1->isVisible());
    bool searchSeen = false, registrationsSeen = false, emptyRegistrationsSeen = false;
    whenModal<qtl::TForm4>([&](qtl::TForm4* search) {
        searchSeen = true;
        typeText(search->RzEdit1, QStringLiteral("Волков Арт"));
        ASSERT_EQ(search->DBGridEh1->rowCountShown(), 1);
        whenModal<qtl::TForm5>([&](qtl::TForm5* regs) {
            registrationsSeen = true;
            EXPECT_EQ(regs->DBText1->text(), QStringLiteral("Волков Артём Денисович"));
            EXPECT_GT(regs->DBGridEh1->rowCountShown(), 0);
        });
        doubleClickRow(search->DBGridEh1, 0);
        EXPECT_TRUE(registrationsSeen);

        // Nothing found: the window still opens; its load fails with the id missing.
        typeText(search->RzEdit1, QStringLiteral("zzz"));
        ASSERT_EQ(search->DBGridEh1->rowCountShown(), 0);
        boxes.clear();
        const int mark = server.logMark();
        whenModal<qtl::TForm5>([&](qtl::TForm5* regs) {
            emptyRegistrationsSeen = true;
            EXPECT_TRUE(regs->DBText1->text().isEmpty());
            EXPECT_EQ(regs->DBGridEh1->rowCountShown(), 0);
        });
        doubleClickRow(search->DBGridEh1, -1);
        EXPECT_TRUE(emptyRegistrationsSeen);
        EXPECT_EQ(server.batchesSince(mark), QStringList({sent(registrationsStatement(QString()))}));
        ASSERT_EQ(boxes.shown().size(), 1);
        EXPECT_EQ(boxes.shown()[0].icon, qtl::MbIcon::Error);
    });
    const int mark = server.logMark();
    form->RzBitBtn1->click();
    EXPECT_TRUE(searchSeen);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // Nothing in the main window is reloaded after the search window closes.
    EXPECT_TRUE(
        startingWith(server.batchesSince(mark), QStringLiteral("Exec SP_GetDescGroupNumOfDiscipline")).isEmpty());
}

}  // namespace
