// The selection chain on the real window against the demo data: each pick by mouse or keyboard,
// the enabled states after it, the list that opens, and the exact statements sent.
#include "chain_helpers.h"
#include "Unit2.h"

using namespace qtltest::chain;

namespace {

class SelectionChain : public MainWindowTest {
protected:
    // Enabled states of the eight chain selectors, top to bottom.
    QString enabledChain() const {
        QString s;
        for (auto* b : {w()->DBLookupComboBox1, w()->DBLookupComboBox2, w()->DBLookupComboBox8, w()->DBLookupComboBox9,
                        w()->DBLookupComboBox5, w()->DBLookupComboBox6, w()->DBLookupComboBox4, w()->DBLookupComboBox3})
            s += b->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        return s;
    }
    // Which selector of the window has its drop-down list open ("" for none).
    QString openList() const {
        QString names;
        for (auto* b : w()->findChildren<qtl::LookupComboBox*>())
            if (b->isDroppedDown()) names += b->objectName();
        return names;
    }
    // Enabled states of DBLookupComboBox11, SpeedButton1, SpeedButton2, CheckBox1.
    QString otherControls() const {
        QString s;
        for (QWidget* c : {static_cast<QWidget*>(w()->DBLookupComboBox11), static_cast<QWidget*>(w()->SpeedButton1),
                           static_cast<QWidget*>(w()->SpeedButton2), static_cast<QWidget*>(w()->CheckBox1)})
            s += c->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        return s;
    }
};

QString subGroupStatement(int year, int kafedra, int teacher, int discipline, int exam, int credits, int ws) {
    const QStringList lines = {
        "SELECT DISTINCT subgroup,cast(subgroup as varchar) +' - ['+dop_potokname+']' as subgroupAndName",
        " FROM dbo.RRNKkrdt LEFT OUTER JOIN",
        "                      dbo.educ_sh ON dbo.RRNKkrdt.id_a_year = dbo.educ_sh.id_a_year AND "
        "dbo.RRNKkrdt.id_discipline = dbo.educ_sh.id_discipline AND ",
        "                      dbo.RRNKkrdt.id_kafedra = dbo.educ_sh.id_kafedra",
        " WHERE RRNKkrdt.id_a_year=" + num(year) + " AND",
        "       RRNKkrdt.id_kafedra=" + num(kafedra) + " AND",
        "       RRNKkrdt.id_teacher=" + num(teacher) + " AND",
        "       RRNKkrdt.id_discipline=" + num(discipline) + " AND",
        "       RRNKkrdt.id_examination=" + num(exam) + " AND",
        "       RRNKkrdt.kredit=" + num(credits) + " AND",
        "       RRNKkrdt.id_w_s=" + num(ws) + " AND",
        "       RRNKkrdt.prov_reyt>0 AND",
        "       (",
        "          ((RRNKkrdt.id_vid_zaniatiy = 1) ) OR",
        "          ((RRNKkrdt.id_vid_zaniatiy = 2) AND (educ_sh.p53 > 0)) OR",
        "          ((RRNKkrdt.id_vid_zaniatiy = 3) AND (educ_sh.p52 > 0)) OR",
        "          ((RRNKkrdt.id_vid_zaniatiy = 4) AND (educ_sh.srs > 0))   OR",
        "          (RRNKkrdt.id_vid_zaniatiy = 5) OR",
        "          (RRNKkrdt.id_vid_zaniatiy = 6)",
        "       )"};
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

QString subGroup3Statement(int year, int kafedra, int teacher, int discipline, int exam, int oz, int ws) {
    const QStringList lines = {"SELECT DISTINCT subgroup",
                               "  FROM dbo.RRNKkrdt",
                               " WHERE id_a_year=" + num(year) + " AND",
                               "       id_kafedra=" + num(kafedra) + " AND",
                               "       id_teacher=" + num(teacher) + " AND",
                               "       id_discipline=" + num(discipline) + " AND",
                               "       id_examination=" + num(exam) + " AND",
                               "       id_o_z=" + num(oz) + " AND",
                               "       id_w_s=" + num(ws)};
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

TEST_F(SelectionChain, WholeChainByMouseFromFacultyToGroup) {
    signIn();
    auto* f = w();
    EXPECT_EQ(enabledChain(), QStringLiteral("10000000"));

    int m = mark();
    openAndPick(f->DBLookupComboBox1, QStringLiteral("Факультет информационных технологий"));
    EXPECT_EQ(enabledChain(), QStringLiteral("11000000"));
    EXPECT_EQ(openList(), QStringLiteral("DBLookupComboBox2"));
    EXPECT_EQ(otherControls(), QStringLiteral("0000"));
    EXPECT_EQ(
        since(m),
        QStringList{QStringLiteral(
            "SELECT DISTINCT [id_a_year], [year]\r\n  FROM VSelForKPV\r\nwhere id_a_year>10\r\nORDER BY [year]\r\n")});

    m = mark();
    pickInList(f->DBLookupComboBox2, QStringLiteral("2026-2027"));
    EXPECT_EQ(enabledChain(), QStringLiteral("11100000"));
    EXPECT_EQ(openList(), QStringLiteral("DBLookupComboBox8"));
    ASSERT_EQ(since(m).size(), 1);
    EXPECT_TRUE(since(m)[0].contains(QStringLiteral("HAVING      (dbo.RRNKkrdt.id_a_year = 15)\r\n")));

    m = mark();
    pickInList(f->DBLookupComboBox8, QStringLiteral("Кафедра информатики"));
    EXPECT_EQ(enabledChain(), QStringLiteral("11110000"));
    EXPECT_EQ(openList(), QStringLiteral("DBLookupComboBox9"));
    EXPECT_EQ(since(m), QStringList{sent(teacherList(15, demo::kKafedraA))});
    EXPECT_EQ(f->DBLookupComboBox9->count(), 3);

    m = mark();
    pickInList(f->DBLookupComboBox9, QStringLiteral("Абрамов А.В."));
    EXPECT_EQ(enabledChain(), QStringLiteral("11111000"));
    EXPECT_EQ(openList(), QStringLiteral("DBLookupComboBox5"));
    EXPECT_EQ(since(m), QStringList{sent(termKinds())});
    EXPECT_EQ(f->DBLookupComboBox5->palette().color(QPalette::Base),
              f->DBLookupComboBox2->palette().color(QPalette::Base));  // not grey yet

    m = mark();
    pickInList(f->DBLookupComboBox5, QStringLiteral("Осенний"));
    EXPECT_EQ(enabledChain(), QStringLiteral("11111100"));
    EXPECT_EQ(openList(), QStringLiteral("DBLookupComboBox6"));
    EXPECT_EQ(since(m), QStringList{sent(disciplines(15, 1, demo::kKafedraA, demo::kTeacherA))});
    EXPECT_TRUE(f->CheckBox2->isChecked());
    EXPECT_FALSE(f->CheckBox2->isVisible());
    EXPECT_FALSE(f->DBLookupComboBox7->isVisible());
    EXPECT_TRUE(f->DBLookupComboBox7->isEnabled());
    EXPECT_EQ(f->DBLookupComboBox7->keyValue().toInt(), demo::kWsAutumn);
    EXPECT_EQ(f->DBLookupComboBox5->palette().color(QPalette::Base), f->palette().color(QPalette::Button));
    EXPECT_EQ(f->DBLookupComboBox7->palette().color(QPalette::Base), QColor(Qt::white));

    m = mark();
    pickInList(f->DBLookupComboBox6, QStringLiteral("Программирование"));
    EXPECT_EQ(enabledChain(), QStringLiteral("11111110"));
    EXPECT_EQ(openList(), QStringLiteral("DBLookupComboBox4"));
    EXPECT_EQ(since(m), QStringList{sent(examinations(demo::kKafedraA, 15, demo::kTeacherA, demo::kDisciplineA, 1))});

    m = mark();
    pickInList(f->DBLookupComboBox4, QStringLiteral("Экзамен"));
    EXPECT_EQ(enabledChain(), QStringLiteral("11111111"));
    EXPECT_EQ(openList(), QStringLiteral("DBLookupComboBox3"));
    EXPECT_EQ(otherControls(), QStringLiteral("0000"));
    EXPECT_EQ(since(m),
              (QStringList{sent(groupsOther(demo::kFacultyA, 15, 1)),
                           sent(streamsList(15, demo::kDisciplineA, demo::kExamA, 5, byKind(1), demo::kTeacherA))}));
    EXPECT_GT(f->ListBox1->count(), 0);

    m = mark();
    pickInList(f->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    EXPECT_EQ(enabledChain(), QStringLiteral("11111111"));
    EXPECT_EQ(openList(), QString());
    EXPECT_EQ(otherControls(), QStringLiteral("1111"));
    const QStringList groupStep = since(m);
    const QStringList expected = {
        sent(topSemester(demo::kGroupOz0, 15, 1)),
        sent(descGroupNum(15, 1, demo::kKafedraA, demo::kGroupOz0, demo::kDisciplineA, demo::kExamA)),
        sent(studentsB(demo::kGroupOz0, demo::kDisciplineA, 15, demo::kDescGroupNumA, demo::kExamA, 1, 5,
                       demo::kUserOperator)),
        subGroupStatement(15, demo::kKafedraA, demo::kTeacherA, demo::kDisciplineA, demo::kExamA, 5, 1),
        subGroup3Statement(15, demo::kKafedraA, demo::kTeacherA, demo::kDisciplineA, demo::kExamA, 0, 1),
        sent(formOfStudy(demo::kGroupOz0))};
    EXPECT_EQ(groupStep, expected);
    EXPECT_EQ(f->SelectedInsSemesterId, QString::number(demo::kSemesterCourse2Autumn));
    EXPECT_EQ(f->SelectedDescGroupNum, QString::number(demo::kDescGroupNumA));
    EXPECT_EQ(f->SelectedIsByPlan, QStringLiteral("1"));
    EXPECT_EQ(f->CheckListBox1->count(), demo::kGroupOz0Students);
    EXPECT_EQ(f->CheckBox1->text(), QStringLiteral("Студенты - [10]:"));
    EXPECT_EQ(f->DBLookupComboBox11->keyValue().toInt(), demo::kStreamNamed);
    EXPECT_EQ(f->DBLookupComboBox11->shownText(), QStringLiteral("1 - [ИТ-21, ИТ-22]"));
    EXPECT_EQ(f->Label12->text(), QStringLiteral("Форма обучение: Очная"));
}

TEST_F(SelectionChain, KindOfTermThreeListsEveryGroupAndUsesTheFirstStudentProcedure) {
    signIn();
    chainTo(QString(), QStringLiteral("Учебная практика"), QStringLiteral("Летний"), QStringLiteral("Абрамов А.В."),
            QStringLiteral("Зачёт"));
    const QStringList groups = startingWith(server->batches(), QStringLiteral(" SELECT     dbo.g_r_y"));
    ASSERT_EQ(groups.size(), 1);
    EXPECT_EQ(groups[0], sent(groupsKind3(15, demo::kFacultyA)));
    EXPECT_EQ(w()->DBLookupComboBox3->count(), 5);  // every group of faculty A

    const int m = mark();
    pickInList(w()->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    // Kind 3 takes statement A although the discipline is in the plan.
    EXPECT_EQ(w()->SelectedDescGroupNum, QString::number(demo::kDescGroupNumSummer));
    EXPECT_EQ(startingWith(since(m), QStringLiteral(" EXEC GET_KPV")),
              QStringList{sent(studentsA(demo::kGroupOz0, demo::kDisciplineSummer, 15, demo::kExamCredit, 3, 2,
                                         demo::kUserOperator))});
}

TEST_F(SelectionChain, DisciplineOutsideThePlanUsesTheFirstStudentProcedure) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"), QStringLiteral("Философия науки"), QStringLiteral("Осенний"),
            QStringLiteral("Абрамов А.В."), QStringLiteral("Зачёт"));
    EXPECT_EQ(w()->SelectedDescGroupNum, QStringLiteral("-1"));
    EXPECT_EQ(w()->SelectedIsByPlan, QStringLiteral("0"));
    EXPECT_EQ(startingWith(server->batches(), QStringLiteral(" EXEC GET_KPV")),
              QStringList{sent(studentsA(demo::kGroupOz0, demo::kDisciplineNotInPlan, 15, demo::kExamCredit, 1, 3,
                                         demo::kUserOperator))});
    EXPECT_EQ(w()->CheckListBox1->count(), demo::kGroupOz0Students);
}

TEST_F(SelectionChain, GroupWithoutSpecialityShowsNoFormOfStudy) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    EXPECT_EQ(w()->Label12->text(), QStringLiteral("Форма обучение: Очная"));
    const int m = mark();
    openAndPick(w()->DBLookupComboBox3, QStringLiteral("ИТ-23"));
    EXPECT_EQ(since(m).last(), sent(formOfStudy(demo::kGroupNoGs)));
    EXPECT_EQ(w()->Label12->text(), QStringLiteral("Форма обучение: "));
    EXPECT_EQ(w()->SelectedDescGroupNum, QStringLiteral("-1"));  // no plan for that group
    EXPECT_EQ(w()->SelectedIsByPlan, QStringLiteral("0"));
}

TEST_F(SelectionChain, SameFacultyAgainEmptiesEverythingBelowWithoutReadingTheYears) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* f = w();
    ASSERT_EQ(f->CheckListBox1->count(), demo::kGroupOz0Students);
    // Put something into the transfer frame so that its emptying shows.
    f->Frame11->Edit3->setText(QStringLiteral("Программирование"));
    f->Frame11->BitBtn1->setEnabled(true);

    const int m = mark();
    openAndPick(f->DBLookupComboBox1, QStringLiteral("Факультет информационных технологий"));
    EXPECT_EQ(since(m), QStringList());  // the year list is read once per run
    EXPECT_EQ(enabledChain(), QStringLiteral("11000000"));
    EXPECT_EQ(openList(), QStringLiteral("DBLookupComboBox2"));
    EXPECT_EQ(otherControls(), QStringLiteral("0000"));
    for (auto* b : {f->DBLookupComboBox2, f->DBLookupComboBox8, f->DBLookupComboBox9, f->DBLookupComboBox5,
                    f->DBLookupComboBox6, f->DBLookupComboBox4, f->DBLookupComboBox3, f->DBLookupComboBox11})
        EXPECT_FALSE(b->hasKey()) << qPrintable(b->objectName());
    EXPECT_EQ(f->CheckListBox1->count(), 0);
    EXPECT_EQ(f->ListBox1->count(), 0);
    EXPECT_TRUE(f->Frame11->Edit3->text().isEmpty());
    EXPECT_FALSE(f->Frame11->BitBtn1->isEnabled());
    EXPECT_FALSE(f->Frame11->DBLookupComboBox9->hasKey());
    EXPECT_EQ(f->CheckBox1->text(), QStringLiteral("Студенты - [10]:"));  // caption of the last load
}

TEST_F(SelectionChain, ChangingTheTeacherKeepsTheClassAndReloadsStreams) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* f = w();
    const QStringList studentsBefore = lines(f->CheckListBox1);
    const QVariant term = f->DBLookupComboBox5->keyValue(), disc = f->DBLookupComboBox6->keyValue(),
                   exam = f->DBLookupComboBox4->keyValue(), group = f->DBLookupComboBox3->keyValue();

