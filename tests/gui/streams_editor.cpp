// The streams list and the stream editor: lines of several groups, the editor opened by a right
// click with a selection, a teacher picked in it, and "Изменить" writing one UPDATE per line.
#include "chain_helpers.h"

using namespace qtltest::chain;

namespace {

class StreamsEditor : public MainWindowTest {
protected:
    QRect lineRect(int index) const { return w()->ListBox1->visualItemRect(w()->ListBox1->item(index)); }
    void clickLine(int index, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::mouseClick(w()->ListBox1->viewport(), Qt::LeftButton, mods, lineRect(index).center());
        QApplication::processEvents();
    }
    void rightClickLine(int index) {
        QTest::mouseClick(w()->ListBox1->viewport(), Qt::RightButton, Qt::NoModifier, lineRect(index).center());
        QApplication::processEvents();
    }
    int registrationOf(int index) const {
        const auto* item = dynamic_cast<const qtl::StreamItem*>(w()->ListBox1->record(index));
        return item ? item->id_disciplineForStudent : -1;
    }
};

TEST_F(StreamsEditor, ListsRegistrationsOfSeveralGroupsByStream) {
    signIn();
    chainTo();
    auto* list = w()->ListBox1;
    ASSERT_GT(list->count(), 3);
    QSet<QString> groups;
    int lastStream = 0;
    for (int i = 0; i < list->count(); ++i) {
        const QString text = list->lineText(i);
        const int p = text.indexOf(QStringLiteral("п ("));
        ASSERT_GT(p, 0) << qPrintable(text);
        const int stream = text.left(p).toInt();
        EXPECT_GE(stream, lastStream) << "ordered by stream";
        lastStream = stream;
        groups.insert(text.mid(p + 3, text.indexOf(QLatin1Char(')'), p) - p - 3));
        const auto* item = dynamic_cast<const qtl::StreamItem*>(list->record(i));
        ASSERT_TRUE(item);
        EXPECT_GT(item->id_disciplineForStudent, 0);
        EXPECT_GT(item->id_student, 0);
        EXPECT_GT(item->id_faculty, 0);
    }
    EXPECT_TRUE(groups.contains(QStringLiteral("ИТ-21")));
    EXPECT_GE(groups.size(), 3);
    EXPECT_TRUE(list->lineText(0).startsWith(QStringLiteral("1п (ИТ-21) - ")));
    EXPECT_EQ(w()->GroupBox2->title(), QStringLiteral("Студенты по потокам - [%1]:").arg(list->count()));
    // One line per registration row of the class, whatever the group.
    const int rows =
        server
            ->sqliteScalar(QStringLiteral(
                "SELECT COUNT(*) FROM DisciplineForStudent d JOIN semester s ON s.id_semester = d.id_ins_semester "
                "WHERE d.id_ins_year = 15 AND d.id_discipline = 1 AND d.id_examination = 1 AND d.kredits = 5 "
                "AND s.id_w_s = 1 AND d.id_teacher = 1"))
            .toInt();
    EXPECT_EQ(list->count(), rows);
}

TEST_F(StreamsEditor, RightClickOpensTheEditorOnlyWithASelection) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* f = w();
    ASSERT_GT(f->ListBox1->count(), 2);
    f->ListBox1->clearSelection();
    rightClickLine(0);
    EXPECT_FALSE(f->Panel4->isVisible());

    clickLine(0);
    clickLine(1, Qt::ControlModifier);
    ASSERT_EQ(f->ListBox1->selectedCount(), 2);
    const int m = mark();
    rightClickLine(0);
    EXPECT_TRUE(f->Panel4->isVisible());
    EXPECT_EQ(f->Panel4->geometry(), f->GroupBox2->contentsRect());
    EXPECT_EQ(f->ListBox1->selectedCount(), 2);
    EXPECT_FALSE(f->DBLookupComboBox12->hasKey());
    EXPECT_EQ(f->DBLookupComboBox10->keyValue(), f->DBLookupComboBox9->keyValue());
    EXPECT_EQ(f->DBLookupComboBox10->shownText(), QStringLiteral("Абрамов А.В."));
    EXPECT_FALSE(f->BitBtn1->isEnabled());
    EXPECT_EQ(f->focusWidget(), f->DBLookupComboBox12);
    EXPECT_EQ(since(m), QStringList());  // opening reloads nothing

