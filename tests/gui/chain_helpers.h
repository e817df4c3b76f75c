// Helpers of the main-window tests: a signed-in window on a fresh qtl-devserver, operator picks
// by mouse in the opened drop-down lists and by keyboard on closed selectors, and the statements
// the selection chain, the student list and the streams list must send.
#pragma once

#include "DevServer.h"
#include "SignIn.h"

#include "Unit2.h"
#include "dm_u.h"
#include "main_u.h"
#include "platform/LookupComboBox.h"

#include "../../devserver/qtl/demo_ids.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QStyleHints>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace qtltest::chain {

namespace demo = devserver::qtl::demo;

// Every statement reaches the server as its one line followed by CR LF.
inline QString sent(const QString& statement) {
    return statement + QStringLiteral("\r\n");
}

inline QString num(int n) {
    return QString::number(n);
}

// ---- statements, written out here from the design texts (not from the window's code)

inline QString teacherList(int year, int kafedra) {
    return " SELECT DISTINCT dbo.teacher.id_teacher, dbo.t_fio.t_fio  FROM         dbo.RRNKkrdt "
           "INNER JOIN  dbo.teacher ON dbo.RRNKkrdt.id_teacher = dbo.teacher.id_teacher INNER JOIN  "
           "dbo.t_fio ON dbo.teacher.id_teacher = dbo.t_fio.id_teacher  WHERE     "
           "(dbo.RRNKkrdt.id_a_year = " +
           num(year) + ") AND (dbo.RRNKkrdt.id_kafedra = " + num(kafedra) +
           ")  AND prov_reyt>0 ORDER BY dbo.t_fio.t_fio";
}

inline QString termKinds() {
    return QStringLiteral("SELECT [id_w_s],[p42],[ws_sort] FROM [QTL].[dbo].[w_s] ORDER BY [ws_sort]");
}

inline QString disciplines(int year, int ws, int kafedra, int teacher) {
    return "EXEC SP_Qtl33GetDisciplines @id_a_year =" + num(year) + ",@id_w_s =" + num(ws) +
           ",@id_kafedra =" + num(kafedra) + ",@id_teacher =" + num(teacher);
}

inline QString examinations(int kafedra, int year, int teacher, int discipline, int ws) {
    return " SELECT DISTINCT dbo.RRNKkrdt.id_examination, examination.[p30] as examination  FROM "
           "dbo.RRNKkrdt INNER JOIN examination  ON dbo.RRNKkrdt.id_examination=examination.id_examination"
           "  WHERE id_kafedra=" +
           num(kafedra) + " AND id_a_year=" + num(year) + " AND id_teacher =" + num(teacher) +
           " AND id_discipline =" + num(discipline) + " AND id_w_s =" + num(ws) +
           " AND prov_reyt>0  AND ( (id_vid_zaniatiy is not NULL) or (id_vid_zaniatiy in (5,6)) )";
}

inline QString groupsKind3(int year, int faculty) {
    return " SELECT     dbo.g_r_y.id_a_year, dbo.[group].id_faculty, dbo.[group].id_group, "
           "dbo.[group].p20 as [group], dbo.[group].o_z, -1 as  descGroupNum FROM         dbo.g_r_y "
           "INNER JOIN  dbo.[group] ON dbo.g_r_y.id_group = dbo.[group].id_group  WHERE     "
           "dbo.g_r_y.id_a_year =" +
           num(year) + " AND dbo.[group].id_faculty =" + num(faculty) + " ORDER By [group]";
}

inline QString groupsOther(int faculty, int year, int ws) {
    return "SELECT   dbo.[group].id_group,  dbo.[group].id_faculty, dbo.g_r_y.id_a_year,"
           "dbo.semester.id_semester, dbo.semester.id_w_s, dbo.[group].p20 as [group],dbo.[group].o_z "
           "FROM         dbo.[group] INNER JOIN dbo.g_r_y ON dbo.[group].id_group = dbo.g_r_y.id_group "
           "INNER JOIN dbo.semester ON dbo.g_r_y.id_rate = dbo.semester.id_rate WHERE     "
           "(dbo.[group].id_faculty = " +
           num(faculty) + ") AND (dbo.g_r_y.id_a_year = " + num(year) + ")  AND (dbo.semester.id_w_s = " + num(ws) +
           ") ORDER By [group]";
}

