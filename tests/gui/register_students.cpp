// "Регистрировать >>" on the real window: the exact statements of a click, the credit limits by
// form of study, the rows written, the lists rebuilt and the registration deadline.
#include "register_helpers.h"

#include "platform/ApplicationTitle.h"

using namespace qtltest::reg;

namespace {

namespace demo = devserver::qtl::demo;

constexpr int kYear = demo::kYearCurrent;
constexpr int kSem = demo::kSemesterCourse2Autumn;

// Teacher B's 6-credit row of "Базы данных": its one stream is 2.
const Class kDatabases6{
    kYear, demo::kWsAutumn, demo::kKafedraA, demo::kTeacherB, demo::kDisciplineTwoCredits, demo::kExamA, 2};
// Teacher A's "Программирование" (5 credits), first stream.
const Class kProgramming{kYear,        demo::kWsAutumn,   demo::kKafedraA, demo::kTeacherA, demo::kDisciplineA,
                         demo::kExamA, demo::kStreamNamed};

class Registering : public RegistrationTest {
protected:
    void chainToDatabases6(const QString& group) {
        openAndPick(w()->DBLookupComboBox1, QStringLiteral("Факультет информационных технологий"));
        pickInList(w()->DBLookupComboBox2, QStringLiteral("2026-2027"));
        pickInList(w()->DBLookupComboBox8, QStringLiteral("Кафедра информатики"));
        pickInList(w()->DBLookupComboBox9, QStringLiteral("Борисова Е.Н."));
        pickInList(w()->DBLookupComboBox5, QStringLiteral("Осенний"));
        // Two rows show "Базы данных": 5 credits, then 6.
        const int row = qtl::DM_MB->ADOQ_SelectDisciplineForStudent->findRow(QStringLiteral("Krdt"), 6);
        ASSERT_GE(row, 0);
        pickRow(w()->DBLookupComboBox6, row);
        pickInList(w()->DBLookupComboBox4, QStringLiteral("Экзамен"));
        pickInList(w()->DBLookupComboBox3, group);
        ASSERT_EQ(qtl::DM_MB->ADOQ_SelectDisciplineForStudent->fieldAsString(QStringLiteral("Krdt")),
                  QStringLiteral("6"));
    }

    // Gives a student credits in the registering semester of his group (another class's rows).
    void giveCredits(int student, int group, int credits) {
        server->sqliteExec(
            "INSERT INTO DisciplineForStudent (id_student, descGroupNum, id_discipline, id_a_year, "
            "id_semester, id_ins_year, id_ins_semester, id_teacher, id_group, id_examination, subGroup, "
            "QTL_user, id_faculty, id_kafedra, kredits, isByPlan, id_vid_zaniatiy) VALUES (" +
            num(student) + ", 4, " + num(demo::kDisciplineCalculus) + ", " + num(kYear) + ", " + num(kSem) + ", " +
            num(kYear) + ", " + num(kSem) + ", " + num(demo::kTeacherE) + ", " + num(group) +
            ", 1, 1, 'operator', 1, 2, " + num(credits) + ", 1, 1)");
    }

