// The transfer frame against qtl-devserver: loading a clicked student's registration, moving it
// with "Применить", and the copy button, with exact statements and the database state.
#include "DevServer.h"
#include "SignIn.h"
#include "frame_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace qtltest::frame;
using qtltest::DevServer;
using qtltest::MessageRecorder;

namespace {

const QString kDeadlineHead = QStringLiteral("Select id_a_year, id_w_s, id_f_educ, endDate");
const QString kReloadHead = QStringLiteral("Exec SP_GetDescGroupNumOfDiscipline");

QString applyStatement(const QString& teacher, const QString& stream, const QString& year, const QString& semester,
                       int student, int discipline) {
    return QStringLiteral(
               "UPDATE DisciplineForStudent SET id_teacher = %1, subGroup = %2, id_a_year = %3, "
               "id_semester = %4 WHERE   id_student = %5 AND id_ins_year = %6 AND id_examination = %7 "
               "AND id_ins_semester = %8 AND descGroupNum = %9 AND id_discipline = %10")
        .arg(teacher, stream, year, semester)
        .arg(student)
        .arg(demo::kYearCurrent)
        .arg(demo::kExamA)
        .arg(demo::kSemesterCourse2Autumn)
        .arg(demo::kDescGroupNumA)
        .arg(discipline);
}

QString copyStatement(int stream, int student, int disciplineCondition) {
    return QStringLiteral(
               "UPDATE DisciplineForStudent SET id_teacher = %1, subGroup = %2, id_semester = %3, "
               "id_discipline = %4, id_a_year = %5, id_examination = %6, descGroupNum = %7, "
               "id_ins_year = %5, kredits = %8, id_ins_semester = %3 WHERE   id_student = %9 AND "
               "id_ins_year = %5 AND id_ins_semester = %3 AND descGroupNum = %7 AND id_discipline = %10")
        .arg(demo::kTeacherA)
        .arg(stream)
        .arg(demo::kSemesterCourse2Autumn)
        .arg(demo::kDisciplineA)
        .arg(demo::kYearCurrent)
        .arg(demo::kExamA)
        .arg(demo::kDescGroupNumA)
        .arg(demo::kCreditsA)
        .arg(student)
        .arg(disciplineCondition);
}

class TransferFrame : public ::testing::Test {
protected:
    void SetUp() override { start({}); }
    void start(const DevServer::Options& options) {
        server = std::make_unique<DevServer>(options);
        server->start();
        form = qtltest::openMainWindow(*server, QStringLiteral("operator"), QStringLiteral("operator"));
        ASSERT_TRUE(form);
        form->show();
        chooseClass(form.get());
        frame = form->Frame11;
    }
    void TearDown() override {
        qtl::TForm1::Today = [] { return QDate::currentDate(); };
    }

    // The student's registration of the chosen discipline: teacher, stream, year, semester.
    QVector<QVariant> registration(int student, int discipline = demo::kDisciplineA) const {
        const auto rows = server->sqlite(
            QStringLiteral("SELECT id_teacher, subGroup, id_a_year, id_semester FROM DisciplineForStudent "
                           "WHERE id_student = %1 AND id_discipline = %2 AND id_ins_year = %3")
                .arg(student)
                .arg(discipline)
                .arg(demo::kYearCurrent));
        return rows.isEmpty() ? QVector<QVariant>() : rows[0];
    }
    QVector<int> ints(const QVector<QVariant>& row) const {
        QVector<int> out;
        for (const QVariant& v : row) out << v.toInt();
        return out;
    }
    QDate deadline() const {
        return server
            ->sqliteScalar(QStringLiteral("SELECT endDate FROM V_Date_reg_DFS WHERE id_a_year = %1 AND "
                                          "id_w_s = %2 AND id_group = %3")
                               .arg(demo::kYearCurrent)
                               .arg(demo::kWsAutumn)
                               .arg(demo::kGroupOz0))
            .toDate();
    }
    void clickStudent(int student) {
        const int line = lineOf(form.get(), student);
        ASSERT_GE(line, 0);
        clickLine(form.get(), line);
        ASSERT_EQ(form->CheckListBox1->itemIndex(), line);
    }
    void expectBlank() {
        EXPECT_FALSE(frame->DBLookupComboBox8->hasKey());
        EXPECT_FALSE(frame->DBLookupComboBox9->hasKey());
        EXPECT_FALSE(frame->DBLookupComboBox11->hasKey());
        EXPECT_TRUE(frame->Edit3->text().isEmpty());
        EXPECT_FALSE(frame->BitBtn1->isEnabled());
        EXPECT_EQ(frame->RegDisciplineId, 0);
        EXPECT_EQ(frame->RegExaminationId, 0);
    }

