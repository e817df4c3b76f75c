#include "rules/RegistrationRules.h"

#include "util/errors.h"

namespace qtl {

CreditVerdict checkCredits(qint64 held, const QString& credits, int formOfStudy, int limitOz0, int limitOz1) {
    CreditVerdict verdict;
    verdict.held = held;
    if (formOfStudy != 0 && formOfStudy != 1) return verdict;
    // 64-bit sums: a huge limit or credit value must not overflow the comparison.
    verdict.credits = StrToInt(credits);
    verdict.limit = qint64(formOfStudy == 0 ? limitOz0 : limitOz1) + 5;
    verdict.overLimit = verdict.held + verdict.credits > verdict.limit;
    return verdict;
}

QString refusalNotice(const QStringList& refusedLines) {
    const QChar quote = QLatin1Char('"');
    // Every line but the last ends in a comma, the last in a full stop.
    QString text = QStringLiteral("Вы не имеете право удалять данных студентов:") + QChar(13);
    for (int i = 0; i < refusedLines.size(); ++i)
        text += quote + refusedLines[i] + quote + QLatin1Char(i + 1 == refusedLines.size() ? '.' : ',') +
                QStringLiteral("\r\n");
    return text;
}

}  // namespace qtl
