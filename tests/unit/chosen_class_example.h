// A chosen class for statement tests: every value differs from the others, so a value written
// into the wrong place of a statement shows.
#pragma once

#include "statements/Statements.h"

namespace qtltest {

inline qtl::ChosenClass exampleChosenClass() {
    qtl::ChosenClass c;
    c.faculty = QStringLiteral("3");
    c.year = QStringLiteral("15");
    c.department = QStringLiteral("7");
    c.teacher = QStringLiteral("42");
    c.termKind = QStringLiteral("1");
    c.termKindRow = QStringLiteral("2");
    c.discipline = QStringLiteral("501");
    c.credits = QStringLiteral("5");
    c.examination = QStringLiteral("4");
    c.group = QStringLiteral("88");
    c.stream = QStringLiteral("6");
    c.insSemesterId = QStringLiteral("31");
    c.descGroupNum = QStringLiteral("12");
    c.isByPlan = QStringLiteral("1");
    return c;
}

}  // namespace qtltest
