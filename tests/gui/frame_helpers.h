// Helpers of the transfer frame tests: the main window's selection chain picked the way the
// operator picks (the key taken, then the selector's click), and the frame's exact statements.
#pragma once

#include "Unit2.h"
#include "dm_u.h"
#include "main_u.h"

#include "../../devserver/qtl/demo_ids.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

namespace qtltest::frame {

namespace demo = devserver::qtl::demo;

inline QString sent(const QString& statement) {
    return statement + QStringLiteral("\r\n");
}

// An operator's pick: the row's key becomes the selector's, then its click handler runs.
inline void pick(qtl::LookupComboBox* box, const QVariant& key) {
    box->setKeyValue(key);
    emit box->clicked();
}

// The discipline list is keyed by row number; find the row of a discipline id (and credits).
inline QVariant disciplineRow(int disciplineId, int credits = 0) {
    qtl::Query* q = qtl::DM_MB->ADOQ_SelectDisciplineForStudent;
    for (int r = 0; r < q->recordCount(); ++r)
        if (q->valueAt(r, QStringLiteral("id_discipline")).toInt() == disciplineId &&
            (credits == 0 || q->valueAt(r, QStringLiteral("Krdt")).toInt() == credits))
            return q->valueAt(r, QStringLiteral("rowNum"));
    return {};
}

// Faculty A, the current year, department A, teacher A, autumn, the discipline, exam, group.
inline void chooseClass(qtl::TForm1* form, int discipline = demo::kDisciplineA, int examination = demo::kExamA,
                        int group = demo::kGroupOz0) {
    pick(form->DBLookupComboBox1, demo::kFacultyA);
    pick(form->DBLookupComboBox2, demo::kYearCurrent);
    pick(form->DBLookupComboBox8, demo::kKafedraA);
    pick(form->DBLookupComboBox9, demo::kTeacherA);
    pick(form->DBLookupComboBox5, demo::kWsAutumn);
    const QVariant row = disciplineRow(discipline);
    ASSERT_TRUE(row.isValid()) << "discipline not offered";
    pick(form->DBLookupComboBox6, row);
    pick(form->DBLookupComboBox4, examination);
    pick(form->DBLookupComboBox3, group);
    ASSERT_GT(form->CheckListBox1->count(), 0);
}

inline int lineOf(qtl::TForm1* form, int studentId) {
    for (int i = 0; i < form->CheckListBox1->count(); ++i)
        if (auto* item = dynamic_cast<qtl::StudentItem*>(form->CheckListBox1->record(i)))
            if (item->id_student == studentId) return i;
    return -1;
}

// A mouse click on the text part of a line of the student check list.
inline void clickLine(qtl::TForm1* form, int line) {
    qtl::CheckListBox* list = form->CheckListBox1;
    QRect rect = list->visualItemRect(list->item(line));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(rect.right() - 10, rect.center().y()));
}

inline QString studentInfo(int student, int semester, int year, int discipline, int group, int descGroupNum,
                           const QString& credits) {
    return QStringLiteral(
               "EXEC GetKPVStudentInfo   @id_student = %1 ,@id_semester = %2 ,@id_a_year = %3 "
               ",@id_discipline = %4 ,@id_group =  %5 ,@descGroupNum =  %6 ,@kredits =  %7")
        .arg(student)
        .arg(semester)
        .arg(year)
        .arg(discipline)
        .arg(group)
        .arg(descGroupNum)
        .arg(credits);
}

}  // namespace qtltest::frame
