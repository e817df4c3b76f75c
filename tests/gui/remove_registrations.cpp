// "<< Убрать регистр." on the real window: confirmation, rights by faculty, lines from the last
// to the first, each DELETE with its audit row in one transaction, the refused-lines message
// and the reload.
#include "register_helpers.h"

using namespace qtltest::reg;

namespace {

namespace demo = devserver::qtl::demo;

constexpr int kYear = demo::kYearCurrent;
const QString kTeacherName = QStringLiteral("Абрамов А.В.");
const QString kDisciplineName = QStringLiteral("Программирование");
// The window's selection after chainTo("ИТ-21").
const Selection kSelection{demo::kFacultyA,    kYear,           demo::kKafedraA, demo::kTeacherA, demo::kWsAutumn,
                           demo::kDisciplineA, demo::kCreditsA, demo::kExamA,    demo::kGroupOz0, demo::kStreamNamed};

class Removing : public RegistrationTest {
protected:
    // A registration of a student of another faculty (ФЛ-21) in stream 1, as another workstation
    // would have written it; listed right after the ИТ-21 lines of stream 1.
    int addForeignRegistration(int student) {
        server->sqliteExec(
            "INSERT INTO DisciplineForStudent (id_student, descGroupNum, id_discipline, id_a_year, "
            "id_semester, id_ins_year, id_ins_semester, id_teacher, id_group, id_examination, subGroup, "
            "QTL_user, id_faculty, id_kafedra, kredits, isByPlan, id_vid_zaniatiy) VALUES (" +
            num(student) + ", 1, 1, 15, 4, 15, 4, 1, " + num(demo::kGroupC) + ", 1, 1, 'operator2', 3, 1, 5, 1, 1)");
        return registrationId(student, demo::kDisciplineA, 1);
    }
    int auditRows() const { return count(QStringLiteral("QTL_LOG")); }
    int studentOf(int line) const {
        return static_cast<const qtl::StreamItem*>(w()->ListBox1->record(line))->id_student;
    }
    int registrationOf(int line) const {
        return static_cast<const qtl::StreamItem*>(w()->ListBox1->record(line))->id_disciplineForStudent;
    }
};

TEST_F(Removing, MiddleLineOfAnotherFacultyIsRefusedTheOthersDeletedAndLogged) {
    const int foreign = addForeignRegistration(demo::kFirstStudentGroupC + 2);
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const int smirnova = registrationId(demo::kStudentSmirnova, demo::kDisciplineA);
    const int volkov = registrationId(demo::kStudentVolkov, demo::kDisciplineA);
    const int lineS = lineOfRegistration(smirnova), lineF = lineOfRegistration(foreign),
              lineV = lineOfRegistration(volkov);
    ASSERT_EQ(lineF, lineS + 1);
    ASSERT_EQ(lineV, lineF + 1);
    const QString foreignText = w()->ListBox1->lineText(lineF);
    selectStudentLine(4);
    selectStreamLines({lineS, lineF, lineV});
    ASSERT_EQ(selectedStreamLines(), (QList<int>{lineS, lineF, lineV}));
    const int logBefore = auditRows();
    boxes.clear();
    const int m = mark();

    clickRemove();

    const QString login = qtl::g_signIn.CurrentLogin;
    const QStringList expected = {
        sent(deadlineCheck(kYear, demo::kWsAutumn, demo::kGroupOz0)),
        removalBatch(kSelection, demo::kStudentVolkov, volkov, login, comp()),
        removalBatch(kSelection, demo::kStudentSmirnova, smirnova, login, comp()),
    };
    const QStringList got = since(m);
    ASSERT_GE(got.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) EXPECT_EQ(got[i], expected[i]) << "batch " << i;
    EXPECT_TRUE(startingWith(got.mid(expected.size()), QStringLiteral("SET XACT_ABORT")).isEmpty());
    EXPECT_EQ(startingWith(got.mid(expected.size()), QStringLiteral("SELECT g_f.id_faculty")).size(), 1);

    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[0].text, confirmation(kTeacherName, kDisciplineName));
    EXPECT_EQ(boxes.shown()[0].caption, kNotice);
    EXPECT_EQ(boxes.shown()[0].icon, qtl::MbIcon::Question);
    EXPECT_EQ(boxes.shown()[0].buttons, qtl::MbButtons::YesNo);
    EXPECT_EQ(boxes.shown()[1].text, QStringLiteral("Вы не имеете право удалять данных студентов:\r\"") + foreignText +
                                         QStringLiteral("\".\r\n"));
    EXPECT_EQ(boxes.shown()[1].caption, kNotice);
    EXPECT_EQ(boxes.shown()[1].icon, qtl::MbIcon::Warning);
    EXPECT_EQ(boxes.shown()[1].buttons, qtl::MbButtons::Ok);

