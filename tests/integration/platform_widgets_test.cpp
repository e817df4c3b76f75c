// The check list, the multi-select list, the grid and the event guard, driven by real input.
#include "platform_fixture.h"

#include "platform/ApplicationTitle.h"
#include "platform/DbGrid.h"
#include "platform/Guard.h"
#include "platform/ItemLists.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QSplitter>
#include <QSignalSpy>
#include <QTest>

#include <stdexcept>

using namespace qtl;

namespace {

struct Counted : ItemRecord {
    Counted(QStringList* log, QString name) : log(log), name(std::move(name)) {}
    ~Counted() override { log->append(name); }
    QStringList* log;
    QString name;
};

QPoint textPoint(QListWidget& list, int row) {
    const QRect r = list.visualItemRect(list.item(row));
    return QPoint(r.left() + 40, r.center().y());
}
QPoint checkPoint(QListWidget& list, int row) {
    const QRect r = list.visualItemRect(list.item(row));
    return QPoint(r.left() + 6, r.center().y());
}

}  // namespace

TEST(CheckList, ClicksSelectLinesAndToggleMarksOnlyInTheCheckArea) {
    CheckListBox list;
    QStringList released;
    for (const char* n : {"Абаев", "Бобров", "Волков"})
        list.addLine(QString::fromUtf8(n), std::make_unique<Counted>(&released, QString::fromUtf8(n)));
    list.resize(200, 100);
    list.show();
    QSignalSpy line(&list, &CheckListBox::lineClicked);
    QSignalSpy check(&list, &CheckListBox::clickCheck);

    EXPECT_EQ(list.visualItemRect(list.item(1)).height(), CheckListBox::kLineHeight);
    list.setItemIndex(0);
    list.setChecked(0, true);
    EXPECT_EQ(line.count(), 0);
    EXPECT_EQ(check.count(), 0);
    EXPECT_EQ(list.itemIndex(), 0);

    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, textPoint(list, 1));
    EXPECT_EQ(list.itemIndex(), 1);
    EXPECT_EQ(line.count(), 1);
    EXPECT_EQ(check.count(), 0);
    EXPECT_FALSE(list.isChecked(1));

    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, checkPoint(list, 2));
    EXPECT_EQ(list.itemIndex(), 2);
    EXPECT_EQ(line.count(), 2);
    ASSERT_EQ(check.count(), 1);
    EXPECT_EQ(check.at(0).at(0).toInt(), 2);
    EXPECT_TRUE(list.isChecked(2));

    QTest::keyClick(list.viewport(), Qt::Key_Space);
    EXPECT_FALSE(list.isChecked(2));
    EXPECT_EQ(check.count(), 2);
    QTest::keyClick(list.viewport(), Qt::Key_Up);
    EXPECT_EQ(list.itemIndex(), 1);
    EXPECT_EQ(line.count(), 3);
    EXPECT_TRUE(list.isChecked(0));

    ASSERT_NE(list.record(1), nullptr);
    EXPECT_EQ(static_cast<Counted*>(list.record(1))->name, QStringLiteral("Бобров"));
    EXPECT_EQ(list.record(3), nullptr);
    list.clearLines();
    EXPECT_EQ(released, QStringList({"Абаев", "Бобров", "Волков"}));
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.itemIndex(), -1);
    EXPECT_EQ(line.count(), 3);  // clearing from code is no click
}

TEST(CheckList, ProgramDrawsTheTextPartRightOfTheCheckBox) {
    CheckListBox list;
    QList<int> drawn;
    QRect lastRect;
    list.setDrawItem([&](QPainter*, const QRect& r, int index, bool) {
        drawn << index;
        lastRect = r;
    });
    list.addLine(QStringLiteral("a"), nullptr);
    list.addLine(QStringLiteral("b"), nullptr);
    list.resize(150, 60);
    list.show();
    list.grab();
    EXPECT_TRUE(drawn.contains(0));
    EXPECT_TRUE(drawn.contains(1));
    EXPECT_GT(lastRect.left(), 0);
    EXPECT_EQ(lastRect.height(), CheckListBox::kLineHeight);
}

TEST(ListBoxTest, SeveralLinesSelectableAndEventsReported) {
    ListBox list;
    for (int i = 0; i < 4; ++i) list.addLine(QString::number(i), nullptr);
    list.resize(100, 100);
    list.show();
    QSignalSpy mouse(&list, &ListBox::mousePressed);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, textPoint(list, 0));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, textPoint(list, 2));
    EXPECT_EQ(list.selectedCount(), 2);
    EXPECT_TRUE(list.isSelected(0));
    EXPECT_TRUE(list.isSelected(2));
    ASSERT_EQ(mouse.count(), 2);
    EXPECT_EQ(mouse.at(0).at(0).value<Qt::MouseButton>(), Qt::LeftButton);
    list.setSelected(3, true);
    EXPECT_EQ(list.selectedCount(), 3);
}

