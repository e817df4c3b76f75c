// The student check list under the keyboard focus and the mouse buttons: only a change of the
// selected line loads a student into the transfer frame; focus alone selects nobody; the focused
// line carries a focus frame; only the left button selects.
#include "chain_helpers.h"
#include "frame_helpers.h"

#include <QImage>

using namespace qtltest::chain;

namespace {

const QString kStudentInfoHead = QStringLiteral("EXEC GetKPVStudentInfo");

class StudentListInput : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        signIn();
        if (HasFatalFailure()) return;
        qtltest::frame::chooseClass(w());
        // The form-of-control step left the group list open; it would hold the keyboard.
        for (auto* box : w()->findChildren<qtl::LookupComboBox*>()) box->closeUp();
        list = w()->CheckListBox1;
        // Focus has to be able to move for real: the window is the active one.
        w()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w(), 20000));  // generous: a loaded X server is slow
        w()->DBLookupComboBox3->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
    }
    QStringList infoRequests(int m) const { return startingWith(since(m), kStudentInfoHead); }
    QString infoFor(int student) const {
        return sent(qtltest::frame::studentInfo(student, demo::kSemesterCourse2Autumn, demo::kYearCurrent,
                                                demo::kDisciplineA, demo::kGroupOz0, demo::kDescGroupNumA,
                                                QString::number(demo::kCreditsA)));
    }
    QPoint textPointOf(int line) const {
        const QRect r = list->visualItemRect(list->item(line));
        return QPoint(r.right() - 10, r.center().y());
    }
    qtl::CheckListBox* list = nullptr;
};

TEST_F(StudentListInput, FocusMovedInByTabOrShiftTabSelectsAndLoadsNobody) {
    ASSERT_EQ(list->itemIndex(), -1);
    const int m = mark();
    for (Qt::FocusReason reason : {Qt::TabFocusReason, Qt::BacktabFocusReason}) {
        list->setFocus(reason);
        QApplication::processEvents();
        EXPECT_TRUE(list->hasFocus());
        EXPECT_EQ(list->itemIndex(), -1);
        EXPECT_EQ(list->currentRow(), -1);
        w()->DBLookupComboBox3->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
    }
    EXPECT_EQ(infoRequests(m), QStringList());
    EXPECT_EQ(w()->Frame11->Edit3->text(), QString());

    // The first Down selects the first line and loads that student, the next one the second.
    list->setFocus(Qt::TabFocusReason);
    pressKey(list, Qt::Key_Down);
    EXPECT_EQ(list->itemIndex(), 0);
    EXPECT_EQ(infoRequests(m), QStringList{infoFor(demo::kStudentAbdullaev)});
    pressKey(list, Qt::Key_Down);
    EXPECT_EQ(list->itemIndex(), 1);
    EXPECT_EQ(infoRequests(m), (QStringList{infoFor(demo::kStudentAbdullaev), infoFor(demo::kStudentBelova)}));

    // Leaving and coming back keeps the line and loads nothing again.
    w()->DBLookupComboBox3->setFocus(Qt::OtherFocusReason);
    list->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(list->itemIndex(), 1);
    EXPECT_EQ(infoRequests(m).size(), 2);
}

TEST_F(StudentListInput, TheFocusedLineCarriesAFocusFrame) {
    const int line = qtltest::frame::lineOf(w(), demo::kStudentEliseeva);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, textPointOf(line));
    QApplication::processEvents();
    ASSERT_EQ(list->itemIndex(), line);

    // The frame runs along the edges of the line's text part; the right end of the line holds
    // no text, so there its top and bottom rows are plain background unless a frame is drawn.
    const QRect r = list->visualItemRect(list->item(line));
    const QColor selected(51, 153, 255);
    auto framePixels = [&](const QImage& image) {
        int n = 0;
        for (int x = r.right() - 30; x <= r.right() - 2; ++x)
            for (int y : {r.top(), r.bottom()}) {
                const QPoint at = list->viewport()->mapTo(list, QPoint(x, y));
                if (image.pixelColor(at) != selected) ++n;
            }
        return n;
    };

    list->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    ASSERT_TRUE(list->hasFocus());
    EXPECT_GT(framePixels(list->grab().toImage()), 5);

    w()->DBLookupComboBox3->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    ASSERT_FALSE(list->hasFocus());
    EXPECT_EQ(framePixels(list->grab().toImage()), 0);
}

TEST_F(StudentListInput, RightAndMiddlePressesSelectAndLoadNobody) {
    const int third = 2;
    const int m = mark();
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        QTest::mouseClick(list->viewport(), button, Qt::NoModifier, textPointOf(third));
        QApplication::processEvents();
        EXPECT_EQ(list->itemIndex(), -1) << "button " << button;
        // On the check box part it ticks nothing either.
        const QRect r = list->visualItemRect(list->item(third));
        QTest::mouseClick(list->viewport(), button, Qt::NoModifier, QPoint(r.left() + 6, r.center().y()));
        QApplication::processEvents();
        EXPECT_FALSE(list->isChecked(third)) << "button " << button;
        EXPECT_EQ(list->itemIndex(), -1) << "button " << button;
    }
    EXPECT_EQ(infoRequests(m), QStringList());

    // With a student chosen by the left button, other buttons leave him chosen.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, textPointOf(0));
    QApplication::processEvents();
    ASSERT_EQ(list->itemIndex(), 0);
    ASSERT_EQ(infoRequests(m).size(), 1);
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        QTest::mouseClick(list->viewport(), button, Qt::NoModifier, textPointOf(third));
        QTest::mouseDClick(list->viewport(), button, Qt::NoModifier, textPointOf(third));
        QApplication::processEvents();
        EXPECT_EQ(list->itemIndex(), 0) << "button " << button;
    }
    EXPECT_EQ(infoRequests(m).size(), 1);
}

}  // namespace
