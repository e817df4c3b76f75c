// The student check list as the operator sees and uses it: line colours sampled from the drawn
// list, the refused tick of a registered student, select-all and the count caption.
#include "chain_helpers.h"

#include <QImage>

using namespace qtltest::chain;

namespace {

class StudentList : public MainWindowTest {
protected:
    int row(const QString& name) const {
        for (int i = 0; i < w()->CheckListBox1->count(); ++i)
            if (w()->CheckListBox1->lineText(i) == name) return i;
        ADD_FAILURE() << "no line " << qPrintable(name);
        return -1;
    }
    // The colour of a line's text part, sampled right of any text.
    QColor lineColour(const QImage& image, int index) const {
        auto* list = w()->CheckListBox1;
        const QRect r = list->visualItemRect(list->item(index));
        const QPoint at = list->viewport()->mapTo(list, QPoint(r.right() - 4, r.center().y()));
        return image.pixelColor(at);
    }
    QImage grabList() const { return w()->CheckListBox1->grab().toImage(); }
    void clickCheckBoxOf(int index) {
        auto* list = w()->CheckListBox1;
        const QRect r = list->visualItemRect(list->item(index));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(r.left() + 6, r.center().y()));
        QApplication::processEvents();
    }
    void clickTextOf(int index) {
        auto* list = w()->CheckListBox1;
        const QRect r = list->visualItemRect(list->item(index));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(r.center().x(), r.center().y()));
        QApplication::processEvents();
    }
    const QString kAbdullaev = QStringLiteral("Абдуллаев Тимур Русланович");
    const QString kEliseeva = QStringLiteral("Елисеева Дарья Андреевна");
    const QString kSmirnova = QStringLiteral("Смирнова Алина Викторовна");
    const QString kAlready = QStringLiteral("Данный студент уже назначен на дисциплину.");
};

TEST_F(StudentList, LinesAreColouredByRegistrationAndSelection) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* list = w()->CheckListBox1;
    ASSERT_EQ(list->count(), demo::kGroupOz0Students);
    for (int i = 0; i < list->count(); ++i) EXPECT_EQ(list->visualItemRect(list->item(i)).height(), 13);

    QImage image = grabList();
    // Registered by this operator (IsTeacher set), by another operator, and not registered.
    EXPECT_EQ(lineColour(image, row(kAbdullaev)), QColor(185, 255, 185));
    EXPECT_EQ(lineColour(image, row(kSmirnova)), QColor(213, 232, 45));
    EXPECT_EQ(lineColour(image, row(kEliseeva)), list->palette().color(QPalette::Base));

    clickTextOf(row(kSmirnova));
    ASSERT_EQ(list->itemIndex(), row(kSmirnova));
    image = grabList();
    EXPECT_EQ(lineColour(image, row(kSmirnova)), QColor(51, 153, 255));
    EXPECT_EQ(lineColour(image, row(kAbdullaev)), QColor(185, 255, 185));

    // The text is centred in the 13-pixel line: some ink of the text colour lies in it.
    const QRect r = list->visualItemRect(list->item(row(kEliseeva)));
    bool ink = false;
    for (int y = r.top(); y <= r.bottom() && !ink; ++y)
        for (int x = r.left() + 20; x < r.left() + 80 && !ink; ++x)
            ink =
                image.pixelColor(list->viewport()->mapTo(list, QPoint(x, y))) != list->palette().color(QPalette::Base);
    EXPECT_TRUE(ink);
}

