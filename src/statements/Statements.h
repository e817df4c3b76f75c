// Every statement the workstation sends, built from values only. Pieces are joined with nothing
// between them, blanks as the server has always received them; a change of one byte here is a
// change of what the server receives and needs its test in tests/unit/statements_test.cpp
// changed with it. Windows, the data module and the platform call these; nothing else in the
// program writes statement text.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

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

    // Read with the rows as numbers (0 when the list holds no row).
    int disciplineNumber = 0;  // id_discipline of the chosen discipline row
    int formOfStudy = 0;  // o_z of the chosen group's row
    // The kind-of-term row is kind 3: the group list offers every group of the faculty that
    // studies in the year, and the students are listed without a plan number.
    bool termKind3 = false;

    // The keys as the selectors and rows hold them (null when none), for the queries that take
    // them as parameters: a parameter's literal follows its value's type.
    struct Held {
        QVariant year;
        QVariant department;
        QVariant teacher;
        QVariant discipline;
        QVariant examination;
        QVariant credits;
        QVariant termKindRow;
        QVariant formOfStudy;
    } held;

    // Every key of the class down to the group is there, as a write needs it (the stream, the
    // registering semester and the plan number are checked where they are needed).
    bool isComplete() const;

    // The keys as numbers, converted strictly when asked for: an empty or broken key throws
    // ConversionError then, not when the class is read.
    int yearNumber() const;
    int termKindNumber() const;
    int examinationNumber() const;
    int groupNumber() const;
    int insSemesterNumber() const;
    int descGroupNumber() const;
};

// The keys of the registration the transfer frame shows, as the last click on a student set them.
struct ShownRegistration {
    int studentId = 0;
    int insYearId = 0;
    int examinationId = 0;
    int insSemesterId = 0;
    int disciplineId = 0;  // of the registration found; 0 when none was found
};

// One "Key[Value]" of an audit row's description.
struct TKeyValue {
    QString Key;
    QString Value;
};

namespace statements {

// ---- the session: sign-in, what it loads, the session's date format

// The login procedure's call. `newPassword` is "NULL" when no change is asked for.
QString signIn(const QString& login, const QString& password, const QString& newPassword, const QString& ip,
               const QString& computerName);
QString dateFormat();
// The faculties the operator works for.
QString faculties(int userId);
// The credit limits of forms of study 0 and 1.
QString creditLimitOz0();
QString creditLimitOz1();

// ---- the data module's standing queries (":name" marks a parameter the query fills in)

QString allTermKinds();
QStringList departmentsOfYear();  // :id_a_year
QStringList years();
QStringList registrationYears();
QStringList semestersOfGroup();  // :id_a_year, :id_group
QStringList namedStreams();  // :id_a_year, :id_kafedra, :id_teacher, :id_discipline, :id_examination, :kredit, :id_w_s
QStringList streamNumbers();  // :id_a_year, :id_kafedra, :id_teacher, :id_discipline, :id_examination, :id_o_z, :id_w_s

// ---- the main window

// Whether the operator holds the removal right (one row when he does).
QString removalRight(const QString& login);
// The selection chain: each list is asked for with the choices made above it.
QString teachers(const ChosenClass& chosen);
QString termKinds();
QString disciplines(const ChosenClass& chosen);
QString examinations(const ChosenClass& chosen);
// Kind of term 3 lists every group of the faculty studying in the year; other kinds list the
// groups whose rate has a semester of the kind.
QString groups(const ChosenClass& chosen, bool everyGroupOfTheYear);
QString registeringSemester(const ChosenClass& chosen);
QString formOfStudy(int groupId);
// The student check list: the plan number first, then the students (without the plan number
// for kind of term 3 and for a discipline not taken by plan).
QString planNumber(const ChosenClass& chosen);
QString students(const ChosenClass& chosen, bool withoutPlan, int userId);
// The streams list, with the term condition it selects by.
QString termByKind(const QString& kind);
QString termBySemester(const QString& insSemesterId);
QString streams(const ChosenClass& chosen, const QString& termCondition);
// The class list the teacher prints: the students of the streams list (the same rows), by
// stream, then by name.
QString classList(const ChosenClass& chosen, const QString& termCondition);
// The stream editor's move of one registration.
QString moveInEditor(const QString& stream, const QString& teacher, int registrationId);
// Registering: the deadline, the stream's lesson kind and faculty, a student's credits in the
// registering semester, and his new registration.
QString registrationDeadline(int year, int termKind, int group);
QString lessonKind(const ChosenClass& chosen);
QString streamFaculty(const ChosenClass& chosen);
QString creditSum(int studentId, const ChosenClass& chosen);
QString registration(int studentId, const ChosenClass& chosen, const QString& login, const QString& faculty,
                     const QString& lessonKind);
// Removing one registration, and what its audit row tells about it.
QString removal(int registrationId);
QVector<TKeyValue> removalAudit(const ChosenClass& chosen, int studentId, int registrationId);

// ---- the transfer frame

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

// ---- the search and registrations windows

// The students whose name holds `text`, of the faculties the operator works for.
QString studentSearch(const QString& text, const QString& login);
// Every registration of a student (an empty id when the search found none: the server refuses it).
QString registrationsOf(const QString& studentId);
// The registration to delete, read again so that a row deleted meanwhile is noticed.
QString registrationRow(const QString& registrationId);

// ---- batches and the audit log

// One batch in one transaction: all of the statements or none. XACT_ABORT makes a run-time error
// roll the whole transaction back; it is switched off again at the end.
QStringList atomicBatch(const QStringList& statements);
// What follows a failed atomic batch: its transaction ended, the error rules restored.
QStringList endTransaction();
// The audit row of a deleted row.
QString auditRecord(const QString& description, const QString& tableName, const QString& rowId, const QString& login,
                    const QString& comp);
// A deletion and its audit row, in that order.
QStringList auditedDeletion(const QString& deletion, const QString& description, const QString& tableName, int rowId,
                            const QString& login, const QString& comp);
// A query's deletion of its current row; `keyLiteral` is the key as a literal of the statement.
QString deleteRow(const QString& table, const QString& keyColumn, const QString& keyLiteral);

}  // namespace statements
}  // namespace qtl