    const int m = mark();
    openAndPick(f->DBLookupComboBox9, QStringLiteral("Борисова Е.Н."));
    const QStringList expected = {
        sent(termKinds()),
        subGroupStatement(15, demo::kKafedraA, demo::kTeacherB, demo::kDisciplineA, demo::kExamA, 5, 1),
        subGroup3Statement(15, demo::kKafedraA, demo::kTeacherB, demo::kDisciplineA, demo::kExamA, 0, 1),
        sent(streamsList(15, demo::kDisciplineA, demo::kExamA, 5, byKind(1), demo::kTeacherB))};
    EXPECT_EQ(since(m), expected);
    EXPECT_EQ(f->DBLookupComboBox5->keyValue(), term);
    EXPECT_EQ(f->DBLookupComboBox6->keyValue(), disc);
    EXPECT_EQ(f->DBLookupComboBox4->keyValue(), exam);
    EXPECT_EQ(f->DBLookupComboBox3->keyValue(), group);
    EXPECT_EQ(lines(f->CheckListBox1), studentsBefore);
    EXPECT_EQ(openList(), QString());  // the kind of term is held: its list stays closed
    EXPECT_EQ(f->ListBox1->count(), 0);  // Борисова teaches no programming
    EXPECT_FALSE(f->DBLookupComboBox11->hasKey());
    EXPECT_FALSE(f->SpeedButton1->isEnabled());
}

