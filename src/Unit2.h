// The transfer frame: shows and moves the registration of the student last clicked.
#pragma once

#include "platform/LookupComboBox.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace qtl {

class TForm1;

class TFrame1 : public QFrame {
    Q_OBJECT
public:
    // `form` is the main window the frame is embedded in (its selectors and lists are read).
    TFrame1(TForm1* form, QWidget* parent);

    QPushButton* BitBtn2;                 // copy current parameters
    QLabel* Label9;                       // "Кафедра:"
    LookupComboBox* DBLookupComboBox8;    // department (read-only)
    QLabel* Label10;                      // "Преподаватель:"
    LookupComboBox* DBLookupComboBox9;    // teacher
    QLabel* Label3;                       // "Дисциплина:"
    QLineEdit* Edit3;                     // discipline (read-only)
    QLabel* Label1;                       // "Поток:"
    LookupComboBox* DBLookupComboBox11;   // stream
    QPushButton* BitBtn1;                 // "Применить"
    QLabel* Label2;                       // "В уч. году:" (hidden)
    LookupComboBox* DBLookupComboBox111;  // year (hidden)
    QLabel* Label4;                       // "На семестре:" (hidden)
    LookupComboBox* DBLookupComboBox121;  // semester (hidden)

    int StudentId = 0;
    int InsYearId = 0;
    int ExaminationId = 0;
    int InsSemesterId = 0;
    int RegDisciplineId = 0;
    int RegExaminationId = 0;

    void LoadStudentRegistration(int studentId, int examinationId, int disciplineId,
                                 int insSemesterId, int insYearId, int descGroupNum,
                                 int groupId);
    void RefreshStreams();
    void DBLookupComboBox8Click();        // department step
    void DBLookupComboBox9Click();        // teacher step (also year and semester selectors)
    void DBLookupComboBox11KeyDown(QKeyEvent* event);
    void DBLookupComboBox11MouseDown(QMouseEvent* event);
    void StreamSelectorStep();
    void BitBtn1Click();                  // "Применить" (after the deadline check)
    void BitBtn2Click();                  // copy current parameters
    // The UPDATE of the copy button for a registered student.
    QString CopyStatement() const;

private:
    TForm1* m_form;
};

}  // namespace qtl
