// The lookup selector rules, on the kinds-of-term list of a live server.
#include "platform_fixture.h"

#include "platform/LookupComboBox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>

using namespace qtl;

class Selector : public LiveServer {
protected:
    void SetUp() override {
        LiveServer::SetUp();
        query.setSql(QStringLiteral("SELECT id_w_s, p42 FROM w_s ORDER BY id_w_s"));
        for (const auto& row : server.sqlite(QStringLiteral("SELECT id_w_s, p42 FROM w_s ORDER BY id_w_s"))) {
            ids << row[0].toInt();
            names << row[1].toString();
        }
        ASSERT_GE(ids.size(), 3);
        box.bind(&source, QStringLiteral("id_w_s"), QStringLiteral("p42"));
        box.resize(200, 21);
        box.show();
    }

    Query query{&con, QStringLiteral("ADOQ_W_S")};
    ListSource source{&query, QStringLiteral("DS_W_S")};
    LookupComboBox box;
    QList<int> ids;
    QStringList names;
};

TEST_F(Selector, NullKeyShowsNothingAndLeavesTheFirstRowCurrent) {
    QSignalSpy clicks(&box, &LookupComboBox::clicked);
    query.open();
    EXPECT_FALSE(box.hasKey());
    EXPECT_EQ(box.keyText(), QString());
    EXPECT_EQ(box.shownText(), QString());
    EXPECT_EQ(box.count(), ids.size());
    EXPECT_EQ(query.currentRow(), 0);
    EXPECT_EQ(box.maxVisibleItems(), 25);
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(Selector, KeySetWhileClosedIsFoundWhenTheQueryOpens) {
    QSignalSpy clicks(&box, &LookupComboBox::clicked);
    box.setKeyValue(ids[2]);
    EXPECT_TRUE(box.hasKey());
    EXPECT_EQ(box.shownText(), QString());
    query.open();
    EXPECT_EQ(box.shownText(), names[2]);
    EXPECT_EQ(query.currentRow(), 2);
    EXPECT_EQ(query.fieldAsInt(QStringLiteral("id_w_s")), ids[2]);
    // Reopening looks the key up again.
    query.close();
    EXPECT_EQ(box.shownText(), QString());
    EXPECT_EQ(box.keyValue().toInt(), ids[2]);
    query.open();
    EXPECT_EQ(query.currentRow(), 2);
    EXPECT_EQ(box.shownText(), names[2]);
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(Selector, SettingFromCodeMovesTheRowButNeverClicks) {
    QSignalSpy clicks(&box, &LookupComboBox::clicked);
    query.open();
    box.setKeyValue(ids[1]);
    EXPECT_EQ(query.currentRow(), 1);
    EXPECT_EQ(box.shownText(), names[1]);
    // A key with no row: empty text, key still held, current row unchanged.
    box.setKeyValue(987654);
    EXPECT_EQ(box.shownText(), QString());
    EXPECT_EQ(box.keyText(), QStringLiteral("987654"));
    EXPECT_EQ(query.currentRow(), 1);
    box.clearKey();
    EXPECT_FALSE(box.hasKey());
    EXPECT_EQ(box.keyText(), QString());
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(Selector, MousePickInTheListClicksAlsoForTheRowHeld) {
    QSignalSpy clicks(&box, &LookupComboBox::clicked);
    query.open();
    box.setKeyValue(ids[0]);
    for (int round = 0; round < 2; ++round) {
        box.dropDown();
        ASSERT_TRUE(box.isDroppedDown());
        QAbstractItemView* view = box.view();
        const QRect r = view->visualRect(view->model()->index(2, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
        EXPECT_FALSE(box.isDroppedDown());
        EXPECT_EQ(clicks.count(), round + 1);
        EXPECT_EQ(box.keyValue().toInt(), ids[2]);
        EXPECT_EQ(query.currentRow(), 2);
        EXPECT_EQ(box.shownText(), names[2]);
    }
    // Closing the list from code accepts nothing.
    box.dropDown();
    box.closeUp();
    EXPECT_FALSE(box.isDroppedDown());
    EXPECT_EQ(clicks.count(), 2);
}

TEST_F(Selector, ArrowKeysAndTypingPickRowsOnTheClosedBox) {
    QSignalSpy clicks(&box, &LookupComboBox::clicked);
    query.open();
    box.setKeyValue(ids[0]);
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(box.keyValue().toInt(), ids[1]);
    EXPECT_EQ(query.currentRow(), 1);
    EXPECT_FALSE(box.isDroppedDown());
    QTest::keyClick(&box, Qt::Key_Up);
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(box.keyValue().toInt(), ids[0]);
    QTest::keyClick(&box, Qt::Key_Up);  // no row before the first
    EXPECT_EQ(clicks.count(), 2);

    // Typing the beginning of a shown text picks the first row that starts with it.
    const QString target = names.last();
    int expected = -1;
    for (int i = 0; i < names.size(); ++i)
        if (names[i].startsWith(target.left(2), Qt::CaseInsensitive)) {
            expected = i;
            break;
        }
    QTest::qWait(QApplication::keyboardInputInterval() + 50);
    // Cyrillic keys carry their text; QTest's key clicks are Latin-1 only.
    for (QChar ch : target.left(2).toLower()) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(&box, &press);
    }
    EXPECT_GE(clicks.count(), 3);
    EXPECT_EQ(query.currentRow(), expected);
    EXPECT_EQ(box.keyValue().toInt(), ids[expected]);
}

TEST_F(Selector, ReadOnlyBoxTakesNoPicks) {
    QSignalSpy clicks(&box, &LookupComboBox::clicked);
    int keys = 0;
    QObject::connect(&box, &LookupComboBox::keyPressed, [&keys](QKeyEvent*) { ++keys; });
    query.open();
    box.setKeyValue(ids[0]);
    box.setReadOnly(true);
    QTest::keyClick(&box, Qt::Key_Down);
    box.dropDown();
    EXPECT_FALSE(box.isDroppedDown());
    EXPECT_EQ(keys, 1);
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_EQ(box.keyValue().toInt(), ids[0]);
}

TEST_F(Selector, TwoSelectorsOnOneListEachShowTheirOwnKey) {
    LookupComboBox other;
    other.bind(&source, QStringLiteral("id_w_s"), QStringLiteral("p42"));
    QSignalSpy clicks(&box, &LookupComboBox::clicked);
    QSignalSpy otherClicks(&other, &LookupComboBox::clicked);
    query.open();
    box.setKeyValue(ids[0]);
    other.setKeyValue(ids[2]);
    // The one set last decides the current row; the first keeps its key and text.
    EXPECT_EQ(query.currentRow(), 2);
    EXPECT_EQ(box.keyValue().toInt(), ids[0]);
    EXPECT_EQ(box.shownText(), names[0]);
    EXPECT_EQ(other.shownText(), names[2]);
    // Reopening: still the last one's row, both texts kept.
    query.close();
    query.open();
    EXPECT_EQ(query.currentRow(), 2);
    EXPECT_EQ(box.shownText(), names[0]);
    EXPECT_EQ(other.shownText(), names[2]);
    // A pick in the first moves the row back to it.
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_EQ(query.currentRow(), 1);
    EXPECT_EQ(other.shownText(), names[2]);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(otherClicks.count(), 0);
    query.close();
    query.open();
    EXPECT_EQ(query.currentRow(), 1);
}