TEST_F(SelectionChain, AStepWithoutRowsStillOpensTheNextEmptyList) {
    signIn();
    openAndPick(w()->DBLookupComboBox1, QStringLiteral("Факультет информационных технологий"));
    pickInList(w()->DBLookupComboBox2, QStringLiteral("2027-2028"));  // no classes that year
    EXPECT_EQ(enabledChain(), QStringLiteral("11100000"));
    EXPECT_EQ(w()->DBLookupComboBox8->count(), 0);
    EXPECT_FALSE(w()->DBLookupComboBox8->hasKey());
    // Nothing to pick: the department list offers no row and the chain goes no further.
    pressKey(w()->DBLookupComboBox8, Qt::Key_Down);
    EXPECT_FALSE(w()->DBLookupComboBox8->hasKey());
    EXPECT_FALSE(w()->DBLookupComboBox9->isEnabled());
}

TEST_F(SelectionChain, FormOfControlStepKeepsTheRemoveButton) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* f = w();
    ASSERT_TRUE(f->SpeedButton2->isEnabled());
    openAndPick(f->DBLookupComboBox4, QStringLiteral("Экзамен"));
    EXPECT_TRUE(f->SpeedButton2->isEnabled());
    EXPECT_FALSE(f->SpeedButton1->isEnabled());
    EXPECT_FALSE(f->CheckBox1->isEnabled());
    EXPECT_FALSE(f->DBLookupComboBox11->isEnabled());
    EXPECT_FALSE(f->DBLookupComboBox3->hasKey());
    EXPECT_TRUE(f->DBLookupComboBox3->isEnabled());
    EXPECT_EQ(f->CheckListBox1->count(), 0);
    EXPECT_GT(f->ListBox1->count(), 0);  // reloaded, not cleared
}