    // "x" closes it and leaves the selection.
    QTest::mouseClick(f->SpeedButton3, Qt::LeftButton);
    EXPECT_FALSE(f->Panel4->isVisible());
    EXPECT_FALSE(f->DBLookupComboBox10->hasKey());
    EXPECT_EQ(f->ListBox1->selectedCount(), 2);

    // Any chain step hides the editor.
    rightClickLine(0);
    ASSERT_TRUE(f->Panel4->isVisible());
    openAndPick(f->DBLookupComboBox4, QStringLiteral("Экзамен"));
    EXPECT_FALSE(f->Panel4->isVisible());
}

// The editor works on the lines selected before the right press; the press must not select the
// line under the mouse.
TEST_F(StreamsEditor, RightPressNeverChangesTheSelectedLines) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* f = w();
    ASSERT_GT(f->ListBox1->count(), 2);

    f->ListBox1->clearSelection();
    rightClickLine(1);
    EXPECT_EQ(f->ListBox1->selectedCount(), 0);
    EXPECT_FALSE(f->Panel4->isVisible());

    clickLine(0);
    ASSERT_EQ(f->ListBox1->selectedCount(), 1);
    rightClickLine(2);
    EXPECT_TRUE(f->Panel4->isVisible());
    EXPECT_EQ(f->ListBox1->selectedCount(), 1);
    EXPECT_TRUE(f->ListBox1->isSelected(0));
    EXPECT_FALSE(f->ListBox1->isSelected(2));

    // "Изменить" then moves only line 0's registration.
    const int moved = registrationOf(0);
    const int untouched = registrationOf(2);
    const int m = mark();
    f->DBLookupComboBox12->setFocus();
    pressKey(f->DBLookupComboBox12, Qt::Key_Down);
    ASSERT_TRUE(f->BitBtn1->isEnabled());
    QTest::mouseClick(f->BitBtn1, Qt::LeftButton);
    const QStringList updates = startingWith(since(m), QStringLiteral("UPDATE "));
    ASSERT_EQ(updates.size(), 1);
    EXPECT_TRUE(updates[0].contains("(id_disciplineForStudent = " + num(moved) + ")"));
    EXPECT_FALSE(updates[0].contains("(id_disciplineForStudent = " + num(untouched) + ")"));
}

TEST_F(StreamsEditor, ATeacherPickedInTheEditorReloadsItsStreams) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* f = w();
    clickLine(0);
    rightClickLine(0);
    ASSERT_TRUE(f->Panel4->isVisible());
    f->DBLookupComboBox12->setFocus();
    pressKey(f->DBLookupComboBox12, Qt::Key_Down);
    ASSERT_TRUE(f->DBLookupComboBox12->hasKey());
    EXPECT_TRUE(f->BitBtn1->isEnabled());

    const int m = mark();
    openAndPick(f->DBLookupComboBox10, QStringLiteral("Борисова Е.Н."));
    const QStringList sentNow = since(m);
    ASSERT_EQ(sentNow.size(), 1);
    EXPECT_TRUE(sentNow[0].startsWith(QStringLiteral("SELECT DISTINCT subgroup\r\n  FROM dbo.RRNKkrdt\r\n")));
    EXPECT_TRUE(sentNow[0].contains(QStringLiteral("       id_teacher=2 AND\r\n")));
    EXPECT_TRUE(sentNow[0].contains(QStringLiteral("       id_discipline=1 AND\r\n")));
    EXPECT_FALSE(f->DBLookupComboBox12->hasKey());
    EXPECT_FALSE(f->BitBtn1->isEnabled());
    EXPECT_EQ(f->DBLookupComboBox9->keyValue().toInt(), demo::kTeacherA);  // main teacher kept
}

