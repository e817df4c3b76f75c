// Query text handling that needs no server: lines, parameters and their literals, closed reads.
#include "platform/Query.h"

#include <gtest/gtest.h>

using namespace qtl;

namespace {
struct Fixture {
    Connection con;
    Query q{&con, QStringLiteral("ADOQ_Test")};
};
}  // namespace

TEST(QueryText, LinesEachEndWithCrLf) {
    Fixture f;
    f.q.setSqlLines({QStringLiteral("SELECT 1"), QString(), QStringLiteral("  ")});
    EXPECT_EQ(f.q.sqlText(), QStringLiteral("SELECT 1\r\n\r\n  \r\n"));
    f.q.addLine(QStringLiteral("SELECT 2"));
    EXPECT_EQ(f.q.sqlText(), QStringLiteral("SELECT 1\r\n\r\n  \r\nSELECT 2\r\n"));
    f.q.setSql(QStringLiteral("a\r\nb"));  // one string is one line, whatever it holds
    EXPECT_EQ(f.q.sqlLines().size(), 1);
    EXPECT_EQ(f.q.sqlText(), QStringLiteral("a\r\nb\r\n"));
}

TEST(QueryText, ParametersComeFromTheTextOutsideQuotes) {
    Fixture f;
    f.q.setSqlLines({QStringLiteral("SELECT ':not', \"x:nor\", [y:z] FROM t"),
                     QStringLiteral("WHERE a=:a AND b = :b_2 AND c=:a AND t='10:30' AND d::e")});
    EXPECT_EQ(f.q.parameterNames(), QStringList({"a", "b_2"}));
    f.q.setParam(QStringLiteral("a"), 5);
    f.q.setParam(QStringLiteral("B_2"), QStringLiteral("Иван'ов"));
    EXPECT_EQ(f.q.expandedSql(), QStringLiteral("SELECT ':not', \"x:nor\", [y:z] FROM t\r\n"
                                                "WHERE a=5 AND b = N'Иван''ов' AND c=5 AND t='10:30' AND d::e\r\n"));
    EXPECT_THROW(f.q.setParam(QStringLiteral("missing"), 1), AppError);
}

TEST(QueryText, LiteralsForEveryValueKind) {
    Fixture f;
    f.q.setSql(QStringLiteral("SELECT :v"));
    const auto lit = [&](const QVariant& v) {
        f.q.setParam(QStringLiteral("v"), v);
        return f.q.expandedSql().mid(7).chopped(2);
    };
    EXPECT_EQ(lit(QVariant()), QStringLiteral("NULL"));
    EXPECT_EQ(lit(QVariant(QMetaType::fromType<int>())), QStringLiteral("NULL"));
    EXPECT_EQ(lit(-42), QStringLiteral("-42"));
    EXPECT_EQ(lit(qlonglong(1) << 40), QStringLiteral("1099511627776"));
    EXPECT_EQ(lit(3.0), QStringLiteral("3"));
    EXPECT_EQ(lit(2.5), QStringLiteral("2.5"));
    EXPECT_EQ(lit(0.1), QStringLiteral("0.1"));
    EXPECT_EQ(lit(true), QStringLiteral("1"));
    EXPECT_EQ(lit(QString()), QStringLiteral("N''"));
    EXPECT_EQ(lit(QStringLiteral("' OR 1=1 --")), QStringLiteral("N''' OR 1=1 --'"));
}

TEST(QueryText, ParametersKeepDeclarationAcrossTextChanges) {
    Fixture f;
    f.q.setSql(QStringLiteral("SELECT :id"));
    f.q.declareIntegerParam(QStringLiteral("id"));
    f.q.setParam(QStringLiteral("id"), QStringLiteral(" 12 "));
    EXPECT_EQ(f.q.expandedSql(), QStringLiteral("SELECT 12\r\n"));
    f.q.addLine(QStringLiteral("WHERE :other = :id"));
    EXPECT_EQ(f.q.parameterNames(), QStringList({"id", "other"}));
    EXPECT_EQ(f.q.expandedSql(), QStringLiteral("SELECT 12\r\nWHERE NULL = 12\r\n"));
    f.q.setParam(QStringLiteral("id"), 2.5);
    EXPECT_THROW(f.q.expandedSql(), ConversionError);
    EXPECT_THROW(f.q.declareIntegerParam(QStringLiteral("nope")), AppError);
}