TEST_F(SelectionChain, KeyboardPicksOnClosedSelectorsRunTheSteps) {
    signIn();
    auto* f = w();
    openAndPick(f->DBLookupComboBox1, QStringLiteral("Факультет информационных технологий"));
    f->DBLookupComboBox2->closeUp();
    f->DBLookupComboBox2->setFocus();
    int m = mark();
    typeText(f->DBLookupComboBox2, QStringLiteral("2026"));
    EXPECT_EQ(f->DBLookupComboBox2->keyValue().toInt(), demo::kYearCurrent);
    EXPECT_EQ(openList(), QStringLiteral("DBLookupComboBox8"));
    // "2", "20", "202" pick 2025-2026 (the step runs each time), "2026" reaches 2026-2027.
    const QStringList years = startingWith(since(m), QStringLiteral("SELECT     dbo.kafedra"));
    ASSERT_EQ(years.size(), 4);
    EXPECT_TRUE(years[2].contains(QStringLiteral("HAVING      (dbo.RRNKkrdt.id_a_year = 14)\r\n")));
    EXPECT_TRUE(years[3].contains(QStringLiteral("HAVING      (dbo.RRNKkrdt.id_a_year = 15)\r\n")));

    f->DBLookupComboBox8->closeUp();
    m = mark();
    pressKey(f->DBLookupComboBox8, Qt::Key_Down);  // no key held: the first row
    EXPECT_EQ(f->DBLookupComboBox8->shownText(), QStringLiteral("Кафедра высшей математики"));
    EXPECT_EQ(since(m), QStringList{sent(teacherList(15, demo::kKafedraB))});

    f->DBLookupComboBox9->closeUp();
    pressKey(f->DBLookupComboBox9, Qt::Key_Down);
    pressKey(f->DBLookupComboBox9, Qt::Key_Down);
    EXPECT_EQ(f->DBLookupComboBox9->keyValue().toInt(), demo::kTeacherYo);
    m = mark();
    pressKey(f->DBLookupComboBox9, Qt::Key_Up);
    EXPECT_EQ(f->DBLookupComboBox9->keyValue().toInt(), demo::kTeacherE);
    EXPECT_EQ(since(m), QStringList{sent(termKinds())});
    // The same department picked again from the keyboard runs its step again.
    f->DBLookupComboBox5->closeUp();
    m = mark();
    typeText(f->DBLookupComboBox8, QStringLiteral("Кафедра и"));
    // Each typed letter picks the first matching row: eight times the department already held
    // (each pick runs the step again), then the ninth letter reaches "Кафедра информатики".
    const QStringList typed = since(m);
    ASSERT_EQ(typed.size(), 9);
    EXPECT_EQ(typed.first(), sent(teacherList(15, demo::kKafedraB)));
    EXPECT_EQ(typed.last(), sent(teacherList(15, demo::kKafedraA)));
    EXPECT_EQ(f->DBLookupComboBox8->keyValue().toInt(), demo::kKafedraA);
    EXPECT_FALSE(f->DBLookupComboBox9->hasKey());
    EXPECT_FALSE(f->DBLookupComboBox5->isEnabled());
}