    EXPECT_EQ(registrationId(demo::kStudentSmirnova, demo::kDisciplineA), 0);
    EXPECT_EQ(registrationId(demo::kStudentVolkov, demo::kDisciplineA), 0);
    EXPECT_EQ(registrationId(demo::kFirstStudentGroupC + 2, demo::kDisciplineA), foreign);
    ASSERT_EQ(auditRows(), logBefore + 2);
    const auto log = server->sqlite(QStringLiteral(
        "SELECT \"table\", row_id, descr, QTL_User, comp FROM QTL_LOG ORDER BY id_QTL_LOG DESC LIMIT 2"));
    ASSERT_EQ(log.size(), 2);
    const int order[2][2] = {{demo::kStudentSmirnova, smirnova}, {demo::kStudentVolkov, volkov}};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(log[i][0].toString(), QStringLiteral("DisciplineForStudent"));
        EXPECT_EQ(log[i][1].toInt(), order[i][1]);
        EXPECT_EQ(log[i][2].toString(), storedDescr(kSelection, order[i][0], order[i][1]));
        EXPECT_EQ(log[i][3].toString(), login);
        EXPECT_EQ(log[i][4].toString(), comp());
    }

    // Lists rebuilt: the two students are no longer registered, the same line is selected.
    EXPECT_EQ(lineOfRegistration(smirnova), -1);
    EXPECT_EQ(lineOfRegistration(volkov), -1);
    EXPECT_GE(lineOfRegistration(foreign), 0);
    EXPECT_FALSE(studentItem(lineOfStudent(demo::kStudentSmirnova))->IsSelected);
    EXPECT_FALSE(studentItem(lineOfStudent(demo::kStudentVolkov))->IsSelected);
    EXPECT_TRUE(studentItem(lineOfStudent(demo::kStudentBelova))->IsSelected);
    EXPECT_EQ(w()->CheckListBox1->itemIndex(), 4);
}

TEST_F(Removing, TwoRefusedLinesAreListedLowestFirstAndNothingIsReloaded) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const int r1 = registrationId(demo::kFirstStudentGroupC, demo::kDisciplineA);
    const int r2 = registrationId(demo::kFirstStudentGroupC + 1, demo::kDisciplineA);
    const int l1 = lineOfRegistration(r1), l2 = lineOfRegistration(r2);
    ASSERT_GE(l1, 0);
    ASSERT_GE(l2, 0);
    const int upper = qMin(l1, l2), lower = qMax(l1, l2);
    selectStreamLines({upper, lower});
    const int lines = w()->ListBox1->count();
    const int before = count(QStringLiteral("DisciplineForStudent"));
    boxes.clear();
    const int m = mark();
    clickRemove();
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[1].text, QStringLiteral("Вы не имеете право удалять данных студентов:\r\"") +
                                         w()->ListBox1->lineText(lower) + QStringLiteral("\",\r\n\"") +
                                         w()->ListBox1->lineText(upper) + QStringLiteral("\".\r\n"));
    EXPECT_EQ(count(QStringLiteral("DisciplineForStudent")), before);
    const QStringList got = since(m);
    EXPECT_EQ(got.value(0), sent(deadlineCheck(kYear, demo::kWsAutumn, demo::kGroupOz0)));
    EXPECT_TRUE(startingWith(got, QStringLiteral("SET XACT_ABORT")).isEmpty());
    EXPECT_TRUE(startingWith(got, QStringLiteral("SELECT g_f.id_faculty")).isEmpty());  // not reloaded
    EXPECT_EQ(w()->ListBox1->count(), lines);
    EXPECT_EQ(selectedStreamLines(), (QList<int>{upper, lower}));
}