inline QString topSemester(int group, int year, int ws) {
    return "SELECT TOP 1 id_semester FROM dbo.semester INNER JOIN dbo.g_r_y ON dbo.semester.id_rate = "
           "dbo.g_r_y.id_rate WHERE (dbo.g_r_y.id_group = " +
           num(group) + ")AND (dbo.g_r_y.id_a_year = " + num(year) + ")AND (dbo.semester.id_w_s = " + num(ws) + ")";
}

inline QString formOfStudy(int group) {
    return "SELECT dbo.g_s.id_group, dbo.specialityV.p108 FROM dbo.specialityV INNER JOIN dbo.g_s ON "
           "dbo.specialityV.id_speciality = dbo.g_s.id_speciality WHERE  (dbo.g_s.id_group =" +
           num(group) + ")";
}

inline QString descGroupNum(int year, int ws, int kafedra, int group, int discipline, int exam) {
    return "Exec SP_GetDescGroupNumOfDiscipline @id_a_year =" + num(year) + ",@id_w_s =" + num(ws) +
           ",@id_kafedra =" + num(kafedra) + ",@id_group =" + num(group) + ",@id_discipline =" + num(discipline) +
           ",@id_examination =" + num(exam);
}

inline QString studentsA(int group, int discipline, int year, int exam, int ws, int credits, int user) {
    return " EXEC GET_KPV_Students  @id_group = " + num(group) + ",  @id_discipline = " + num(discipline) +
           ",  @id_a_year = " + num(year) + ",  @id_examination = " + num(exam) + ",  @id_w_s = " + num(ws) +
           ", @kredits = " + num(credits) + ", @id_user=" + num(user);
}

inline QString studentsB(int group, int discipline, int year, int descNum, int exam, int ws, int credits, int user) {
    return " EXEC GET_KPV_Students2  @id_group = " + num(group) + ",  @id_discipline = " + num(discipline) +
           ",  @id_a_year = " + num(year) + ",  @descGroupNum = " + num(descNum) + ",  @id_examination = " + num(exam) +
           ",  @id_w_s = " + num(ws) + ",  @kredits = " + num(credits) + ",  @id_user=" + num(user);
}

// The term condition is either "(dbo.semester.id_w_s = N) AND " or the registering-semester form.
inline QString streamsList(int year, int discipline, int exam, int credits, const QString& term, int teacher) {
    const QString expr = QStringLiteral(
        "(CAST(DisciplineForStudent.subGroup AS NVARCHAR(10)) + 'п (' + s_g.p20 + ') - '+ dbo.s_g.s_fio)");
    return "SELECT g_f.id_faculty, dbo.DisciplineForStudent.id_student, "
           "dbo.DisciplineForStudent.id_disciplineForStudent,         " +
           expr +
           " AS [s_fio]  FROM  dbo.semester INNER JOIN        dbo.DisciplineForStudent ON "
           "dbo.semester.id_semester = dbo.DisciplineForStudent.id_ins_semester INNER JOIN        "
           "dbo.s_g ON dbo.DisciplineForStudent.id_student = dbo.s_g.id_student INNER JOIN        "
           "dbo.g_f ON dbo.s_g.id_group = dbo.g_f.id_group   WHERE "
           "(dbo.DisciplineForStudent.id_ins_year = " +
           num(year) + ") AND         (dbo.DisciplineForStudent.id_discipline = " + num(discipline) +
           ") AND         (dbo.DisciplineForStudent.id_examination = " + num(exam) +
           ") AND         (dbo.DisciplineForStudent.kredits = " + num(credits) + ") AND " + term +
           "        (dbo.DisciplineForStudent.id_teacher = " + num(teacher) +
           ") GROUP BY DisciplineForStudent.subGroup, dbo.s_g.p20,  dbo.s_g.s_fio, g_f.id_faculty, "
           "dbo.DisciplineForStudent.id_student, dbo.DisciplineForStudent.id_disciplineForStudent, "
           "        " +
           expr + "  ORDER BY DisciplineForStudent.subGroup,dbo.s_g.p20,  dbo.s_g.s_fio";
}

inline QString byKind(int ws) {
    return "        (dbo.semester.id_w_s = " + num(ws) + ") AND ";
}

