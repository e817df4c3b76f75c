// Dates given as text: how the server reads them under each DATEFORMAT, and where the translator
// makes it read them (writes into and comparisons with DATETIME columns).
#include "tsql/functions.h"
#include "tsql/translate.h"

#include <gtest/gtest.h>

#include <map>

using namespace devserver::tsql;

namespace {

std::string read(const std::string& text, const std::string& order) {
    std::string out;
    switch (parseServerDateTime(text, order, out)) {
    case DateParse::Ok: return out;
    case DateParse::Malformed: return "241";
    case DateParse::OutOfRange: return "242";
    }
    return "?";
}

TEST(TsqlDateText, NumericFormsFollowTheDateformat) {
    EXPECT_EQ(read("01.02.2030", "dmy"), "2030-02-01 00:00:00");
    EXPECT_EQ(read("01.02.2030", "mdy"), "2030-01-02 00:00:00");
    EXPECT_EQ(read("01/02/2030", "dmy"), "2030-02-01 00:00:00");
    EXPECT_EQ(read("1-2-2030", "dmy"), "2030-02-01 00:00:00");
    EXPECT_EQ(read("30/02/01", "ymd"), "2030-02-01 00:00:00");
    EXPECT_EQ(read("30.01.02", "ydm"), "2030-02-01 00:00:00");
    EXPECT_EQ(read("02.30.01", "myd"), "2030-02-01 00:00:00");
    EXPECT_EQ(read("01.30.02", "dym"), "2030-02-01 00:00:00");
    // A four-digit year marks itself; day and month keep their DATEFORMAT order.
    EXPECT_EQ(read("02.2030.01", "myd"), "2030-02-01 00:00:00");
    EXPECT_EQ(read("01.02.2030", "ymd"), "2030-01-02 00:00:00");
    EXPECT_EQ(read("01.02.2030", "ydm"), "2030-02-01 00:00:00");
    // Two-digit years: below 50 in this century, from 50 in the last one.
    EXPECT_EQ(read("01.02.49", "dmy"), "2049-02-01 00:00:00");
    EXPECT_EQ(read("01.02.50", "dmy"), "1950-02-01 00:00:00");
}

TEST(TsqlDateText, IsoWithTAndUnseparatedFormsAreReadAlikeEverywhere) {
    for (const char* order : {"mdy", "dmy", "ymd", "ydm", "myd", "dym"}) {
        SCOPED_TRACE(order);
        EXPECT_EQ(read("2030-02-01T13:45:30", order), "2030-02-01 13:45:30");
        EXPECT_EQ(read("2030-02-01T13:45", order), "2030-02-01 13:45:00");
        EXPECT_EQ(read("20300201", order), "2030-02-01 00:00:00");
        EXPECT_EQ(read("20300201 08:05", order), "2030-02-01 08:05:00");
    }
    // Without the T a year-first date is a DATETIME's numeric form: dmy reads it year-day-month.
    EXPECT_EQ(read("2030-02-01", "mdy"), "2030-02-01 00:00:00");
    EXPECT_EQ(read("2030-02-01 10:00", "ymd"), "2030-02-01 10:00:00");
    EXPECT_EQ(read("2030-02-01", "dmy"), "2030-01-02 00:00:00");
    EXPECT_EQ(read("2030-02-13", "dmy"), "242");
}

TEST(TsqlDateText, TimesAndTheDatetimeTick) {
    EXPECT_EQ(read(" 01.02.2030 13:45 ", "dmy"), "2030-02-01 13:45:00");
    EXPECT_EQ(read("01.02.2030 13:45:30.5", "dmy"), "2030-02-01 13:45:30.500");
    EXPECT_EQ(read("01.02.2030 13:45:30.000", "dmy"), "2030-02-01 13:45:30");
    EXPECT_EQ(read("01.02.2030 13:45:30:2", "dmy"), "2030-02-01 13:45:30.003");
    EXPECT_EQ(read("01.02.2030 1:05 PM", "dmy"), "2030-02-01 13:05:00");
    EXPECT_EQ(read("01.02.2030 12:00AM", "dmy"), "2030-02-01 00:00:00");
    // 1/300 s ticks: .001 -> .000, .005 -> .007, .999 runs over into the next year here.
    EXPECT_EQ(read("2030-01-01T00:00:00.001", "mdy"), "2030-01-01 00:00:00");
    EXPECT_EQ(read("2030-01-01T00:00:00.005", "mdy"), "2030-01-01 00:00:00.007");
    EXPECT_EQ(read("2030-12-31T23:59:59.999", "mdy"), "2031-01-01 00:00:00");
    EXPECT_EQ(read("9999-12-31T23:59:59.999", "mdy"), "242");
    EXPECT_EQ(read("10:30", "dmy"), "1900-01-01 10:30:00");
    EXPECT_EQ(read("", "dmy"), "1900-01-01 00:00:00");
    EXPECT_EQ(read("29.02.2028", "dmy"), "2028-02-29 00:00:00");
}

TEST(TsqlDateText, MalformedTextIs241AndImpossibleDatesAre242) {
    for (const char* bad :
         {"abc", "01.02", "01.02.2030x", "1.2.3.4", "01.02-2030", "01.02.2030 25:00", "01.02.2030 10:61", "2030-02-01T",
          "2030-02-01T10", "01.02.2030 10:00:00.1234", "01.02.203", "2030.2030.01", "13:00 PM", "2030020", "0x1F"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(read(bad, "dmy"), "241");
    }
    EXPECT_EQ(read("31.02.2030", "dmy"), "242");
    EXPECT_EQ(read("13.01.2030", "mdy"), "242");
    EXPECT_EQ(read("29.02.2030", "dmy"), "242");
    EXPECT_EQ(read("01.01.1700", "dmy"), "242");
    EXPECT_EQ(read("00.01.2030", "dmy"), "242");
}

// ---- where the translator reads texts as dates ----------------------------------------------

class DateCatalog : public Catalog {
public:
    std::optional<std::string> columnType(const std::string& table, const std::string& column) const override {
        static const std::map<std::string, std::string> cols = {
            {"ID_GROUP", "INT"}, {"ENDDATE", "DATETIME"}, {"NOTE", "NVARCHAR(20)"}};
        if (upper(table) != "V_DATE_REG_DFS") return std::nullopt;
        auto it = cols.find(upper(column));
        if (it == cols.end()) return std::nullopt;
        return it->second;
    }
    bool hasTable(const std::string& name) const override { return upper(name) == "V_DATE_REG_DFS"; }
    std::string tableFunction(const std::string&, const std::vector<std::string>&) const override { return ""; }
};

std::string sqlOf(const std::string& statement) {
    DateCatalog c;
    const auto p = translateBatch(statement, c);
    return p.size() == 1 ? p[0].sql : std::string("<not one statement>");
}

TEST(TsqlDateTranslation, TextsWrittenToDatetimeColumnsAreRead) {
    EXPECT_EQ(
        sqlOf("UPDATE dbo.V_Date_reg_DFS SET endDate = '01.02.2030', note = '01.02.2030' WHERE id_group = 5"),
        "UPDATE V_Date_reg_DFS SET endDate = tsql_datetime('01.02.2030'), note = '01.02.2030' WHERE id_group = 5");
    EXPECT_EQ(sqlOf("INSERT INTO [V_Date_reg_DFS] (note, endDate, id_group) VALUES ('01.02.2030', N'01.02.2030', 7), "
                    "('x', '2030-02-01T00:00:00', 8)"),
              "INSERT INTO \"V_Date_reg_DFS\" (note, endDate, id_group) VALUES ('01.02.2030', "
              "tsql_datetime('01.02.2030', 1), 7), ('x', tsql_datetime('2030-02-01T00:00:00'), 8)");
    // Only a plain text literal is read; NULL and expressions stay as they are.
    EXPECT_EQ(sqlOf("INSERT INTO V_Date_reg_DFS (endDate, id_group) VALUES (NULL, 1), ('01.02.2030' + 'x', 2), "
                    "('01.02.2030', 3)"),
              "INSERT INTO V_Date_reg_DFS(endDate, id_group) VALUES (NULL, 1), (('01.02.2030' || 'x') COLLATE CYR_CI, "
              "2), (tsql_datetime('01.02.2030'), 3)");
}

TEST(TsqlDateTranslation, TextsComparedWithDatetimeOperandsAreRead) {
    const std::string where = sqlOf(
        "SELECT id_group FROM V_Date_reg_DFS d WHERE d.endDate >= '01.02.2030' AND '05.02.2030' > endDate "
        "AND (endDate <> N'03.02.2030') AND endDate BETWEEN '01.01.2030' AND '31.12.2030' "
        "AND endDate NOT BETWEEN '01.03.2030' AND '02.03.2030' AND note = '01.02.2030'");
    EXPECT_NE(where.find("d.endDate >= tsql_datetime('01.02.2030')"), std::string::npos) << where;
    EXPECT_NE(where.find("tsql_datetime('05.02.2030') > endDate"), std::string::npos) << where;
    EXPECT_NE(where.find("(endDate <> tsql_datetime('03.02.2030', 1))"), std::string::npos) << where;
    EXPECT_NE(where.find("BETWEEN tsql_datetime('01.01.2030') AND tsql_datetime('31.12.2030')"), std::string::npos)
        << where;
    EXPECT_NE(where.find("NOT BETWEEN tsql_datetime('01.03.2030') AND tsql_datetime('02.03.2030')"), std::string::npos)
        << where;
    EXPECT_NE(where.find("note = '01.02.2030'"), std::string::npos) << where;
    EXPECT_EQ(sqlOf("SELECT 1 FROM V_Date_reg_DFS WHERE GETDATE() > '01.02.2030'"),
              "SELECT 1 FROM V_Date_reg_DFS WHERE strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime') > "
              "tsql_datetime('01.02.2030')");
    // A text compared with a text or an integer column is no date.
    EXPECT_EQ(sqlOf("SELECT 1 FROM V_Date_reg_DFS WHERE id_group = '5'"),
              "SELECT 1 FROM V_Date_reg_DFS WHERE id_group = '5'");
}

}  // namespace