    int registrations(int discipline) const {
        return count(QStringLiteral("DisciplineForStudent"), "id_discipline = " + num(discipline));
    }
};

TEST_F(Registering, ThreeTickedSecondOverLimitWritesFirstAndThird) {
    signIn();
    chainToDatabases6(QStringLiteral("ИТ-21"));
    ASSERT_EQ(w()->DBLookupComboBox11->keyText(), QStringLiteral("2"));
    ASSERT_TRUE(w()->SpeedButton1->isEnabled());
    ASSERT_EQ(w()->SelectedInsSemesterId, num(kSem));
    ASSERT_EQ(w()->SelectedDescGroupNum, QStringLiteral("2"));  // "Базы данных" in the plan
    ASSERT_EQ(w()->SelectedIsByPlan, QStringLiteral("1"));

    // Петров holds 30 credits: 30 + 6 is over 30 + 5.
    tick(demo::kStudentEliseeva);
    tick(demo::kStudentFullCredits);
    tick(demo::kStudentYakovleva);
    const int selectedLine = lineOfStudent(demo::kStudentZhdanov);
    selectStudentLine(selectedLine);
    ASSERT_EQ(w()->CheckListBox1->itemIndex(), selectedLine);
    const int before = registrations(demo::kDisciplineTwoCredits);
    boxes.clear();
    const int m = mark();

    clickRegister();

    const Row first{demo::kStudentEliseeva, 2, kSem, demo::kGroupOz0, demo::kFacultyA, 6, 1, 1, "operator"};
    Row third = first;
    third.student = demo::kStudentYakovleva;
    const QStringList expected = {
        sent(deadlineCheck(kYear, demo::kWsAutumn, demo::kGroupOz0)),
        sent(lessonKind(kDatabases6)),
        sent(facultyLookup(kDatabases6)),
        sent(creditSum(demo::kStudentEliseeva, kSem, demo::kGroupOz0, kYear)),
        sent(insertRow(kDatabases6, first)),
        sent(creditSum(demo::kStudentFullCredits, kSem, demo::kGroupOz0, kYear)),
        sent(creditSum(demo::kStudentYakovleva, kSem, demo::kGroupOz0, kYear)),
        sent(insertRow(kDatabases6, third)),
    };
    const QStringList got = since(m);
    ASSERT_GE(got.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) EXPECT_EQ(got[i], expected[i]) << "statement " << i;
    // Then only the two lists are rebuilt: nothing more is written.
    const QStringList rest = got.mid(expected.size());
    EXPECT_TRUE(startingWith(rest, QStringLiteral("INSERT")).isEmpty());
    EXPECT_EQ(startingWith(rest, QStringLiteral(" EXEC GET_KPV_Students2")).size(), 1);
    EXPECT_EQ(startingWith(rest, QStringLiteral("SELECT g_f.id_faculty")).size(), 1);

    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].text, kOverLimitText);
    // Under the application's title (the sign-in has set it), not the notice caption.
    EXPECT_EQ(boxes.shown()[0].caption, qtl::applicationTitle());
    EXPECT_TRUE(boxes.shown()[0].caption.startsWith(QStringLiteral("QTL 33")));
    EXPECT_EQ(boxes.shown()[0].buttons, qtl::MbButtons::Ok);

    EXPECT_EQ(registrations(demo::kDisciplineTwoCredits), before + 2);
    const auto rows = server->sqlite(
        "SELECT id_student, descGroupNum, id_a_year, id_semester, id_ins_year, id_ins_semester, id_teacher, "
        "id_group, id_examination, subGroup, QTL_user, id_faculty, id_kafedra, kredits, isByPlan, "
        "id_vid_zaniatiy FROM DisciplineForStudent WHERE id_discipline = 2 AND kredits = 6 ORDER BY id_student");
    ASSERT_EQ(rows.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QStringList cells;
        for (const QVariant& v : rows[i]) cells << v.toString();
        const int student = i == 0 ? demo::kStudentEliseeva : demo::kStudentYakovleva;
        EXPECT_EQ(cells.join(QLatin1Char(',')), num(student) + ",2,15,4,15,4,2,1,1,2,operator,1,1,6,1,1");
    }

    // Both lists rebuilt: the two are registered, nothing is ticked, the same line is selected.
    auto* list = w()->CheckListBox1;
    ASSERT_EQ(list->count(), demo::kGroupOz0Students);
    for (int i = 0; i < list->count(); ++i) EXPECT_FALSE(list->isChecked(i)) << "line " << i;
    EXPECT_TRUE(studentItem(lineOfStudent(demo::kStudentEliseeva))->IsSelected);
    EXPECT_TRUE(studentItem(lineOfStudent(demo::kStudentYakovleva))->IsSelected);
    EXPECT_FALSE(studentItem(lineOfStudent(demo::kStudentFullCredits))->IsSelected);
    EXPECT_EQ(list->itemIndex(), selectedLine);
    EXPECT_GE(lineOfRegistration(registrationId(demo::kStudentEliseeva, demo::kDisciplineTwoCredits, 2)), 0);
    EXPECT_GE(lineOfRegistration(registrationId(demo::kStudentYakovleva, demo::kDisciplineTwoCredits, 2)), 0);
    EXPECT_EQ(w()->ListBox1->count(), 2);
}