TEST(QueryText, ClosedQueryReadsNullsAndRefusesDeletion) {
    Fixture f;
    f.q.setSql(QStringLiteral("SELECT 1 AS x"));
    EXPECT_FALSE(f.q.isOpen());
    EXPECT_TRUE(f.q.eof());
    EXPECT_EQ(f.q.currentRow(), -1);
    EXPECT_EQ(f.q.fieldAsString(QStringLiteral("x")), QString());
    EXPECT_EQ(f.q.fieldAsInt(QStringLiteral("x")), 0);
    EXPECT_FALSE(f.q.fieldAsBool(QStringLiteral("x")));
    EXPECT_EQ(f.q.fieldAsDateTime(QStringLiteral("x")), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
    EXPECT_FALSE(f.q.locate(QStringLiteral("x"), 1));
    f.q.setUpdateTarget(QStringLiteral("T"), QStringLiteral("x"));
    try {
        f.q.deleteCurrentRow();
        FAIL() << "no error";
    } catch (const AppError& e) {
        EXPECT_EQ(e.text(), QStringLiteral("Cannot perform this operation on an empty dataset"));
    }
    // Persistent fields: a name outside them is an error even before opening.
    f.q.setPersistentFields({{QStringLiteral("x"), FieldKind::Integer, 0}});
    EXPECT_EQ(f.q.fieldAsInt(QStringLiteral("x")), 0);
    EXPECT_THROW(f.q.fieldValue(QStringLiteral("y")), AppError);
}

TEST(QueryText, AsTextWritesNumbersForStatements) {
    EXPECT_EQ(Query::asText(QVariant()), QString());
    EXPECT_EQ(Query::asText(17), QStringLiteral("17"));
    EXPECT_EQ(Query::asText(4.0), QStringLiteral("4"));
    EXPECT_EQ(Query::asText(4.5), QStringLiteral("4.5"));
    EXPECT_EQ(Query::asText(QStringLiteral("abc")), QStringLiteral("abc"));
}

TEST(ConnectionErrors, DriverPrefixesAndSuffixesAreRemoved) {
    EXPECT_EQ(Connection::cleanErrorText(
                  QStringLiteral("[FreeTDS][SQL Server]Invalid object name 'no_such_table'. QODBC: Unable to "
                                 "execute statement")),
              QStringLiteral("Invalid object name 'no_such_table'."));
    EXPECT_EQ(Connection::cleanErrorText(QStringLiteral("[unixODBC][FreeTDS][SQL Server]Login failed for user 'x'.")),
              QStringLiteral("Login failed for user 'x'."));
    // Brackets that belong to the server's text stay.
    EXPECT_EQ(Connection::cleanErrorText(
                  QStringLiteral("[FreeTDS][SQL Server]Invalid column name '[x]'. QODBC: Unable to fetch last")),
              QStringLiteral("Invalid column name '[x]'."));
    EXPECT_TRUE(
        Connection::isLinkFailure(QStringLiteral("[FreeTDS][SQL Server]Unexpected EOF from the server"), QString()));
    EXPECT_TRUE(Connection::isLinkFailure(QStringLiteral("x"), QStringLiteral("08S01")));
    EXPECT_FALSE(Connection::isLinkFailure(QStringLiteral("Invalid object name 'x'."), QStringLiteral("208")));
}

#ifndef QT_NO_DEBUG
// A query held by a reader may not be given new text, opened, executed or closed by anyone else.
TEST(QueryHold, ReuseWhileHeldIsCaught) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto reuse = [](void (*use)(Query&)) {
        Connection con;
        Query q{&con, QStringLiteral("ADOQ_Held")};
        const Query::Hold reading(&q);
        use(q);
    };
    EXPECT_DEATH(reuse([](Query& q) { q.setSql(QStringLiteral("SELECT 1")); }), "reused while its holder reads it");
    EXPECT_DEATH(reuse([](Query& q) { q.close(); }), "reused while its holder reads it");
    EXPECT_DEATH(reuse([](Query& q) { q.addLine(QStringLiteral("x")); }), "reused while its holder reads it");
    // Once the hold is gone the query is free again.
    Connection con;
    Query q{&con, QStringLiteral("ADOQ_Free")};
    { const Query::Hold reading(&q); }
    q.setSql(QStringLiteral("SELECT 1"));
    q.close();
    EXPECT_EQ(q.sqlLines(), QStringList{QStringLiteral("SELECT 1")});
}
#endif
