// Which operator input picks a row of a selector: a click in its open list, Up/Down on the closed
// box, type-ahead, and the keys of the open list. The wheel and the paging keys pick nothing: a
// pick runs a step of the selection chain, sends statements and throws away what lay below.
#include "chain_helpers.h"
#include "frame_helpers.h"

#include <QImage>
#include <QPushButton>
#include <QWheelEvent>

using namespace qtltest::chain;

namespace {

// One notch of the wheel over the middle of a widget, as the window system delivers it: to the
// widget under the mouse, whether or not it has the focus.
void turnWheel(QWidget* widget, int notches) {
    const QPointF at = QRectF(widget->rect()).center();
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
    QApplication::processEvents();
}

class SelectorInput : public MainWindowTest {
protected:
    // The operator's faculty and year, with the department list the year step opened closed
    // again: the year box holds a key, and a further pick in it would send the department list.
    void pickFacultyAndYear() {
        openAndPick(w()->DBLookupComboBox1, QStringLiteral("Факультет информационных технологий"));
        pickInList(w()->DBLookupComboBox2, QStringLiteral("2026-2027"));
        ASSERT_EQ(w()->DBLookupComboBox2->keyValue().toInt(), demo::kYearCurrent);
        w()->DBLookupComboBox8->closeUp();
        QApplication::processEvents();
    }
};

TEST_F(SelectorInput, TheWheelOverAnUnfocusedBoxPicksNothing) {
    signIn();
    auto* faculty = w()->DBLookupComboBox1;
    w()->DBLookupComboBox1->clearFocus();
    ASSERT_FALSE(faculty->hasFocus());
    const int m = mark();
    turnWheel(faculty, -1);
    turnWheel(faculty, 1);
    EXPECT_FALSE(faculty->hasKey());
    EXPECT_EQ(faculty->shownText(), QString());
    // The faculty step would have enabled and opened the year box.
    EXPECT_FALSE(w()->DBLookupComboBox2->isEnabled());
    EXPECT_FALSE(w()->DBLookupComboBox2->isDroppedDown());
    EXPECT_EQ(since(m), QStringList());

    pickFacultyAndYear();
    auto* year = w()->DBLookupComboBox2;
    const QString shown = year->shownText();
    ASSERT_GT(year->count(), 2);
    const int m2 = mark();
    turnWheel(year, -1);
    turnWheel(year, -1);
    turnWheel(year, 2);
    EXPECT_EQ(year->keyValue().toInt(), demo::kYearCurrent);
    EXPECT_EQ(year->shownText(), shown);
    EXPECT_FALSE(w()->DBLookupComboBox8->isDroppedDown());
    EXPECT_EQ(since(m2), QStringList());
}

TEST_F(SelectorInput, HomeEndAndPagingKeysOnTheClosedBoxPickNothing) {
    signIn();
    pickFacultyAndYear();
    auto* year = w()->DBLookupComboBox2;
    const QString shown = year->shownText();
    // The year held is neither the first nor the last of the list, so each key would move it.
    const int row = year->currentIndex();
    ASSERT_GT(row, 0);
    ASSERT_LT(row, year->count() - 1);

    const int m = mark();
    for (Qt::Key key : {Qt::Key_Home, Qt::Key_End, Qt::Key_PageUp, Qt::Key_PageDown}) {
        pressKey(year, key);
        EXPECT_EQ(year->keyValue().toInt(), demo::kYearCurrent) << "key " << key;
        EXPECT_EQ(year->shownText(), shown) << "key " << key;
        EXPECT_FALSE(w()->DBLookupComboBox8->isDroppedDown()) << "key " << key;
    }
    // Alt+Up opens the list as Alt+Down does; it does not move to the row above.
    QTest::keyClick(year, Qt::Key_Up, Qt::AltModifier);
    QApplication::processEvents();
    EXPECT_TRUE(year->isDroppedDown());
    year->closeUp();
    EXPECT_EQ(year->keyValue().toInt(), demo::kYearCurrent);
    EXPECT_EQ(since(m), QStringList());

    // Up and Down on the closed box still pick, each one a year step of its own.
    pressKey(year, Qt::Key_Down);
    EXPECT_EQ(year->currentIndex(), row + 1);
    EXPECT_NE(year->keyValue().toInt(), demo::kYearCurrent);
    pressKey(year, Qt::Key_Up);
    EXPECT_EQ(year->keyValue().toInt(), demo::kYearCurrent);
    EXPECT_EQ(since(m).size(), 2) << qPrintable(since(m).join(QStringLiteral("\n")));
}

TEST_F(SelectorInput, TheFramesReadOnlyDepartmentKeepsItsTextUnderTheWheel) {
    signIn();
    qtltest::frame::chooseClass(w());
    qtltest::frame::clickLine(w(), qtltest::frame::lineOf(w(), demo::kStudentAbdullaev));
    QApplication::processEvents();
    auto* department = w()->Frame11->DBLookupComboBox8;
    ASSERT_TRUE(department->isReadOnly());
    ASSERT_EQ(department->keyValue().toInt(), demo::kKafedraA);
    const QString shown = department->shownText();
    ASSERT_FALSE(shown.isEmpty());
    ASSERT_GT(department->count(), 1);

    const int m = mark();
    turnWheel(department, -1);
    turnWheel(department, 1);
    turnWheel(department, 1);
    EXPECT_EQ(department->shownText(), shown);
    EXPECT_EQ(department->keyValue().toInt(), demo::kKafedraA);
    EXPECT_EQ(since(m), QStringList());
}

TEST_F(SelectorInput, DownThenEnterInTheOpenedYearListPicksTheFirstYear) {
    signIn();
    openAndPick(w()->DBLookupComboBox1, QStringLiteral("Факультет информационных технологий"));
    auto* year = w()->DBLookupComboBox2;
    ASSERT_TRUE(year->isDroppedDown());
    ASSERT_FALSE(year->hasKey());
    const QString first = year->itemText(0);
    const int firstKey = qtl::DM_MB->ADOQ_Year->valueAt(0, QStringLiteral("id_a_year")).toInt();

    const int m = mark();
    pressKey(year->view(), Qt::Key_Down);
    pressKey(year->view(), Qt::Key_Return);
    EXPECT_FALSE(year->isDroppedDown());
    EXPECT_EQ(year->keyValue().toInt(), firstKey);
    EXPECT_EQ(year->shownText(), first);
    // The year step ran: the department list of that year was asked for and opened.
    EXPECT_EQ(since(m).size(), 1) << qPrintable(since(m).join(QStringLiteral("\n")));
    EXPECT_TRUE(w()->DBLookupComboBox8->isEnabled());
    EXPECT_TRUE(w()->DBLookupComboBox8->isDroppedDown());
}

TEST_F(SelectorInput, TypingTheFirstLetterOfAGroupPicksTheFirstGroupWithIt) {
    signIn();
    chainTo();
    auto* group = w()->DBLookupComboBox3;
    ASSERT_TRUE(group->isDroppedDown());
    group->closeUp();
    ASSERT_FALSE(group->hasKey());
    // The groups of faculty A are listed by name; the first of them is ИТ-21.
    ASSERT_EQ(group->itemText(0), QStringLiteral("ИТ-21"));

    const int m = mark();
    typeText(group, QStringLiteral("Я"));  // no group starts with it
    EXPECT_FALSE(group->hasKey());
    EXPECT_EQ(since(m), QStringList());

    QTest::qWait(QApplication::keyboardInputInterval() + 50);
    typeText(group, QStringLiteral("и"));
    QApplication::processEvents();
    EXPECT_EQ(group->keyValue().toInt(), demo::kGroupOz0);
    EXPECT_EQ(group->shownText(), QStringLiteral("ИТ-21"));
    EXPECT_EQ(startingWith(since(m), topSemester(demo::kGroupOz0, demo::kYearCurrent, demo::kWsAutumn)).size(), 1);
    EXPECT_EQ(w()->CheckListBox1->count(), demo::kGroupOz0Students);
}

// The pixels of a widget drawn enabled and drawn disabled.
QPair<QImage, QImage> enabledAndDisabled(QWidget* widget) {
    const bool was = widget->isEnabled();
    widget->setEnabled(true);
    const QImage on = widget->grab().toImage();
    widget->setEnabled(false);
    const QImage off = widget->grab().toImage();
    widget->setEnabled(was);
    return {on, off};
}

// Pixels of the navy text colour, or close to it (anti-aliased edges).
int navyPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.blue() >= 100 && c.red() < 80 && c.green() < 80) ++n;
        }
    return n;
}