TEST_F(Registering, CreditLimitBoundaryAndFormsOfStudy) {
    signIn();
    // Full time (o_z 0, limit 30): 30 held + 5 is exactly the limit with its allowance.
    chainTo(QStringLiteral("ИТ-21"));
    tick(demo::kStudentFullCredits);
    boxes.clear();
    clickRegister();
    EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join('|'));
    EXPECT_GT(registrationId(demo::kStudentFullCredits, demo::kDisciplineA), 0);
    EXPECT_EQ(server
                  ->sqliteScalar("SELECT SUM(kredits) FROM DisciplineForStudent WHERE id_student = " +
                                 num(demo::kStudentFullCredits) + " AND id_ins_semester = 4")
                  .toInt(),
              35);

    // Extramural (o_z 1, limit 25): 21 + 5 = 30 passes, 26 + 5 = 31 does not, though it would
    // pass the full-time limit.
    const int s1 = demo::kFirstStudentGroupOz1 + 1, s2 = demo::kFirstStudentGroupOz1 + 2;
    giveCredits(s1, demo::kGroupOz1, 21);
    giveCredits(s2, demo::kGroupOz1, 26);
    repick(w()->DBLookupComboBox3, QStringLiteral("ИТз-21"));
    ASSERT_EQ(w()->SelectedInsSemesterId, num(kSem));
    tick(s1);
    tick(s2);
    boxes.clear();
    int m = mark();
    clickRegister();
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].text, kOverLimitText);
    EXPECT_GT(registrationId(s1, demo::kDisciplineA), 0);
    EXPECT_EQ(registrationId(s2, demo::kDisciplineA), 0);
    EXPECT_TRUE(since(m).contains(sent(creditSum(s2, kSem, demo::kGroupOz1, kYear))));

    // Accelerated (o_z 2): never limited, whatever is held.
    const int s3 = demo::kFirstStudentGroupOz1 + demo::kStudentsPerOtherGroup;  // first of ИТу-21
    giveCredits(s3, demo::kGroupOz2, 60);
    repick(w()->DBLookupComboBox3, QStringLiteral("ИТу-21"));
    tick(s3);
    boxes.clear();
    m = mark();
    clickRegister();
    EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join('|'));
    EXPECT_GT(registrationId(s3, demo::kDisciplineA), 0);
    EXPECT_TRUE(since(m).contains(sent(creditSum(s3, kSem, demo::kGroupOz2, kYear))));
}

TEST_F(Registering, NothingTickedSendsTheLookupsAndReloads) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    selectStudentLine(2);
    const int before = count(QStringLiteral("DisciplineForStudent"));
    boxes.clear();
    const int m = mark();
    clickRegister();
    const QStringList got = since(m);
    ASSERT_GE(got.size(), 3);
    EXPECT_EQ(got.mid(0, 3), (QStringList{sent(deadlineCheck(kYear, demo::kWsAutumn, demo::kGroupOz0)),
                                          sent(lessonKind(kProgramming)), sent(facultyLookup(kProgramming))}));
    const QStringList rest = got.mid(3);
    EXPECT_TRUE(startingWith(rest, QStringLiteral("SELECT  Sum(")).isEmpty());
    EXPECT_TRUE(startingWith(rest, QStringLiteral("INSERT")).isEmpty());
    EXPECT_EQ(startingWith(rest, QStringLiteral(" EXEC GET_KPV_Students2")).size(), 1);
    EXPECT_EQ(startingWith(rest, QStringLiteral("SELECT g_f.id_faculty")).size(), 1);
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_EQ(count(QStringLiteral("DisciplineForStudent")), before);
    EXPECT_EQ(w()->CheckListBox1->itemIndex(), 2);
}

TEST_F(Registering, LoginWithAQuoteIsWrittenDoubledAndStoredOnce) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const QString saved = qtl::g_signIn.CurrentLogin;
    qtl::g_signIn.CurrentLogin = QStringLiteral("o'neil");
    tick(demo::kStudentZhdanov);
    const int m = mark();
    clickRegister();
    qtl::g_signIn.CurrentLogin = saved;
    const Row row{demo::kStudentZhdanov,
                  demo::kDescGroupNumA,
                  kSem,
                  demo::kGroupOz0,
                  demo::kFacultyA,
                  demo::kCreditsA,
                  1,
                  1,
                  "o'neil"};
    EXPECT_TRUE(since(m).contains(sent(insertRow(kProgramming, row))));
    EXPECT_TRUE(insertRow(kProgramming, row).contains(QStringLiteral(", 'o''neil',")));
    EXPECT_EQ(server
                  ->sqliteScalar("SELECT QTL_user FROM DisciplineForStudent WHERE id_student = " +
                                 num(demo::kStudentZhdanov) + " AND id_discipline = 1")
                  .toString(),
              QStringLiteral("o'neil"));
}