inline QStringList startingWith(const QStringList& batches, const QString& head) {
    QStringList out;
    for (const QString& b : batches)
        if (b.startsWith(head)) out << b;
    return out;
}

// ---- operator input

// Clicks the row showing `text` in the drop-down list of `box`, which must be open.
inline void pickInList(qtl::LookupComboBox* box, const QString& text) {
    ASSERT_TRUE(box->isDroppedDown()) << qPrintable(box->objectName()) << " is not dropped down";
    const int row = box->findText(text);
    ASSERT_GE(row, 0) << qPrintable(text) << " not listed in " << qPrintable(box->objectName());
    QAbstractItemView* view = box->view();
    const QModelIndex index = view->model()->index(row, box->modelColumn());
    view->scrollTo(index);
    const QPoint at = view->visualRect(index).center();
    QTest::mouseMove(view->viewport(), at);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QApplication::processEvents();
}

// Opens the drop-down list of a closed box with the mouse, then picks as above. The list ignores
// a release that comes within the double-click interval of its opening, so that interval is
// waited out; a pick that was still not taken (the list stayed open) is tried once more.
inline void openAndPick(qtl::LookupComboBox* box, const QString& text) {
    if (!box->isDroppedDown()) {
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, box->rect().center());
        QApplication::processEvents();
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 20);
    }
    pickInList(box, text);
    if (box->isDroppedDown()) {
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 20);
        pickInList(box, text);
    }
    ASSERT_FALSE(box->isDroppedDown()) << "the pick in " << qPrintable(box->objectName()) << " was not taken";
}

// Types text into a widget as the keyboard would (Cyrillic included).
inline void typeText(QWidget* widget, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

inline void pressKey(QWidget* widget, Qt::Key key) {
    QTest::keyClick(widget, key);
    QApplication::processEvents();
}

// ---- fixture

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A pick right after a list opened must not be taken for the release of the opening click.
        savedDoubleClickInterval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(1);
        // Queries of the data module stay open with the rows of an earlier test (the year list is
        // read only once), so every test starts from a fresh data module, as the program does.
        // No window of an earlier test is left at this point.
        delete qtl::DM_MB;
        qtl::DM_MB = nullptr;
        qtl::g_signIn = qtl::SignIn{};
        server = std::make_unique<DevServer>(options);
        server->start();
    }
    void TearDown() override {
        // Nor may this test's data module reach the tests that follow.
        form.reset();
        delete qtl::DM_MB;
        qtl::DM_MB = nullptr;
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(savedDoubleClickInterval);
    }
    void signIn(const QString& login = QStringLiteral("operator"),
                const QString& password = QStringLiteral("operator")) {
        form = openMainWindow(*server, login, password);
        ASSERT_TRUE(form);
        QApplication::processEvents();
    }
    qtl::TForm1* w() const { return form.get(); }
    int mark() const { return server->logMark(); }
    QStringList since(int m) const { return server->batchesSince(m); }

    // The whole chain as the operator walks it with the mouse, down to the form of control
    // (or to the group when `group` is not empty).
    void chainTo(const QString& group = QString(), const QString& discipline = QStringLiteral("Программирование"),
                 const QString& term = QStringLiteral("Осенний"),
                 const QString& teacher = QStringLiteral("Абрамов А.В."),
                 const QString& exam = QStringLiteral("Экзамен")) {
        openAndPick(w()->DBLookupComboBox1, QStringLiteral("Факультет информационных технологий"));
        pickInList(w()->DBLookupComboBox2, QStringLiteral("2026-2027"));
        pickInList(w()->DBLookupComboBox8, QStringLiteral("Кафедра информатики"));
        pickInList(w()->DBLookupComboBox9, teacher);
        pickInList(w()->DBLookupComboBox5, term);
        pickInList(w()->DBLookupComboBox6, discipline);
        pickInList(w()->DBLookupComboBox4, exam);
        if (!group.isEmpty()) pickInList(w()->DBLookupComboBox3, group);
    }

    QStringList lines(const QListWidget* list) const {
        QStringList out;
        for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
        return out;
    }

    DevServer::Options options;
    int savedDoubleClickInterval = 400;
    std::unique_ptr<DevServer> server;
    MessageRecorder boxes;
    decltype(openMainWindow(std::declval<DevServer&>(), QString(), QString())) form{};
};

}  // namespace qtltest::chain