class SelectionChainFaults : public SelectionChain {
protected:
    void SetUp() override {
        options.failOn = QStringLiteral("SP_Qtl33GetDisciplines");
        SelectionChain::SetUp();
    }
};

TEST_F(SelectionChainFaults, ServerErrorShowsItsTextKeepsTheResetsAndTheWindowGoesOn) {
    signIn();
    auto* f = w();
    openAndPick(f->DBLookupComboBox1, QStringLiteral("Факультет информационных технологий"));
    pickInList(f->DBLookupComboBox2, QStringLiteral("2026-2027"));
    pickInList(f->DBLookupComboBox8, QStringLiteral("Кафедра информатики"));
    pickInList(f->DBLookupComboBox9, QStringLiteral("Абрамов А.В."));
    boxes.clear();
    pickInList(f->DBLookupComboBox5, QStringLiteral("Осенний"));
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("Injected failure: EXEC SP_Qtl33GetDisciplines")))
        << qPrintable(boxes.shown()[0].text);
    EXPECT_FALSE(boxes.shown()[0].text.contains(QStringLiteral("[FreeTDS]")));
    EXPECT_EQ(enabledChain(), QStringLiteral("11111000"));  // the resets stay, nothing after the error
    EXPECT_EQ(openList(), QString());
    EXPECT_FALSE(f->CheckBox2->isChecked());

    // The window goes on: another department still lists its teachers.
    const int m = mark();
    openAndPick(f->DBLookupComboBox8, QStringLiteral("Кафедра высшей математики"));
    EXPECT_EQ(since(m), QStringList{sent(teacherList(15, demo::kKafedraB))});
    EXPECT_EQ(openList(), QStringLiteral("DBLookupComboBox9"));
    EXPECT_EQ(f->DBLookupComboBox9->count(), 3);
    EXPECT_EQ(boxes.shown().size(), 1);
}

}  // namespace