TEST_F(Registering, InsertKeyRegistersOnlyWhileTheButtonIsEnabled) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    tick(demo::kStudentEliseeva);
    w()->SpeedButton1->setEnabled(false);
    int m = mark();
    pressKey(w()->CheckListBox1, Qt::Key_Insert);
    EXPECT_TRUE(since(m).isEmpty());
    w()->ComboBox1111Change();  // the stream chooser holds a key: enabled again
    ASSERT_TRUE(w()->SpeedButton1->isEnabled());
    m = mark();
    pressKey(w()->CheckListBox1, Qt::Key_Insert);
    EXPECT_EQ(since(m).value(0), sent(deadlineCheck(kYear, demo::kWsAutumn, demo::kGroupOz0)));
    EXPECT_GT(registrationId(demo::kStudentEliseeva, demo::kDisciplineA), 0);
}

// ---- the registration deadline

class Deadline : public Registering {
protected:
    void setEnd(const QString& end) {
        server->sqliteExec("UPDATE V_Date_reg_DFS SET endDate = '" + end +
                           "' WHERE id_group = " + num(demo::kGroupOz0) + " AND id_a_year = " + num(kYear));
    }
};

TEST_F(Deadline, RegisteringWorksOnTheLastDayAndNotTheDayAfter) {
    setEnd(QStringLiteral("2026-10-15 00:00:00"));
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    tick(demo::kStudentEliseeva);
    {
        TodayIs day(QDate(2026, 10, 16));
        boxes.clear();
        const int m = mark();
        clickRegister();
        EXPECT_EQ(since(m), QStringList{sent(deadlineCheck(kYear, demo::kWsAutumn, demo::kGroupOz0))});
        ASSERT_EQ(boxes.shown().size(), 1);
        EXPECT_EQ(boxes.shown()[0].text, kDeadlineText);
        EXPECT_EQ(boxes.shown()[0].caption, kNotice);
        EXPECT_EQ(boxes.shown()[0].icon, qtl::MbIcon::Warning);
        EXPECT_EQ(boxes.shown()[0].buttons, qtl::MbButtons::Ok);
        EXPECT_EQ(registrationId(demo::kStudentEliseeva, demo::kDisciplineA), 0);
        EXPECT_TRUE(w()->CheckListBox1->isChecked(lineOfStudent(demo::kStudentEliseeva)));  // not reloaded
    }
    {
        TodayIs day(QDate(2026, 10, 15));
        boxes.clear();
        clickRegister();
        EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join('|'));
        EXPECT_GT(registrationId(demo::kStudentEliseeva, demo::kDisciplineA), 0);
    }
}

TEST_F(Deadline, NoPeriodRowRefuses) {
    server->sqliteExec("DELETE FROM V_Date_reg_DFS WHERE id_group = " + num(demo::kGroupOz0) +
                       " AND id_a_year = " + num(kYear) + " AND id_w_s = 1");
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    tick(demo::kStudentEliseeva);
    TodayIs day(QDate(1899, 12, 31));  // even a day after the null date is too late
    boxes.clear();
    const int m = mark();
    clickRegister();
    EXPECT_EQ(since(m), QStringList{sent(deadlineCheck(kYear, demo::kWsAutumn, demo::kGroupOz0))});
    EXPECT_EQ(boxes.texts(), QStringList{kDeadlineText});
    EXPECT_EQ(registrationId(demo::kStudentEliseeva, demo::kDisciplineA), 0);
}

TEST_F(Deadline, ClosedGroupRefusesWithToday) {
    signIn();
    openAndPick(w()->DBLookupComboBox1, QStringLiteral("Экономический факультет"));
    pickInList(w()->DBLookupComboBox2, QStringLiteral("2026-2027"));
    pickInList(w()->DBLookupComboBox8, QStringLiteral("Кафедра информатики"));
    pickInList(w()->DBLookupComboBox9, QStringLiteral("Абрамов А.В."));
    pickInList(w()->DBLookupComboBox5, QStringLiteral("Осенний"));
    pickInList(w()->DBLookupComboBox6, QStringLiteral("Программирование"));
    pickInList(w()->DBLookupComboBox4, QStringLiteral("Экзамен"));
    pickInList(w()->DBLookupComboBox3, QStringLiteral("ЭК-22"));
    ASSERT_GT(w()->CheckListBox1->count(), 0);
    tick(static_cast<const qtl::StudentItem*>(w()->CheckListBox1->record(0))->id_student);
    boxes.clear();
    const int before = count(QStringLiteral("DisciplineForStudent"));
    clickRegister();
    EXPECT_EQ(boxes.texts(), QStringList{kDeadlineText});
    EXPECT_EQ(count(QStringLiteral("DisciplineForStudent")), before);
}

}  // namespace
