// A link dropped in the middle of a click: what was written before stays, nothing after it is
// written, the error is shown and the next action reconnects and works. (Every statement of each
// action failing or dropped in turn is the business of the fault loops.)
#include "register_helpers.h"

using namespace qtltest::reg;

namespace {

namespace demo = devserver::qtl::demo;

constexpr int kFirst = demo::kStudentEliseeva;
constexpr int kSecond = demo::kStudentZhdanov;

// ---- a link dropped in the middle of a click

class DroppedLink : public RegistrationTest {};

TEST_F(DroppedLink, RegisteringStopsWhereTheLinkBrokeAndTheNextActionWorks) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    tick(kFirst);
    tick(kSecond);
    restartServerWith(QString(), QStringLiteral("Sumkredits.*id_student=6 "));
    const int before = count(QStringLiteral("DisciplineForStudent"));
    boxes.clear();
    clickRegister();
    ASSERT_EQ(errorTexts().size(), 1) << qPrintable(boxes.texts().join('|'));
    EXPECT_GT(registrationId(kFirst, demo::kDisciplineA), 0);
    EXPECT_EQ(registrationId(kSecond, demo::kDisciplineA), 0);
    EXPECT_EQ(count(QStringLiteral("DisciplineForStudent")), before + 1);

    // Same server, same drop rule: the next action reconnects and works.
    boxes.clear();
    repick(w()->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join('|'));
    ASSERT_EQ(w()->CheckListBox1->count(), demo::kGroupOz0Students);
    EXPECT_TRUE(studentItem(lineOfStudent(kFirst))->IsSelected);
    EXPECT_FALSE(studentItem(lineOfStudent(kSecond))->IsSelected);
}

TEST_F(DroppedLink, RemovingBatchDroppedUnrunKeepsRowAndLog) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const int row = registrationId(demo::kStudentBelova, demo::kDisciplineA, 1);
    selectStreamLines({lineOfRegistration(row)});
    restartServerWith(QString(), QStringLiteral("BEGIN TRAN"));
    const int logBefore = count(QStringLiteral("QTL_LOG"));
    boxes.clear();
    clickRemove();
    ASSERT_EQ(errorTexts().size(), 1) << qPrintable(boxes.texts().join('|'));
    EXPECT_EQ(registrationId(demo::kStudentBelova, demo::kDisciplineA, 1), row);
    EXPECT_EQ(count(QStringLiteral("QTL_LOG")), logBefore);

    boxes.clear();
    repick(w()->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join('|'));
    ASSERT_EQ(w()->CheckListBox1->count(), demo::kGroupOz0Students);
    EXPECT_TRUE(studentItem(lineOfStudent(demo::kStudentBelova))->IsSelected);
}

}  // namespace
