#include "statements/Statements.h"

#include "util/errors.h"

namespace qtl {

bool ChosenClass::isComplete() const {
    for (const QString* key :
         {&faculty, &year, &department, &teacher, &termKind, &termKindRow, &discipline, &credits, &examination, &group})
        if (key->isEmpty()) return false;
    return true;
}

int ChosenClass::yearNumber() const {
    return StrToInt(year);
}

int ChosenClass::termKindNumber() const {
    return StrToInt(termKind);
}

int ChosenClass::examinationNumber() const {
    return StrToInt(examination);
}

int ChosenClass::groupNumber() const {
    return StrToInt(group);
}

int ChosenClass::insSemesterNumber() const {
    return StrToInt(insSemesterId);
}

int ChosenClass::descGroupNumber() const {
    return StrToInt(descGroupNum);
}

}  // namespace qtl
