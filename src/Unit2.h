// The transfer frame: shows and moves the registration of the student last clicked.
#pragma once

#include "platform/LookupComboBox.h"
#include "statements/Statements.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QVariant>

namespace qtl {

// What the transfer frame needs from the window it is embedded in.
class TransferFrameHost {
public:
    virtual ChosenClass chosenClass() const = 0;
    // The group selector's key value as it is held (null when none); it travels as a parameter.
    virtual QVariant chosenGroupKey() const = 0;
    // The text the stream chooser shows ("" when it shows none).
    virtual QString shownStream() const = 0;
    // The selected line of the student check list, -1 when none.
    virtual int selectedStudentLine() const = 0;
    // Whether the student of that line already holds a registration for the chosen discipline.
    virtual bool studentLineRegistered(int line) const = 0;
    // Ticks the line and registers every ticked student, exactly as the register button does.
    virtual void tickAndRegister(int line) = 0;
    // Rebuilds the student check list and the streams list.
    virtual void ReloadLists() = 0;
    // Whether registrations may still be changed; tells the operator when not.
    virtual bool RegistrationDeadlineCheck() = 0;

protected:
    ~TransferFrameHost() = default;
};

class TFrame1 : public QFrame {
    Q_OBJECT
public:
    // `host` is the window the frame is embedded in; the frame reads the chosen class from it.
    TFrame1(TransferFrameHost* host, QWidget* parent);

    QPushButton* BitBtn2;  // copy current parameters
    QLabel* Label9;  // "Кафедра:"
    LookupComboBox* DBLookupComboBox8;  // department (read-only)
    QLabel* Label10;  // "Преподаватель:"
    LookupComboBox* DBLookupComboBox9;  // teacher
    QLabel* Label3;  // "Дисциплина:"
    QLineEdit* Edit3;  // discipline (read-only)
    QLabel* Label1;  // "Поток:"
    LookupComboBox* DBLookupComboBox11;  // stream
    QPushButton* BitBtn1;  // "Применить"
    QLabel* Label2;  // "В уч. году:" (hidden)
    LookupComboBox* DBLookupComboBox111;  // year (hidden)
    QLabel* Label4;  // "На семестре:" (hidden)
    LookupComboBox* DBLookupComboBox121;  // semester (hidden)

    int StudentId = 0;
    int InsYearId = 0;
    int ExaminationId = 0;
    int InsSemesterId = 0;
    int RegDisciplineId = 0;
    int RegExaminationId = 0;

    // Empties what the frame shows: department, teacher, discipline and stream; "Применить" off.
    void clear();
    void LoadStudentRegistration(int studentId, int examinationId, int disciplineId, int insSemesterId, int insYearId,
                                 int descGroupNum, int groupId);
    void RefreshStreams();
    void DBLookupComboBox8Click();  // department step
    void DBLookupComboBox9Click();  // teacher step (also year and semester selectors)
    void DBLookupComboBox11KeyDown(QKeyEvent* event);
    void DBLookupComboBox11MouseDown(QMouseEvent* event);
    void StreamSelectorStep();
    void BitBtn1Click();  // "Применить"
    // The click of "Применить": the deadline check, the move, and both lists again.
    void ApplyClick();
    // Copy current parameters: rewrites a registered student's registration with the chosen
    // class, or registers an unregistered one through the host's register button.
    void BitBtn2Click();

private:
    void buildVisibleRows();
    void buildHiddenSelectors();
    TransferFrameHost* m_host;
    ShownRegistration shown() const;
    // Names for assistive technology: each control by the caption beside it.
    void setUpAssistiveAccess();
};

}  // namespace qtl