TEST(GuardTest, ExceptionsEndTheHandlerAndShowTheirText) {
    qtltest::MessageRecorder recorder;
    QWidget window;
    QPushButton button(&window);
    int ran = 0;
    onEvent(&button, &QPushButton::clicked, &window, [&] {
        ++ran;
        throw DatabaseError(QStringLiteral("Invalid object name 'x'."));
    });
    onEvent(&button, &QPushButton::clicked, &window, [&](bool) { throw std::runtime_error("boom"); });
    onEvent(&button, &QPushButton::clicked, &window, [] { throw 42; });
    button.click();
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(recorder.texts(), QStringList({"Invalid object name 'x'.", "boom", "Unknown error"}));
    ASSERT_EQ(recorder.shown().size(), 3);
    EXPECT_EQ(recorder.shown()[0].icon, MbIcon::Error);
    EXPECT_EQ(recorder.shown()[0].buttons, MbButtons::Ok);
    EXPECT_EQ(recorder.shown()[0].caption, qtl::applicationTitle());

    // Handlers may take the signal's argument.
    int sum = 0;
    QWidget w2;
    QComboBox combo(&w2);
    combo.addItems({"a", "b"});
    onEvent(&combo, &QComboBox::currentIndexChanged, &w2, [&](int i) { sum += i; });
    combo.setCurrentIndex(1);
    EXPECT_EQ(sum, 1);

    // Two-argument signals: both arguments, or none.
    QSplitter splitter(&w2);
    int moved = 0, bare = 0;
    onEvent(&splitter, &QSplitter::splitterMoved, &w2, [&](int pos, int index) { moved = pos * 10 + index; });
    onEvent(&splitter, &QSplitter::splitterMoved, &w2, [&] { ++bare; });
    QMetaObject::invokeMethod(&splitter, "splitterMoved", Q_ARG(int, 4), Q_ARG(int, 1));
    EXPECT_EQ(moved, 41);
    EXPECT_EQ(bare, 1);
}

TEST(GuardTest, RecorderAnswersFromItsScript) {
    qtltest::MessageRecorder recorder;
    recorder.answerNext(MbResult::No);
    EXPECT_EQ(MessageBoxes::ask(nullptr, QStringLiteral("?"), QStringLiteral("Уведомление"), MbIcon::Warning,
                                MbButtons::YesNo),
              MbResult::No);
    EXPECT_EQ(MessageBoxes::ask(nullptr, QStringLiteral("?"), QStringLiteral("Уведомление"), MbIcon::Warning,
                                MbButtons::YesNo),
              MbResult::Yes);
    EXPECT_EQ(MessageBoxes::ask(nullptr, QStringLiteral("!"), QString(), MbIcon::None, MbButtons::OkCancel),
              MbResult::Ok);
    EXPECT_EQ(recorder.shown().size(), 3);
    EXPECT_EQ(recorder.shown()[0].caption, QStringLiteral("Уведомление"));
}

using GridLive = LiveServer;

TEST_F(GridLive, GridRowsFollowTheQueryBothWays) {
    Query query(&con, QStringLiteral("ADOQ_W_S"));
    ListSource source(&query, QStringLiteral("DS_W_S"));
    DbGrid grid;
    grid.bind(&source, {{QStringLiteral("id_w_s"), QStringLiteral("Код"), 40, Qt::AlignRight},
                        {QStringLiteral("p42"), QStringLiteral("Вид"), 120}});
    grid.setAlternateRowColor(QColor(224, 231, 252));
    grid.resize(300, 200);
    grid.show();
    EXPECT_EQ(grid.rowCountShown(), 0);
    query.setSql(QStringLiteral("SELECT id_w_s, p42 FROM w_s ORDER BY id_w_s"));
    query.open();
    ASSERT_GE(grid.rowCountShown(), 3);
    EXPECT_EQ(grid.rowCountShown(), query.recordCount());
    EXPECT_EQ(grid.cellText(1, 0), query.valueAt(1, QStringLiteral("id_w_s")).toString());
    EXPECT_EQ(grid.model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Вид"));
    EXPECT_EQ(grid.model()->data(grid.model()->index(1, 0), Qt::BackgroundRole).value<QColor>(), QColor(224, 231, 252));
    EXPECT_FALSE(grid.model()->data(grid.model()->index(0, 0), Qt::BackgroundRole).isValid());
    EXPECT_EQ(grid.columnWidth(0), 40);

    query.setCurrentRow(2);
    EXPECT_EQ(grid.currentIndex().row(), 2);
    const QRect cell = grid.visualRect(grid.model()->index(1, 1));
    QSignalSpy dbl(&grid, &DbGrid::gridDoubleClicked);
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(query.currentRow(), 1);
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(dbl.count(), 1);
    query.close();
    EXPECT_EQ(grid.rowCountShown(), 0);
}