// Pixels of black text, or close to it.
int blackPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() < 60 && c.green() < 60 && c.blue() < 60) ++n;
        }
    return n;
}

TEST_F(SelectorInput, DisabledSelectorsAndButtonsAreDrawnApartFromEnabledOnes) {
    signIn();
    // At the start only the faculty box is enabled.
    ASSERT_TRUE(w()->DBLookupComboBox1->isEnabled());
    for (qtl::LookupComboBox* box :
         {w()->DBLookupComboBox2, w()->DBLookupComboBox8, w()->DBLookupComboBox9, w()->DBLookupComboBox5,
          w()->DBLookupComboBox6, w()->DBLookupComboBox4, w()->DBLookupComboBox3}) {
        ASSERT_FALSE(box->isEnabled()) << qPrintable(box->objectName());
        const auto [on, off] = enabledAndDisabled(box);
        EXPECT_NE(on, off) << qPrintable(box->objectName());
    }
    // The select-all box "Студенты:" is disabled at the start: its caption is not drawn in the
    // black of an enabled one.
    auto* all = w()->CheckBox1;
    ASSERT_FALSE(all->isEnabled());
    const auto [allOn, allOff] = enabledAndDisabled(all);
    EXPECT_GT(blackPixels(allOn), blackPixels(allOff) + 20) << blackPixels(allOn) << " vs " << blackPixels(allOff);

    ASSERT_FALSE(w()->SpeedButton1->isEnabled());
    ASSERT_FALSE(w()->SpeedButton2->isEnabled());
    for (QPushButton* button : {w()->SpeedButton1, w()->SpeedButton2}) {
        const auto [on, off] = enabledAndDisabled(button);
        EXPECT_NE(on, off) << qPrintable(button->text());
    }

    // A box that shows a row draws it in navy while enabled, and not in navy while disabled.
    pickFacultyAndYear();
    auto* year = w()->DBLookupComboBox2;
    ASSERT_FALSE(year->shownText().isEmpty());
    const auto [yearOn, yearOff] = enabledAndDisabled(year);
    EXPECT_GT(navyPixels(yearOn), 20);
    EXPECT_EQ(navyPixels(yearOff), 0);
}

}  // namespace