namespace {

class GroupStepFault : public qtltest::chain::MainWindowTest {
protected:
    void SetUp() override {
        options.failOn = QStringLiteral("SP_GetDescGroupNumOfDiscipline");
        MainWindowTest::SetUp();
    }
};

TEST_F(GroupStepFault, PlanNumberErrorLeavesTheListEmptyAndTheCaptionAsItWas) {
    signIn();
    chainTo();
    auto* f = w();
    boxes.clear();
    const int m = mark();
    pickInList(f->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_TRUE(
        boxes.shown()[0].text.startsWith(QStringLiteral("Injected failure: Exec SP_GetDescGroupNumOfDiscipline")))
        << qPrintable(boxes.shown()[0].text);
    // The step ended inside the student list: no students, no stream choices, no form of study.
    const QStringList sentNow = since(m);
    ASSERT_EQ(sentNow.size(), 2);
    EXPECT_EQ(sentNow[0], sent(topSemester(demo::kGroupOz0, 15, 1)));
    EXPECT_EQ(f->SelectedInsSemesterId, QString::number(demo::kSemesterCourse2Autumn));
    EXPECT_EQ(f->CheckListBox1->count(), 0);
    EXPECT_EQ(f->CheckBox1->text(), QStringLiteral("Студенты:"));
    EXPECT_TRUE(f->CheckBox1->isEnabled());
    EXPECT_TRUE(f->SpeedButton2->isEnabled());
    EXPECT_FALSE(f->SpeedButton1->isEnabled());
    EXPECT_FALSE(f->DBLookupComboBox11->hasKey());
    EXPECT_TRUE(f->Label12->text().isEmpty());

    // Still usable: the form of control step runs again and lists the groups.
    const int m2 = mark();
    openAndPick(f->DBLookupComboBox4, QStringLiteral("Экзамен"));
    EXPECT_EQ(since(m2).first(), sent(groupsOther(demo::kFacultyA, 15, 1)));
    EXPECT_TRUE(f->DBLookupComboBox3->isDroppedDown());
    EXPECT_EQ(boxes.shown().size(), 1);
}

}  // namespace
