// The credit rule of registering and the notice of refused removals.
#include "main_u.h"

#include <gtest/gtest.h>

using namespace qtl;

TEST(CreditRule, LimitPlusFiveIsTheHighestTotalForFormsZeroAndOne) {
    // A limit of 30: 30 held and 5 more make 35, which is allowed; 6 more are not.
    EXPECT_FALSE(checkCredits(30, QStringLiteral("5"), 0, 30, 99).overLimit);
    const CreditVerdict over = checkCredits(30, QStringLiteral("6"), 0, 30, 99);
    EXPECT_TRUE(over.overLimit);
    EXPECT_EQ(over.held, 30);
    EXPECT_EQ(over.credits, 6);
    EXPECT_EQ(over.limit, 35);
    // Form 1 has its own limit.
    EXPECT_FALSE(checkCredits(30, QStringLiteral("6"), 1, 10, 31).overLimit);
    EXPECT_TRUE(checkCredits(31, QStringLiteral("6"), 1, 99, 31).overLimit);
    EXPECT_FALSE(checkCredits(0, QStringLiteral("5"), 1, 0, 0).overLimit);
}

TEST(CreditRule, OtherFormsAreNeverLimitedAndHugeValuesDoNotOverflow) {
    const CreditVerdict free = checkCredits(1000, QStringLiteral("not a number"), 2, 0, 0);
    EXPECT_FALSE(free.overLimit);  // the credits are not even read
    EXPECT_FALSE(checkCredits(0, QString(), -1, 0, 0).overLimit);
    // The credits must be a number where a limit applies.
    EXPECT_THROW(checkCredits(0, QStringLiteral("5.5"), 0, 30, 30), ConversionError);
    EXPECT_THROW(checkCredits(0, QString(), 1, 30, 30), ConversionError);
    // An int limit near its maximum plus 5 does not wrap round to a negative limit.
    EXPECT_FALSE(checkCredits(2147483647LL, QStringLiteral("5"), 0, 2147483647, 0).overLimit);
    EXPECT_TRUE(checkCredits(2147483647LL, QStringLiteral("6"), 0, 2147483647, 0).overLimit);
}

TEST(RefusalNotice, LinesBetweenQuotesCommasThenAFullStop) {
    EXPECT_EQ(refusalNotice({QStringLiteral("B")}),
              QStringLiteral("Вы не имеете право удалять данных студентов:\r\"B\".\r\n"));
    // Two refused lines, the lower one B first: B ends in a comma, A in a full stop.
    EXPECT_EQ(refusalNotice({QStringLiteral("1п (ИС-21) - Борисов"), QStringLiteral("A")}),
              QStringLiteral("Вы не имеете право удалять данных студентов:\r"
                             "\"1п (ИС-21) - Борисов\",\r\n\"A\".\r\n"));
}
