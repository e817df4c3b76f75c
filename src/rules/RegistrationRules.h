// The rules of registering and removing, and what each did for one student or line: pure, so
// they are tested without a window or a server.
#pragma once

#include <QString>
#include <QStringList>

#include <exception>

namespace qtl {

// The credit rule of registering. A group of form of study 0 or 1 may hold at most its limit
// plus a fixed allowance of 5 credits in the registering semester; other forms have no limit.
// The credits are converted (strictly) only when a limit applies.
struct CreditVerdict {
    bool overLimit = false;
    qint64 held = 0;  // what the student holds already
    qint64 credits = 0;  // what the registration would add
    qint64 limit = 0;  // the highest total allowed
};
CreditVerdict checkCredits(qint64 held, const QString& credits, int formOfStudy, int limitOz0, int limitOz1);

// What registering did for one ticked student.
struct RegistrationOutcome {
    enum class Kind { Registered, OverLimit, Failed };
    Kind kind = Kind::Registered;
    int line = -1;
    int studentId = 0;
    CreditVerdict credits;  // OverLimit: held, credits and limit
    QString error;  // Failed: the error's text
    std::exception_ptr exception;  // Failed: the error itself, for the general error display
};

// What removing did for one selected line of the streams list.
struct RemovalOutcome {
    enum class Kind { Removed, Refused, Failed };
    Kind kind = Kind::Removed;
    int line = -1;
    QString lineText;
    int faculty = 0;  // Refused: the faculty the operator does not hold
    QString error;  // Failed: the error's text
    std::exception_ptr exception;  // Failed: the error itself, for the general error display
};

// The notice listing the lines the operator may not remove, in the order given.
QString refusalNotice(const QStringList& refusedLines);

}  // namespace qtl