TEST_F(StudentList, ARegisteredStudentRefusesTheTickByMouseAndBySpace) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* list = w()->CheckListBox1;
    boxes.clear();
    const int a = row(kAbdullaev);
    clickCheckBoxOf(a);
    EXPECT_FALSE(list->isChecked(a));
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].text, kAlready);
    EXPECT_EQ(boxes.shown()[0].caption, QStringLiteral("Уведомление"));
    EXPECT_EQ(boxes.shown()[0].icon, qtl::MbIcon::Warning);
    EXPECT_EQ(boxes.shown()[0].buttons, qtl::MbButtons::Ok);

    const int s = row(kSmirnova);
    clickTextOf(s);
    boxes.clear();
    pressKey(list, Qt::Key_Space);
    EXPECT_FALSE(list->isChecked(s));
    EXPECT_EQ(boxes.texts(), QStringList{kAlready});

    // An unregistered student takes the tick, by mouse and by space.
    boxes.clear();
    const int e = row(kEliseeva);
    clickCheckBoxOf(e);
    EXPECT_TRUE(list->isChecked(e));
    pressKey(list, Qt::Key_Space);
    EXPECT_FALSE(list->isChecked(e));
    pressKey(list, Qt::Key_Space);
    EXPECT_TRUE(list->isChecked(e));
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(StudentList, SelectAllTicksOnlyUnregisteredStudents) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* list = w()->CheckListBox1;
    QTest::mouseClick(w()->CheckBox1, Qt::LeftButton, Qt::NoModifier, QPoint(6, w()->CheckBox1->height() / 2));
    ASSERT_TRUE(w()->CheckBox1->isChecked());
    int ticked = 0;
    for (int i = 0; i < list->count(); ++i) {
        const auto* item = dynamic_cast<const qtl::StudentItem*>(list->record(i));
        ASSERT_TRUE(item);
        EXPECT_EQ(list->isChecked(i), !item->IsSelected) << qPrintable(list->lineText(i));
        ticked += list->isChecked(i);
    }
    EXPECT_GT(ticked, 0);
    EXPECT_LT(ticked, list->count());
    QTest::mouseClick(w()->CheckBox1, Qt::LeftButton, Qt::NoModifier, QPoint(6, w()->CheckBox1->height() / 2));
    for (int i = 0; i < list->count(); ++i) EXPECT_FALSE(list->isChecked(i));
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(StudentList, RecordsCarryTheServerColumns) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* list = w()->CheckListBox1;
    const auto* a = dynamic_cast<const qtl::StudentItem*>(list->record(row(kAbdullaev)));
    const auto* s = dynamic_cast<const qtl::StudentItem*>(list->record(row(kSmirnova)));
    const auto* e = dynamic_cast<const qtl::StudentItem*>(list->record(row(kEliseeva)));
    ASSERT_TRUE(a && s && e);
    EXPECT_EQ(a->id_student, demo::kStudentAbdullaev);
    EXPECT_TRUE(a->IsSelected && a->IsTeacher);
    EXPECT_EQ(s->id_student, demo::kStudentSmirnova);
    EXPECT_TRUE(s->IsSelected && !s->IsTeacher);
    EXPECT_EQ(e->id_student, demo::kStudentEliseeva);
    EXPECT_FALSE(e->IsSelected || e->IsTeacher);
}

TEST_F(StudentList, AGroupWithoutStudentsCountsZero) {
    signIn();
    openAndPick(w()->DBLookupComboBox1, QStringLiteral("Экономический факультет"));
    pickInList(w()->DBLookupComboBox2, QStringLiteral("2026-2027"));
    pickInList(w()->DBLookupComboBox8, QStringLiteral("Кафедра экономической теории"));
    pickInList(w()->DBLookupComboBox9, QStringLiteral("Кузнецова М.И."));
    pickInList(w()->DBLookupComboBox5, QStringLiteral("Осенний"));
    pickInList(w()->DBLookupComboBox6, QStringLiteral("Экономическая теория"));
    pickInList(w()->DBLookupComboBox4, QStringLiteral("Экзамен"));
    pickInList(w()->DBLookupComboBox3, QStringLiteral("ЭК-23"));
    EXPECT_EQ(w()->CheckListBox1->count(), 0);
    EXPECT_EQ(w()->CheckBox1->text(), QStringLiteral("Студенты - [0]:"));
    EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join(QStringLiteral("\n")));
}

TEST_F(StudentList, SelectingALineLoadsThatStudentIntoTheTransferFrame) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* list = w()->CheckListBox1;
    const QString head = QStringLiteral("EXEC GetKPVStudentInfo");
    int m = mark();
    clickTextOf(row(kEliseeva));
    QStringList loads = startingWith(since(m), head);
    ASSERT_EQ(loads.size(), 1);
    EXPECT_TRUE(loads[0].contains(QStringLiteral("@id_student = %1 ").arg(demo::kStudentEliseeva)))
        << qPrintable(loads[0]);
    EXPECT_TRUE(loads[0].contains(QStringLiteral("@id_semester = %1 ").arg(demo::kSemesterCourse2Autumn)));
    // The arrow keys load each newly selected student.
    m = mark();
    pressKey(list, Qt::Key_Down);
    loads = startingWith(since(m), head);
    ASSERT_EQ(loads.size(), 1);
    EXPECT_TRUE(loads[0].contains(QStringLiteral("@id_student = %1 ").arg(demo::kStudentTwoGroups)));
    EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join(QStringLiteral("\n")));
}

TEST_F(StudentList, SelectingALineWithoutARegisteringSemesterShowsTheConversionError) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    w()->SelectedInsSemesterId.clear();  // as after a group step that found no semester
    boxes.clear();
    const int m = mark();
    clickTextOf(row(kEliseeva));
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("'' is not a valid integer value")});
    EXPECT_EQ(since(m), QStringList());  // the frame is not loaded
}

TEST_F(StudentList, InsertRegistersOnlyWhileTheButtonIsEnabled) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* list = w()->CheckListBox1;
    // With the register button disabled, Insert sends nothing.
    w()->SpeedButton1->setEnabled(false);
    clickTextOf(row(kEliseeva));
    const int m = mark();
    pressKey(list, Qt::Key_Insert);
    EXPECT_EQ(since(m), QStringList());
    EXPECT_TRUE(boxes.shown().isEmpty());
}

}  // namespace