TEST_F(Removing, NoInTheConfirmationChangesNothing) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    selectStreamLines({0, 1});
    const int before = count(QStringLiteral("DisciplineForStudent"));
    const int logBefore = auditRows();
    boxes.clear();
    boxes.answerNext(qtl::MbResult::No);
    const int m = mark();
    clickRemove();
    EXPECT_EQ(since(m), QStringList{sent(deadlineCheck(kYear, demo::kWsAutumn, demo::kGroupOz0))});
    EXPECT_EQ(boxes.texts(), QStringList{confirmation(kTeacherName, kDisciplineName)});
    EXPECT_EQ(count(QStringLiteral("DisciplineForStudent")), before);
    EXPECT_EQ(auditRows(), logBefore);
}

TEST_F(Removing, DeleteKeyRemovesOnlyWhileTheButtonIsEnabled) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const int row = registrationOf(0);
    selectStreamLines({0});
    w()->SpeedButton2->setEnabled(false);
    int m = mark();
    pressKey(w()->ListBox1, Qt::Key_Delete);
    EXPECT_TRUE(since(m).isEmpty());
    w()->SpeedButton2->setEnabled(true);
    boxes.clear();
    pressKey(w()->ListBox1, Qt::Key_Delete);
    EXPECT_EQ(boxes.shown().value(0).text, confirmation(kTeacherName, kDisciplineName));
    EXPECT_EQ(
        server->sqliteScalar("SELECT COUNT(*) FROM DisciplineForStudent WHERE id_disciplineForStudent = " + num(row))
            .toInt(),
        0);
}

TEST_F(Removing, DeadlineIsTestedBeforeTheConfirmation) {
    server->sqliteExec(
        "UPDATE V_Date_reg_DFS SET endDate = '2026-10-15 00:00:00' WHERE id_group = 1 AND "
        "id_a_year = 15");
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const int row = registrationOf(0), student = studentOf(0);
    selectStreamLines({0});
    {
        TodayIs day(QDate(2026, 10, 16));
        boxes.clear();
        const int m = mark();
        clickRemove();
        EXPECT_EQ(boxes.texts(), QStringList{kDeadlineText});
        EXPECT_EQ(since(m), QStringList{sent(deadlineCheck(kYear, demo::kWsAutumn, demo::kGroupOz0))});
    }
    {
        TodayIs day(QDate(2026, 10, 15));
        boxes.clear();
        const int m = mark();
        clickRemove();
        EXPECT_EQ(boxes.texts(), QStringList{confirmation(kTeacherName, kDisciplineName)});
        EXPECT_TRUE(since(m).contains(removalBatch(kSelection, student, row, qtl::g_signIn.CurrentLogin, comp())));
        EXPECT_EQ(
            server
                ->sqliteScalar("SELECT COUNT(*) FROM DisciplineForStudent WHERE id_disciplineForStudent = " + num(row))
                .toInt(),
            0);
    }
}

// The audit row cannot be written: the deletion is undone with it, the operator reads the
// server's text, and nothing else has changed.
TEST_F(Removing, AuditFailureKeepsTheRegistration) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const int row = registrationId(demo::kStudentBelova, demo::kDisciplineA);
    const int line = lineOfRegistration(row);
    ASSERT_GE(line, 0);
    const int lines = w()->ListBox1->count();
    restartServerWith(QStringLiteral("INSERT INTO QTL_LOG"));
    selectStreamLines({line});
    const int before = count(QStringLiteral("DisciplineForStudent"));
    const int logBefore = auditRows();
    boxes.clear();
    const int m = mark();
    clickRemove();
    const QStringList got = since(m);
    ASSERT_EQ(got.size(), 3);
    EXPECT_EQ(got[1], removalBatch(kSelection, demo::kStudentBelova, row, qtl::g_signIn.CurrentLogin, comp()));
    EXPECT_EQ(got[2], kEndTransaction);
    EXPECT_EQ(registrationId(demo::kStudentBelova, demo::kDisciplineA), row);
    EXPECT_EQ(count(QStringLiteral("DisciplineForStudent")), before);
    EXPECT_EQ(auditRows(), logBefore);
    ASSERT_EQ(errorTexts().size(), 1);
    EXPECT_TRUE(errorTexts()[0].startsWith(QStringLiteral("Injected failure: INSERT"))) << qPrintable(errorTexts()[0]);
    EXPECT_EQ(w()->ListBox1->count(), lines);  // the click ended: no reload
}

}  // namespace
