// The transfer frame: shows and moves the registration of the student last clicked.
#pragma once

#include "platform/LookupComboBox.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QVariant>

namespace qtl {

// The class chosen in the main window (teacher, discipline, form of control, group, ...), read in
// one go when an action starts. Keys are kept as the text the statements write: a selector
// without a key gives empty text, and the statement built from it is then refused by the server.
struct ChosenClass {
    QString faculty;
    QString year;
    QString department;
    QString teacher;
    QString termKind;  // the key the semester selector holds
    QString termKindRow;  // id_w_s of the current row of the kind-of-term list; it can differ
        // from termKind after the teacher step has reopened that list
    QString discipline;  // id_discipline of the chosen discipline row
    QString credits;  // Krdt of the chosen discipline row
    QString examination;  // form of control
    QString group;
    QString stream;  // the stream chooser's key
    QString insSemesterId;  // SelectedInsSemesterId: the registering semester
    QString descGroupNum;  // SelectedDescGroupNum: the plan number, -1 when not by plan
    QString isByPlan;  // SelectedIsByPlan: "0" or "1"
};

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

protected:
    ~TransferFrameHost() = default;
};

// The keys of the registration the frame shows, as the last click on a student set them.
struct ShownRegistration {
    int studentId = 0;
    int insYearId = 0;
    int examinationId = 0;
    int insSemesterId = 0;
    int disciplineId = 0;  // of the registration found; 0 when none was found
};

// The statements the frame sends, built from values only.
namespace statements {
// The registration of a student for the chosen discipline (no row when he holds none).
QString studentRegistration(int studentId, int insSemesterId, int insYearId, int disciplineId, int groupId,
                            int descGroupNum, const QString& credits);
// The teachers of a department that the frame offers.
QString frameTeachers(const QString& department);
// "Применить": the shown registration moved to the teacher, stream, year and semester given.
QString moveRegistration(const QString& teacher, const QString& stream, const QString& year, const QString& semester,
                         const ShownRegistration& shown, const QString& descGroupNum);
// The copy button: the shown registration rewritten with the chosen class.
QString copyRegistration(const ChosenClass& chosen, const ShownRegistration& shown);
}  // namespace statements

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

    void LoadStudentRegistration(int studentId, int examinationId, int disciplineId, int insSemesterId, int insYearId,
                                 int descGroupNum, int groupId);
    void RefreshStreams();
    void DBLookupComboBox8Click();  // department step
    void DBLookupComboBox9Click();  // teacher step (also year and semester selectors)
    void DBLookupComboBox11KeyDown(QKeyEvent* event);
    void DBLookupComboBox11MouseDown(QMouseEvent* event);
    void StreamSelectorStep();
    void BitBtn1Click();  // "Применить" (after the deadline check)
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
