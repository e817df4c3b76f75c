// The credit rule and the refusal notice, without a window or a server.
#include "rules/RegistrationRules.h"

#include "util/errors.h"

#include <gtest/gtest.h>

#include <ostream>

using namespace qtl;

namespace {

struct CreditCase {
    const char* name;
    qint64 held;
    const char* credits;
    int formOfStudy;
    int limitOz0;
    int limitOz1;
    bool overLimit;
    qint64 limit;  // 0 where no limit applies
};

void PrintTo(const CreditCase& c, std::ostream* out) {
    *out << c.name;
}

class CreditRule : public testing::TestWithParam<CreditCase> {};

TEST_P(CreditRule, LimitPlusFiveIsTheHighestTotal) {
    const CreditCase& c = GetParam();
    const CreditVerdict verdict =
        checkCredits(c.held, QString::fromUtf8(c.credits), c.formOfStudy, c.limitOz0, c.limitOz1);
    EXPECT_EQ(verdict.overLimit, c.overLimit);
    EXPECT_EQ(verdict.held, c.held);
    EXPECT_EQ(verdict.limit, c.limit);
}

INSTANTIATE_TEST_SUITE_P(Forms, CreditRule,
                         testing::Values(
                             // A limit of 30: 30 held and 5 more make 35, which is allowed; 6 more are not.
                             CreditCase{"Form0AtTheAllowance", 30, "5", 0, 30, 99, false, 35},
                             CreditCase{"Form0OverTheAllowance", 30, "6", 0, 30, 99, true, 35},
                             // Form 1 has its own limit.
                             CreditCase{"Form1OwnLimitAllows", 30, "6", 1, 10, 31, false, 36},
                             CreditCase{"Form1OwnLimitRefuses", 31, "6", 1, 99, 31, true, 36},
                             CreditCase{"Form1ZeroLimitAllowsFive", 0, "5", 1, 0, 0, false, 5},
                             // Other forms are never limited, and their credits are not even read.
                             CreditCase{"Form2NotANumberNotRead", 1000, "not a number", 2, 0, 0, false, 0},
                             CreditCase{"NegativeFormEmptyCredits", 0, "", -1, 0, 0, false, 0},
                             // An int limit near its maximum plus 5 does not wrap round to a negative limit.
                             CreditCase{"HugeLimitAllows", 2147483647LL, "5", 0, 2147483647, 0, false, 2147483652LL},
                             CreditCase{"HugeLimitRefuses", 2147483647LL, "6", 0, 2147483647, 0, true, 2147483652LL}),
                         [](const testing::TestParamInfo<CreditCase>& info) { return std::string(info.param.name); });

}  // namespace

TEST(CreditRuleInput, TheCreditsMustBeAWholeNumberWhereALimitApplies) {
    EXPECT_THROW(checkCredits(0, QStringLiteral("5.5"), 0, 30, 30), ConversionError);
    EXPECT_THROW(checkCredits(0, QString(), 1, 30, 30), ConversionError);
    EXPECT_EQ(checkCredits(0, QStringLiteral(" 6 "), 1, 30, 30).credits, 6);
}

TEST(RefusalNotice, LinesBetweenQuotesCommasThenAFullStop) {
    EXPECT_EQ(refusalNotice({QStringLiteral("B")}),
              QStringLiteral("Вы не имеете право удалять данных студентов:\r\"B\".\r\n"));
    // Two refused lines, the lower one B first: B ends in a comma, A in a full stop.
    EXPECT_EQ(refusalNotice({QStringLiteral("1п (ИС-21) - Борисов"), QStringLiteral("A")}),
              QStringLiteral("Вы не имеете право удалять данных студентов:\r"
                             "\"1п (ИС-21) - Борисов\",\r\n\"A\".\r\n"));
}