TEST_F(StreamsEditor, ChangeWritesOneUpdatePerSelectedLineAndRebuildsOnlyTheStreams) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* f = w();
    ASSERT_GE(f->ListBox1->count(), 4);
    clickLine(0);
    clickLine(1, Qt::ControlModifier);
    clickLine(3, Qt::ControlModifier);
    const QVector<int> ids = {registrationOf(0), registrationOf(1), registrationOf(3)};
    const QStringList studentsBefore = lines(f->CheckListBox1);
    rightClickLine(0);
    ASSERT_TRUE(f->Panel4->isVisible());

    openAndPick(f->DBLookupComboBox12, QStringLiteral("4"));
    ASSERT_TRUE(f->BitBtn1->isEnabled());
    // Enter walks stream -> teacher -> "Изменить" while it is enabled.
    f->DBLookupComboBox12->setFocus();
    pressKey(f->DBLookupComboBox12, Qt::Key_Return);
    EXPECT_EQ(f->focusWidget(), f->DBLookupComboBox10);
    pressKey(f->DBLookupComboBox10, Qt::Key_Return);
    EXPECT_EQ(f->focusWidget(), f->BitBtn1);

    const int m = mark();
    QTest::mouseClick(f->BitBtn1, Qt::LeftButton);
    QApplication::processEvents();
    const QStringList sentNow = since(m);
    ASSERT_EQ(sentNow.size(), 4) << qPrintable(sentNow.join(QStringLiteral("\n")));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(sentNow[i], sent(QStringLiteral("UPDATE DisciplineForStudent SET subGroup = 4,  id_teacher = 1 "
                                                  "WHERE (id_disciplineForStudent = %1)")
                                       .arg(ids[i])));
    EXPECT_EQ(sentNow[3], sent(streamsList(15, demo::kDisciplineA, demo::kExamA, 5, byKind(1), demo::kTeacherA)));
    EXPECT_FALSE(f->Panel4->isVisible());
    EXPECT_EQ(lines(f->CheckListBox1), studentsBefore);
    for (int id : ids)
        EXPECT_EQ(server
                      ->sqliteScalar(QStringLiteral("SELECT subGroup FROM DisciplineForStudent "
                                                    "WHERE id_disciplineForStudent = %1")
                                         .arg(id))
                      .toInt(),
                  4);
    int moved = 0;
    for (int i = 0; i < f->ListBox1->count(); ++i)
        if (ids.contains(registrationOf(i))) {
            ++moved;
            EXPECT_TRUE(f->ListBox1->lineText(i).startsWith(QStringLiteral("4п (")))
                << qPrintable(f->ListBox1->lineText(i));
        }
    EXPECT_EQ(moved, 3);
}

TEST_F(StreamsEditor, StreamChooserFollowsTheTeacher) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* f = w();
    EXPECT_TRUE(f->DBLookupComboBox11->hasKey());
    EXPECT_TRUE(f->SpeedButton1->isEnabled());
    // Picking another stream keeps the button enabled.
    openAndPick(f->DBLookupComboBox11, QStringLiteral("3 - [Заочники]"));
    EXPECT_EQ(f->DBLookupComboBox11->keyValue().toInt(), demo::kStreamExtramural);
    EXPECT_TRUE(f->SpeedButton1->isEnabled());
    // A teacher without streams for the class leaves the chooser empty and the button disabled.
    openAndPick(f->DBLookupComboBox9, QStringLiteral("Гусев П.И."));
    EXPECT_FALSE(f->DBLookupComboBox11->hasKey());
    EXPECT_FALSE(f->SpeedButton1->isEnabled());
    openAndPick(f->DBLookupComboBox9, QStringLiteral("Абрамов А.В."));
    EXPECT_EQ(f->DBLookupComboBox11->keyValue().toInt(), demo::kStreamNamed);
    EXPECT_TRUE(f->SpeedButton1->isEnabled());
}

TEST_F(StreamsEditor, DeleteKeyStartsRemovalOnlyWhileTheButtonIsEnabled) {
    signIn();
    chainTo();  // form of control chosen, no group: "<< Убрать регистр." disabled
    ASSERT_FALSE(w()->SpeedButton2->isEnabled());
    clickLine(0);
    const int m = mark();
    pressKey(w()->ListBox1, Qt::Key_Delete);
    EXPECT_EQ(since(m), QStringList());
    EXPECT_TRUE(boxes.shown().isEmpty());
}

}  // namespace