    std::unique_ptr<DevServer> server;
    MessageRecorder boxes;
    decltype(qtltest::openMainWindow(std::declval<DevServer&>(), QString(), QString())) form{};
    qtl::TFrame1* frame = nullptr;
};

TEST_F(TransferFrame, LaidOutAlongTheBottomWithHiddenYearAndSemester) {
    EXPECT_EQ(frame->height(), 127);
    EXPECT_EQ(frame->geometry().bottom(), form->height() - 1);
    EXPECT_EQ(frame->DBLookupComboBox8->geometry().topLeft(), QPoint(130, 6));
    EXPECT_EQ(frame->DBLookupComboBox9->geometry().topLeft(), QPoint(131, 34));
    EXPECT_EQ(frame->Edit3->geometry().topLeft(), QPoint(6, 74));
    EXPECT_EQ(frame->BitBtn1->geometry(), QRect(425, 100, 112, 24));
    EXPECT_EQ(frame->BitBtn2->geometry(), QRect(7, 5, 30, 27));
    EXPECT_EQ(frame->BitBtn2->toolTip(), QStringLiteral("Скопировать текущие параметры"));
    EXPECT_EQ(frame->BitBtn1->text(), QStringLiteral("Применить"));
    EXPECT_EQ(frame->Label9->text(), QStringLiteral("Кафедра:"));
    EXPECT_EQ(frame->Label10->text(), QStringLiteral("Преподаватель:"));
    EXPECT_TRUE(frame->Label1->font().underline());
    EXPECT_TRUE(frame->DBLookupComboBox8->isReadOnly());
    EXPECT_TRUE(frame->Edit3->isReadOnly());
    EXPECT_FALSE(frame->DBLookupComboBox111->isVisible());
    EXPECT_FALSE(frame->DBLookupComboBox121->isVisible());
    EXPECT_FALSE(frame->Label2->isVisible());
    EXPECT_FALSE(frame->Label4->isVisible());
    EXPECT_TRUE(frame->DBLookupComboBox9->isVisible());
    EXPECT_FALSE(frame->BitBtn1->isEnabled());
    EXPECT_TRUE(frame->BitBtn2->isEnabled());
}

TEST_F(TransferFrame, ClickingStudentsLoadsTheirRegistrations) {
    int mark = server->logMark();
    clickStudent(demo::kStudentAbdullaev);
    const QStringList sentNow = server->batchesSince(mark);
    ASSERT_FALSE(sentNow.isEmpty());
    EXPECT_EQ(sentNow[0], sent(studentInfo(demo::kStudentAbdullaev, demo::kSemesterCourse2Autumn, demo::kYearCurrent,
                                           demo::kDisciplineA, demo::kGroupOz0, demo::kDescGroupNumA,
                                           QString::number(demo::kCreditsA))));
    EXPECT_TRUE(sentNow.contains(
        sent(QStringLiteral("SELECT id_teacher, t_fio FROM dbo.GetTFIO_with_pps(4, %1)").arg(demo::kKafedraA))));
    EXPECT_EQ(frame->DBLookupComboBox8->shownText(), QStringLiteral("Кафедра информатики"));
    EXPECT_EQ(frame->DBLookupComboBox9->shownText(), QStringLiteral("Абрамов А.В."));
    EXPECT_EQ(frame->Edit3->text(), QStringLiteral("Программирование"));
    EXPECT_EQ(frame->DBLookupComboBox11->keyValue().toInt(), demo::kStreamNamed);
    EXPECT_EQ(frame->DBLookupComboBox11->shownText(), QString::number(demo::kStreamNamed));
    EXPECT_EQ(frame->DBLookupComboBox111->keyValue().toInt(), demo::kYearCurrent);
    EXPECT_EQ(frame->DBLookupComboBox121->keyValue().toInt(), demo::kSemesterCourse2Autumn);
    EXPECT_TRUE(frame->BitBtn1->isEnabled());
    EXPECT_EQ(frame->StudentId, demo::kStudentAbdullaev);
    EXPECT_EQ(frame->InsYearId, demo::kYearCurrent);
    EXPECT_EQ(frame->ExaminationId, demo::kExamA);
    EXPECT_EQ(frame->InsSemesterId, demo::kSemesterCourse2Autumn);
    EXPECT_EQ(frame->RegDisciplineId, demo::kDisciplineA);
    EXPECT_EQ(frame->RegExaminationId, demo::kExamA);
    EXPECT_FALSE(qtl::DM_MB->ADOQ_Exec->isOpen());

    // The arrow keys load each newly selected student.
    form->CheckListBox1->setFocus();
    int line = form->CheckListBox1->itemIndex();
    for (int step = 0; step < 3; ++step) {
        mark = server->logMark();
        QTest::keyClick(form->CheckListBox1, Qt::Key_Down);
        ASSERT_EQ(form->CheckListBox1->itemIndex(), ++line);
        const auto* item = dynamic_cast<qtl::StudentItem*>(form->CheckListBox1->record(line));
        ASSERT_TRUE(item);
        const QStringList infos = server->batchesSince(mark).filter(QStringLiteral("GetKPVStudentInfo"));
        ASSERT_EQ(infos.size(), 1);
        EXPECT_TRUE(
            infos[0].startsWith(QStringLiteral("EXEC GetKPVStudentInfo   @id_student = %1 ,").arg(item->id_student)));
        EXPECT_EQ(frame->StudentId, item->id_student);
        if (item->id_student == demo::kStudentVolkov) {
            EXPECT_EQ(frame->DBLookupComboBox11->keyValue().toInt(), demo::kStreamUnnamed);
        }
        if (item->id_student == demo::kStudentEliseeva) expectBlank();
    }
    EXPECT_TRUE(boxes.shown().isEmpty()) << boxes.texts().join(QStringLiteral("|")).toStdString();
}

TEST_F(TransferFrame, UnregisteredStudentLeavesTheFrameBlankUntilRegistered) {
    clickStudent(demo::kStudentAbdullaev);
    clickStudent(demo::kStudentEliseeva);
    expectBlank();
    EXPECT_FALSE(qtl::DM_MB->ADOQ_SubGroup2->isOpen());

    // Registering her through the main window reselects her line and shows the new registration.
    const int line = form->CheckListBox1->itemIndex();
    form->CheckListBox1->setChecked(line, true);
    ASSERT_TRUE(form->SpeedButton1->isEnabled());
    form->SpeedButton1->click();
    ASSERT_EQ(registration(demo::kStudentEliseeva).size(), 4);
    EXPECT_EQ(form->CheckListBox1->itemIndex(), line);
    EXPECT_EQ(frame->StudentId, demo::kStudentEliseeva);
    EXPECT_EQ(frame->Edit3->text(), QStringLiteral("Программирование"));
    EXPECT_EQ(frame->DBLookupComboBox11->keyValue(), form->DBLookupComboBox11->keyValue());
    EXPECT_TRUE(frame->BitBtn1->isEnabled());
}

TEST_F(TransferFrame, DepartmentOutsideTheListAndTeacherOutsideTheStaff) {
    server->sqliteExec(QStringLiteral("UPDATE DisciplineForStudent SET id_kafedra = %1 WHERE id_student = %2")
                           .arg(demo::kKafedraNoClasses)
                           .arg(demo::kStudentAbdullaev));
    clickStudent(demo::kStudentAbdullaev);
    // Held but not in the main window's department list: empty text, its teachers listed.
    EXPECT_EQ(frame->DBLookupComboBox8->keyValue().toInt(), demo::kKafedraNoClasses);
    EXPECT_TRUE(frame->DBLookupComboBox8->shownText().isEmpty());
    EXPECT_GE(qtl::DM_MB->ADOQ_Teacher2->findRow(QStringLiteral("id_teacher"), demo::kTeacherSport), 0);

    // A teacher who is not staff of the department: empty text, written back unchanged.
    server->sqliteExec(
        QStringLiteral("UPDATE DisciplineForStudent SET id_kafedra = %1, id_teacher = %2 WHERE id_student = %3")
            .arg(demo::kKafedraA)
            .arg(demo::kTeacherGuest)
            .arg(demo::kStudentBelova));
    clickStudent(demo::kStudentBelova);
    EXPECT_EQ(frame->DBLookupComboBox9->keyValue().toInt(), demo::kTeacherGuest);
    EXPECT_TRUE(frame->DBLookupComboBox9->shownText().isEmpty());
    ASSERT_TRUE(frame->BitBtn1->isEnabled());
    const int mark = server->logMark();
    frame->BitBtn1->click();
    const QStringList updates = server->batchesSince(mark).filter(QStringLiteral("UPDATE DisciplineForStudent"));
    ASSERT_EQ(updates.size(), 1);
    EXPECT_EQ(updates[0],
              sent(applyStatement(QString::number(demo::kTeacherGuest), QString::number(demo::kStreamNamed),
                                  QString::number(demo::kYearCurrent), QString::number(demo::kSemesterCourse2Autumn),
                                  demo::kStudentBelova, demo::kDisciplineA)));
    EXPECT_EQ(
        ints(registration(demo::kStudentBelova)),
        QVector<int>({demo::kTeacherGuest, demo::kStreamNamed, demo::kYearCurrent, demo::kSemesterCourse2Autumn}));
}

TEST_F(TransferFrame, AnotherTeacherKeepsStreamAndApplyRewritesTheRegistration) {
    clickStudent(demo::kStudentAbdullaev);
    pick(frame->DBLookupComboBox9, demo::kTeacherB);
    // Her streams of the discipline do not include the held number: empty text, number kept.
    EXPECT_EQ(frame->DBLookupComboBox11->keyValue().toInt(), demo::kStreamNamed);
    EXPECT_TRUE(frame->DBLookupComboBox11->shownText().isEmpty());
    EXPECT_EQ(frame->DBLookupComboBox121->keyValue().toInt(), demo::kSemesterCourse2Autumn);
    ASSERT_TRUE(frame->BitBtn1->isEnabled());

    qtl::TForm1::Today = [this] { return deadline(); };  // the last day still works
    const int mark = server->logMark();
    frame->BitBtn1->click();
    const QStringList sentNow = server->batchesSince(mark);
    ASSERT_GE(sentNow.size(), 3) << sentNow.join(QStringLiteral("\n")).toStdString();
    EXPECT_TRUE(sentNow[0].startsWith(kDeadlineHead));
    EXPECT_EQ(sentNow[1],
              sent(applyStatement(QString::number(demo::kTeacherB), QString::number(demo::kStreamNamed),
                                  QString::number(demo::kYearCurrent), QString::number(demo::kSemesterCourse2Autumn),
                                  demo::kStudentAbdullaev, demo::kDisciplineA)));
    // Both lists rebuilt afterwards: the check list first.
    EXPECT_TRUE(sentNow[2].startsWith(kReloadHead));
    EXPECT_EQ(ints(registration(demo::kStudentAbdullaev)),
              QVector<int>({demo::kTeacherB, demo::kStreamNamed, demo::kYearCurrent, demo::kSemesterCourse2Autumn}));
    EXPECT_EQ(form->CheckListBox1->itemIndex(), -1);
    EXPECT_EQ(frame->DBLookupComboBox9->keyValue().toInt(), demo::kTeacherB);  // the frame keeps it
    EXPECT_TRUE(boxes.shown().isEmpty());
}

// A teacher who does teach the discipline in the held stream number: the stream shows again.
TEST_F(TransferFrame, AnotherTeacherWithTheHeldStreamShowsIt) {
    clickStudent(demo::kStudentAbdullaev);
    ASSERT_EQ(frame->DBLookupComboBox11->keyValue().toInt(), demo::kStreamNamed);
    // Teacher B gets the same class in streams 1 and 8 (the demo gives her none of it).
    for (int stream : {demo::kStreamNamed, 8})
        server->sqliteExec(
            QStringLiteral(
                "INSERT INTO RRNKkrdt (id_a_year, id_kafedra, id_teacher, id_discipline, id_examination, kredit, "
                "id_w_s, prov_reyt, id_vid_zaniatiy, subgroup, dop_potokname, id_o_z) VALUES "
                "(%1, %2, %3, %4, %5, %6, %7, 1, 1, %8, NULL, 0)")
                .arg(demo::kYearCurrent)
                .arg(demo::kKafedraA)
                .arg(demo::kTeacherB)
                .arg(demo::kDisciplineA)
                .arg(demo::kExamA)
                .arg(demo::kCreditsA)
                .arg(demo::kWsAutumn)
                .arg(stream));
    pick(frame->DBLookupComboBox9, demo::kTeacherB);

    qtl::Query* streams = qtl::DM_MB->ADOQ_SubGroup2;
    ASSERT_TRUE(streams->isOpen());
    QList<int> offered;
    for (int r = 0; r < streams->recordCount(); ++r) offered << streams->valueAt(r, QStringLiteral("subgroup")).toInt();
    std::sort(offered.begin(), offered.end());
    EXPECT_EQ(offered, QList<int>({demo::kStreamNamed, 8}));  // her streams, not teacher A's
    EXPECT_EQ(frame->DBLookupComboBox11->keyValue().toInt(), demo::kStreamNamed);
    EXPECT_EQ(frame->DBLookupComboBox11->shownText(), QString::number(demo::kStreamNamed));
    EXPECT_EQ(frame->DBLookupComboBox121->keyValue().toInt(), demo::kSemesterCourse2Autumn);
    ASSERT_TRUE(frame->BitBtn1->isEnabled());

    qtl::TForm1::Today = [this] { return deadline(); };
    frame->BitBtn1->click();
    EXPECT_EQ(ints(registration(demo::kStudentAbdullaev)),
              QVector<int>({demo::kTeacherB, demo::kStreamNamed, demo::kYearCurrent, demo::kSemesterCourse2Autumn}));
    EXPECT_TRUE(boxes.shown().isEmpty()) << boxes.texts().join(QStringLiteral("|")).toStdString();
}

TEST_F(TransferFrame, SemesterMissingFromTheReloadedListBecomesTheFirst) {
    clickStudent(demo::kStudentAbdullaev);
    // The year selector is bound to the teacher step as well.
    pick(frame->DBLookupComboBox111, demo::kYearPrevious);
    qtl::Query* semesters = qtl::DM_MB->ADOQ_Semester2;
    ASSERT_GT(semesters->recordCount(), 0);
    ASSERT_LT(semesters->findRow(QStringLiteral("id_semester"), demo::kSemesterCourse2Autumn), 0);
    const QVariant first = semesters->valueAt(0, QStringLiteral("id_semester"));
    EXPECT_EQ(frame->DBLookupComboBox121->keyValue(), first);
    EXPECT_TRUE(frame->BitBtn1->isEnabled());
    const int mark = server->logMark();
    frame->BitBtn1->click();
    EXPECT_EQ(server->batchesSince(mark).filter(QStringLiteral("UPDATE DisciplineForStudent")),
              QStringList({sent(applyStatement(QString::number(demo::kTeacherA), QString::number(demo::kStreamNamed),
                                               QString::number(demo::kYearPrevious), first.toString(),
                                               demo::kStudentAbdullaev, demo::kDisciplineA))}));
    EXPECT_EQ(ints(registration(demo::kStudentAbdullaev)),
              QVector<int>({demo::kTeacherA, demo::kStreamNamed, demo::kYearPrevious, first.toInt()}));
}

// "<< Убрать регистр." sets the check-list line back and loads its student into the frame again,
// whichever registrations the streams list had selected.
TEST_F(TransferFrame, RemovingReloadsTheReselectedStudent) {
    qtl::TForm1::Today = [this] { return deadline(); };
    const auto streamLineOf = [this](int student) {
        for (int i = 0; i < form->ListBox1->count(); ++i)
            if (static_cast<const qtl::StreamItem*>(form->ListBox1->record(i))->id_student == student) return i;
        return -1;
    };
    const auto removeRegistrationOf = [&](int student) {
        const int line = streamLineOf(student);
        ASSERT_GE(line, 0);
        form->ListBox1->clearSelection();
        form->ListBox1->setSelected(line, true);
        const int mark = server->logMark();
        form->SpeedButton2->click();
        const QStringList sentNow = server->batchesSince(mark);
        int deleted = -1, loaded = -1;
        for (int i = 0; i < sentNow.size(); ++i) {
            if (deleted < 0 && sentNow[i].contains(QStringLiteral("DELETE FROM DisciplineForStudent"))) deleted = i;
            if (sentNow[i].startsWith(
                    QStringLiteral("EXEC GetKPVStudentInfo   @id_student = %1 ,").arg(demo::kStudentVolkov)))
                loaded = i;
        }
        ASSERT_GE(deleted, 0) << sentNow.join(QStringLiteral("\n")).toStdString();
        EXPECT_GT(loaded, deleted) << "the frame was not loaded after the removal";
    };

    clickStudent(demo::kStudentVolkov);
    const int volkovLine = form->CheckListBox1->itemIndex();
    // A teacher picked in the frame but not applied is discarded by the reload.
    pick(frame->DBLookupComboBox9, demo::kTeacherB);
    ASSERT_EQ(frame->DBLookupComboBox9->keyValue().toInt(), demo::kTeacherB);

    // Another student's registration removed: the selected student is shown as stored.
    removeRegistrationOf(demo::kStudentBelova);
    EXPECT_TRUE(registration(demo::kStudentBelova).isEmpty());
    EXPECT_EQ(form->CheckListBox1->itemIndex(), volkovLine);
    EXPECT_EQ(frame->StudentId, demo::kStudentVolkov);
    EXPECT_EQ(frame->DBLookupComboBox9->keyValue().toInt(), demo::kTeacherA);
    EXPECT_EQ(frame->DBLookupComboBox11->keyValue().toInt(), demo::kStreamUnnamed);
    EXPECT_TRUE(frame->BitBtn1->isEnabled());

    // His own registration removed: the frame goes blank for him.
    removeRegistrationOf(demo::kStudentVolkov);
    EXPECT_TRUE(registration(demo::kStudentVolkov).isEmpty());
    EXPECT_EQ(form->CheckListBox1->itemIndex(), volkovLine);
    EXPECT_EQ(frame->StudentId, demo::kStudentVolkov);
    expectBlank();
    // Only the confirmations were shown.
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[1].buttons, qtl::MbButtons::YesNo);
}

TEST_F(TransferFrame, ApplyAfterTheDeadlineSendsOnlyTheCheck) {
    clickStudent(demo::kStudentAbdullaev);
    pick(frame->DBLookupComboBox9, demo::kTeacherB);
    const QDate last = deadline();
    ASSERT_TRUE(last.isValid());
    qtl::TForm1::Today = [last] { return last.addDays(1); };
    const int mark = server->logMark();
    frame->BitBtn1->click();
    const QStringList sentNow = server->batchesSince(mark);
    ASSERT_EQ(sentNow.size(), 1);
    EXPECT_TRUE(sentNow[0].startsWith(kDeadlineHead));
    EXPECT_EQ(boxes.texts(), QStringList({QStringLiteral("Сроки регистрации студентов на дисциплины закончены ")}));
    EXPECT_EQ(registration(demo::kStudentAbdullaev)[0].toInt(), demo::kTeacherA);
}

TEST_F(TransferFrame, CopyRewritesARegisteredStudentsRegistration) {
    clickStudent(demo::kStudentAbdullaev);
    form->DBLookupComboBox11->setKeyValue(demo::kStreamExtramural);
    ASSERT_FALSE(form->DBLookupComboBox11->shownText().isEmpty());
    const int mark = server->logMark();
    frame->BitBtn2->click();
    const QStringList sentNow = server->batchesSince(mark);
    ASSERT_GE(sentNow.size(), 2);
    EXPECT_EQ(sentNow[0], sent(copyStatement(demo::kStreamExtramural, demo::kStudentAbdullaev, demo::kDisciplineA)));
    EXPECT_FALSE(sentNow[0].contains(QStringLiteral("AND id_examination")));
    EXPECT_TRUE(sentNow[1].startsWith(kReloadHead));
    EXPECT_EQ(registration(demo::kStudentAbdullaev)[1].toInt(), demo::kStreamExtramural);
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(TransferFrame, CopySendsNothingWithoutAShownStreamOrASelectedLine) {
    clickStudent(demo::kStudentAbdullaev);
    // The unnamed stream shows empty text.
    form->DBLookupComboBox11->setKeyValue(demo::kStreamUnnamed);
    ASSERT_TRUE(form->DBLookupComboBox11->shownText().isEmpty());
    int mark = server->logMark();
    frame->BitBtn2->click();
    EXPECT_TRUE(server->batchesSince(mark).isEmpty());

    form->DBLookupComboBox11->setKeyValue(demo::kStreamNamed);
    form->CheckListBox1->setItemIndex(-1);
    mark = server->logMark();
    frame->BitBtn2->click();
    EXPECT_TRUE(server->batchesSince(mark).isEmpty());
}

TEST_F(TransferFrame, CopyRegistersAnUnregisteredStudentWithTheTickedOnes) {
    form->CheckListBox1->setChecked(lineOf(form.get(), demo::kStudentZhdanov), true);
    clickStudent(demo::kStudentEliseeva);
    // Even with the register button disabled.
    form->SpeedButton1->setEnabled(false);
    const int mark = server->logMark();
    frame->BitBtn2->click();
    const QStringList inserts = server->batchesSince(mark).filter(QStringLiteral("INSERT INTO DisciplineForStudent"));
    EXPECT_EQ(inserts.size(), 2);
    const QVector<QVariant> hers = registration(demo::kStudentEliseeva);
    const QVector<QVariant> his = registration(demo::kStudentZhdanov);
    ASSERT_EQ(hers.size(), 4);
    ASSERT_EQ(his.size(), 4);
    EXPECT_EQ(hers[1], form->DBLookupComboBox11->keyValue());
    EXPECT_EQ(frame->StudentId, demo::kStudentEliseeva);
    EXPECT_EQ(frame->Edit3->text(), QStringLiteral("Программирование"));
    EXPECT_TRUE(boxes.shown().isEmpty()) << boxes.texts().join(QStringLiteral("|")).toStdString();
}

// With no discipline found for the frame, the copy must still touch only the registration of
// the chosen discipline, never the student's other disciplines of that semester.
TEST_F(TransferFrame, CopyWithoutRegisteredDisciplineLeavesOtherDisciplinesAlone) {
    server->sqliteExec(
        QStringLiteral(
            "INSERT INTO DisciplineForStudent (id_student, descGroupNum, id_discipline, id_a_year, id_semester, "
            "id_ins_year, id_ins_semester, id_teacher, id_group, id_examination, subGroup, QTL_user, id_faculty, "
            "id_kafedra, kredits, isByPlan, id_vid_zaniatiy) VALUES (%1, %2, %3, %4, %5, %4, %5, %6, %7, %8, 1, "
            "'operator', %9, %10, 6, 1, 1)")
            .arg(demo::kStudentAbdullaev)
            .arg(demo::kDescGroupNumA)
            .arg(demo::kDisciplineCalculus)
            .arg(demo::kYearCurrent)
            .arg(demo::kSemesterCourse2Autumn)
            .arg(demo::kTeacherE)
            .arg(demo::kGroupOz0)
            .arg(demo::kExamA)
            .arg(demo::kFacultyA)
            .arg(demo::kKafedraB));
    const auto other = [&] {
        return server->sqlite(QStringLiteral("SELECT id_discipline, id_teacher, subGroup, id_examination, kredits "
                                             "FROM DisciplineForStudent WHERE id_student = %1 AND id_discipline <> %2 "
                                             "ORDER BY id_disciplineForStudent")
                                  .arg(demo::kStudentAbdullaev)
                                  .arg(demo::kDisciplineA));
    };
    const auto before = other();
    ASSERT_EQ(before.size(), 1);

    clickStudent(demo::kStudentAbdullaev);
    frame->RegDisciplineId = 0;
    form->DBLookupComboBox11->setKeyValue(demo::kStreamExtramural);
    const int mark = server->logMark();
    frame->BitBtn2->click();
    const QStringList updates = server->batchesSince(mark).filter(QStringLiteral("UPDATE DisciplineForStudent"));
    ASSERT_EQ(updates.size(), 1);
    EXPECT_EQ(updates[0], sent(copyStatement(demo::kStreamExtramural, demo::kStudentAbdullaev, demo::kDisciplineA)));
    EXPECT_EQ(other(), before);
    EXPECT_EQ(registration(demo::kStudentAbdullaev)[1].toInt(), demo::kStreamExtramural);
}

class TransferFrameErrors : public TransferFrame {
protected:
    void SetUp() override {}
};

TEST_F(TransferFrameErrors, ServerErrorInLoadIsShownAndTheFrameStaysUsable) {
    DevServer::Options options;
    options.failOn = QStringLiteral("GetKPVStudentInfo   @id_student = %1 ").arg(demo::kStudentBelova);
    start(options);
    clickStudent(demo::kStudentBelova);
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, qtl::MbIcon::Error);
    EXPECT_FALSE(boxes.shown()[0].text.isEmpty());
    boxes.clear();
    clickStudent(demo::kStudentAbdullaev);
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_EQ(frame->Edit3->text(), QStringLiteral("Программирование"));
    EXPECT_TRUE(frame->BitBtn1->isEnabled());
}

TEST_F(TransferFrameErrors, ServerErrorInApplyEndsBeforeTheReload) {
    DevServer::Options options;
    options.failOn = QStringLiteral("^UPDATE DisciplineForStudent SET id_teacher");
    start(options);
    clickStudent(demo::kStudentAbdullaev);
    const int lines = form->CheckListBox1->count();
    pick(frame->DBLookupComboBox9, demo::kTeacherB);
    const int mark = server->logMark();
    frame->BitBtn1->click();
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, qtl::MbIcon::Error);
    EXPECT_TRUE(server->batchesSince(mark).filter(kReloadHead).isEmpty());
    EXPECT_EQ(registration(demo::kStudentAbdullaev)[0].toInt(), demo::kTeacherA);
    // Still usable: another student loads.
    EXPECT_EQ(form->CheckListBox1->count(), lines);
    boxes.clear();
    clickStudent(demo::kStudentVolkov);
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_EQ(frame->StudentId, demo::kStudentVolkov);
}

}  // namespace
