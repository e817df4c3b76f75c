// The dialect without a database: splitting, translation to SQLite text, EXEC and SET parsing.
#include "tsql/translate.h"
#include "tsql_statements.h"

#include <gtest/gtest.h>

#include <map>

using namespace devserver;
using namespace devserver::tsql;

namespace {

// A few tables of the QTL schema with their declared column types.
class MapCatalog : public Catalog {
public:
    MapCatalog() {
        tables_["RRNKKRDT"] = {
            {"SUBGROUP", "INT"}, {"DOP_POTOKNAME", "NVARCHAR(100)"}, {"ID_A_YEAR", "INT"}, {"KREDIT", "INT"}};
        tables_["DISCIPLINEFORSTUDENT"] = {{"SUBGROUP", "INT"}, {"ID_STUDENT", "INT"}, {"KREDITS", "INT"}};
        tables_["S_G"] = {{"P20", "NVARCHAR(150)"}, {"S_FIO", "NVARCHAR(250)"}, {"ID_GROUP", "INT"}};
        tables_["GROUP"] = {{"P20", "NVARCHAR(150)"}, {"ID_GROUP", "INT"}};
        tables_["QTL_USER"] = {{"QTL_LOGIN", "NVARCHAR(50)"}};
        tables_["T"] = {{"A", "INT"}, {"B", "INT"}, {"S", "NVARCHAR(10)"}, {"U", ""}};
    }
    std::optional<std::string> columnType(const std::string& table, const std::string& column) const override {
        auto t = tables_.find(upper(table));
        if (t == tables_.end()) return std::nullopt;
        auto c = t->second.find(upper(column));
        if (c == t->second.end()) return std::nullopt;
        return c->second;
    }
    bool hasTable(const std::string& name) const override { return tables_.count(upper(name)) > 0; }
    std::string tableFunction(const std::string& name, const std::vector<std::string>& args) const override {
        if (!iequals(name, "GetTFIO_with_pps")) return "";
        return "(SELECT id_teacher, t_fio FROM t_fio WHERE k = " + args[1] + ")";
    }

private:
    std::map<std::string, std::map<std::string, std::string>> tables_;
};

std::vector<PlannedStatement> plan(const std::string& sql) {
    MapCatalog c;
    return translateBatch(sql, c);
}

std::string one(const std::string& sql) {
    auto p = plan(sql);
    EXPECT_EQ(p.size(), 1u) << sql;
    return p.empty() ? std::string() : p[0].sql;
}

std::int32_t errorOf(const std::string& sql) {
    try {
        plan(sql);
    } catch (const TsqlError& e) {
        return e.number;
    }
    return 0;
}

std::string errorText(const std::string& sql) {
    try {
        plan(sql);
    } catch (const TsqlError& e) {
        return e.what();
    }
    return "";
}

// ---- splitting ------------------------------------------------------------------------------

TEST(TsqlSplit, StatementsNeedNoSemicolons) {
    const auto parts = splitBatch(
        "DELETE FROM DisciplineForStudent WHERE (id_disciplineForStudent = 7)\r\n"
        "INSERT INTO QTL_LOG([table], [row_id]) VALUES('DisciplineForStudent', 7)");
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0], "DELETE FROM DisciplineForStudent WHERE (id_disciplineForStudent = 7)");
    EXPECT_EQ(parts[1], "INSERT INTO QTL_LOG([table], [row_id]) VALUES('DisciplineForStudent', 7)");

    EXPECT_EQ(splitBatch("SELECT 1 SELECT 2;SELECT 3").size(), 3u);
    EXPECT_EQ(splitBatch("SET NOCOUNT ON UPDATE t SET a = 1 SET XACT_ABORT ON").size(), 3u);
    EXPECT_EQ(splitBatch("BEGIN TRAN INSERT INTO t (a) VALUES (1) COMMIT TRAN").size(), 3u);
    EXPECT_EQ(splitBatch("  ;; -- nothing\r\n/* at all */").size(), 0u);
}

TEST(TsqlSplit, SelectsJoinedBySetOperatorsOrNestedStayOne) {
    EXPECT_EQ(splitBatch("select a FROM t where a = 3\r\nunion \r\nSELECT b FROM t ORDER BY a").size(), 1u);
    EXPECT_EQ(splitBatch("SELECT a FROM t UNION ALL SELECT b FROM t EXCEPT SELECT 1").size(), 1u);
    EXPECT_EQ(splitBatch("SELECT a FROM t WHERE a IN (SELECT b FROM t) AND EXISTS (SELECT 1)").size(), 1u);
    EXPECT_EQ(splitBatch("INSERT INTO t (a) SELECT b FROM t").size(), 1u);
    EXPECT_EQ(splitBatch("INSERT INTO t (a) VALUES (1) SELECT b FROM t").size(), 2u);
}

TEST(TsqlSplit, KeywordsInsideStringsNamesAndCommentsDoNotSplit) {
    const auto parts = splitBatch(
        "SELECT 'it''s; DELETE FROM x' AS [select], \"update\" -- INSERT\r\n"
        "/* EXEC /* nested */ SELECT */ FROM t");
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].substr(0, 36), "SELECT 'it''s; DELETE FROM x' AS [se");
}

TEST(TsqlSplit, UnclosedQuotesCommentsAndParenthesesAreSyntaxErrors) {
    EXPECT_EQ(errorOf("SELECT 'abc FROM t"), 105);
    EXPECT_EQ(errorText("SELECT 'abc"), "Unclosed quotation mark after the character string 'abc'.");
    EXPECT_EQ(errorOf("SELECT [abc FROM t"), 105);
    EXPECT_EQ(errorOf("SELECT 1 /* open"), 113);
    EXPECT_EQ(errorOf("SELECT (1"), 102);
    EXPECT_EQ(errorText("SELECT 1)"), "Incorrect syntax near ')'.");
}

// ---- translation ----------------------------------------------------------------------------

TEST(TsqlTranslate, DatabaseAndSchemaPrefixesAreDropped) {
    EXPECT_EQ(one("SELECT [id_field]  FROM [QTL].[dbo].[VuzDefaults]  WHERE id_vuz_defaults=26"),
              "SELECT \"id_field\" FROM \"VuzDefaults\" WHERE id_vuz_defaults = 26");
    EXPECT_EQ(one("SELECT dbo.RRNKkrdt.id_a_year FROM QTL.dbo.RRNKkrdt, QTL..T"),
              "SELECT RRNKkrdt.id_a_year FROM RRNKkrdt, T");
    EXPECT_EQ(errorText("SELECT 1 FROM master.dbo.sysobjects"), "Invalid object name 'master.dbo.sysobjects'.");
}

TEST(TsqlTranslate, BracketedNamesBecomeQuotedNames) {
    EXPECT_EQ(one("SELECT [p23-2] AS [faculty], [a]]b] FROM [group]"),
              "SELECT \"p23-2\" AS \"faculty\", \"a]b\" FROM \"group\"");
    EXPECT_EQ(one("INSERT INTO QTL_LOG([table], [descr]) VALUES('x', N'Запись ''1''')"),
              "INSERT INTO QTL_LOG(\"table\", \"descr\") VALUES ('x', 'Запись ''1''')");
}

TEST(TsqlTranslate, TopBecomesLimitOfItsOwnSelect) {
    EXPECT_EQ(one("SELECT TOP (1) a FROM T WHERE (b = 1) ORDER BY a"),
              "SELECT a FROM T WHERE (b = 1) ORDER BY a LIMIT 1");
    EXPECT_EQ(one("SELECT DISTINCT TOP 5 a FROM T"), "SELECT DISTINCT a FROM T LIMIT 5");
    EXPECT_EQ(one("SELECT a FROM (SELECT TOP 2 a FROM T ORDER BY b) AS x ORDER BY a"),
              "SELECT a FROM (SELECT a FROM T ORDER BY b LIMIT 2) AS x ORDER BY a");
    EXPECT_EQ(errorOf("SELECT TOP 1 a FROM T UNION SELECT b FROM T"), 40517);
    EXPECT_EQ(errorOf("SELECT TOP 10 PERCENT a FROM T"), 40517);
    EXPECT_EQ(errorOf("UPDATE TOP (1) T SET a = 1"), 40517);
}

TEST(TsqlTranslate, PlusJoinsTextsAndAddsNumbersByOperandType) {
    // Texts on both sides: joined, NULL stays NULL through ||.
    EXPECT_EQ(one("SELECT s + 'x' FROM T"), "SELECT (s || 'x') COLLATE CYR_CI FROM T");
    EXPECT_EQ(
        one("SELECT cast(a as varchar) +' - ['+s+']' AS n FROM T"),
        "SELECT (((substr(CAST(a AS TEXT), 1, 30) COLLATE CYR_CI || ' - [') || s) || ']') COLLATE CYR_CI AS n FROM T");
    // Numbers: added.
    EXPECT_EQ(one("SELECT a + b * 2 + 1 FROM T"), "SELECT ((a + b * 2) + 1) FROM T");
    // A number and a text, or an operand of unknown type: decided per row like the server.
    EXPECT_EQ(one("SELECT a + s FROM T"), "SELECT tsql_add(a, s) FROM T");
    EXPECT_EQ(one("SELECT u + 'x' FROM T"), "SELECT tsql_add(u, 'x') FROM T");
    // Qualified columns resolve through aliases.
    EXPECT_EQ(one("SELECT x.s + y.p20 FROM T x INNER JOIN [group] AS y ON 1 = 1"),
              "SELECT (x.s || y.p20) COLLATE CYR_CI FROM T x INNER JOIN \"group\" AS y ON 1 = 1");
    EXPECT_EQ(errorOf("SELECT CASE WHEN a = 1 THEN 'x' END + 'y' FROM T"), 40517);
}

TEST(TsqlTranslate, CastsFollowTheServersConversions) {
    EXPECT_EQ(one("SELECT CAST(a AS NVARCHAR(10)) FROM T"),
              "SELECT substr(CAST(a AS TEXT), 1, 10) COLLATE CYR_CI FROM T");
    EXPECT_EQ(one("SELECT CAST(s AS int), CONVERT(float, s) FROM T"), "SELECT tsql_int(s), tsql_float(s) FROM T");
    EXPECT_EQ(one("SELECT CAST(s AS nvarchar(max)) FROM T"), "SELECT CAST(s AS TEXT) COLLATE CYR_CI FROM T");
    EXPECT_EQ(one("SELECT CAST(s AS datetime) FROM T"), "SELECT tsql_datetime(s) FROM T");
    EXPECT_EQ(one("SELECT CONVERT(datetime, s, 104) FROM T"), "SELECT tsql_datetime_in(s, 'dmy') FROM T");
    EXPECT_EQ(errorOf("SELECT CONVERT(datetime, s, 999) FROM T"), 40517);
    EXPECT_EQ(errorOf("SELECT CAST(s AS xml) FROM T"), 40517);
    EXPECT_EQ(errorOf("SELECT CONVERT(varchar, s, 104) FROM T"), 40517);
}

TEST(TsqlTranslate, TableValuedFunctionBecomesAliasedSubSelect) {
    EXPECT_EQ(
        one("SELECT id_teacher, t_fio FROM dbo.GetTFIO_with_pps(4, 7)"),
        "SELECT id_teacher, t_fio FROM (SELECT id_teacher, t_fio FROM t_fio WHERE k = 7) AS \"GetTFIO_with_pps\"");
    EXPECT_EQ(one("SELECT f.t_fio FROM GetTFIO_with_pps(4, 7) f"),
              "SELECT f.t_fio FROM (SELECT id_teacher, t_fio FROM t_fio WHERE k = 7) f");
    EXPECT_EQ(errorText("SELECT id_teacher FROM dbo.GetTFIO_with_pps(4, )"), "Incorrect syntax near ')'.");
}

TEST(TsqlTranslate, ServerFormsAndFunctions) {
    EXPECT_EQ(one("SELECT n = a, ISNULL(s, '') AS s2, LEN(s) FROM T"),
              "SELECT a AS \"n\", ifnull(s, '') AS s2, length(rtrim(s)) FROM T");
    EXPECT_EQ(one("DELETE T WHERE a = 1"), "DELETE FROM T WHERE a = 1");
    EXPECT_EQ(one("INSERT T (a) VALUES (1)"), "INSERT INTO T(a) VALUES (1)");
    EXPECT_EQ(one("SELECT a FROM T WITH (NOLOCK) WHERE s = 'x' COLLATE Cyrillic_General_CI_AS"),
              "SELECT a FROM T WHERE s = 'x' COLLATE CYR_CI");
    EXPECT_EQ(errorText("SELECT @x"), "Must declare the scalar variable \"@x\".");
}

TEST(TsqlTranslate, ColumnNamesAsTheServerNamesThem) {
    auto p = plan("SELECT dbo.T.a, b AS [x y], s z, a + 1, n = b, COUNT(*) AS c FROM T");
    ASSERT_EQ(p.size(), 1u);
    ASSERT_EQ(p[0].columnNames.size(), 6u);
    EXPECT_EQ(*p[0].columnNames[0], "a");
    EXPECT_EQ(*p[0].columnNames[1], "x y");
    EXPECT_EQ(*p[0].columnNames[2], "z");
    EXPECT_EQ(*p[0].columnNames[3], "");  // a computed column without alias has no name
    EXPECT_EQ(*p[0].columnNames[4], "n");
    EXPECT_EQ(*p[0].columnNames[5], "c");
    EXPECT_TRUE(plan("SELECT * FROM T")[0].columnNames.empty());
}

TEST(TsqlTranslate, UnsupportedStatementsFailClearly) {
    EXPECT_EQ(errorText("IF 1 = 1 SELECT 1 ELSE SELECT 2"),
              "Keyword or statement option 'ELSE' is not supported in this version of SQL Server.");
    EXPECT_EQ(errorOf("IF @@TRANCOUNT > 0 BEGIN ROLLBACK END"), 40517);
    EXPECT_EQ(errorOf("DECLARE @a int"), 40517);
    EXPECT_EQ(errorOf("SELECT 1\r\nWHILE 1 = 1 SELECT 2"), 40517);
    EXPECT_EQ(errorOf("BEGIN SELECT 1 END"), 40517);
    EXPECT_EQ(errorOf("SELECT 1 SELECT 0x1F"), 40517);
    // Only keywords start statements: a stray word stays in its statement, where SQLite rejects it.
    EXPECT_EQ(splitBatch("SELECT 1\r\nfoo 1").size(), 1u);
}

// IF guards exactly one statement; the condition becomes a SELECT evaluated when the IF is reached.
TEST(TsqlTranslate, IfGuardsTheOneStatementAfterItsCondition) {
    auto p = plan("IF @@TRANCOUNT > 0 ROLLBACK TRAN\r\nSELECT 1");
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].kind, StmtKind::If);
    EXPECT_EQ(p[0].text, "IF @@TRANCOUNT > 0 ROLLBACK TRAN");
    ASSERT_EQ(p[0].body.size(), 1u);
    EXPECT_EQ(p[0].body[0].kind, StmtKind::RollbackTran);
    EXPECT_NE(p[0].sql.find("tsql_trancount()"), std::string::npos) << p[0].sql;
    EXPECT_EQ(p[1].kind, StmtKind::Select);

    // Statement words inside parentheses or CASE belong to the condition; an INSERT body keeps
    // its own SELECT; a guarded IF nests.
    p = plan("IF (SELECT COUNT(*) FROM T) = CASE WHEN 1 = 1 THEN 0 END INSERT INTO T(a) SELECT 1 UPDATE T SET a = 2");
    ASSERT_EQ(p.size(), 2u);
    ASSERT_EQ(p[0].body.size(), 1u);
    EXPECT_EQ(p[0].body[0].kind, StmtKind::Insert);
    EXPECT_EQ(p[1].kind, StmtKind::Update);
    p = plan("IF 1 = 1 IF 2 = 2 DELETE FROM T");
    ASSERT_EQ(p.size(), 1u);
    ASSERT_EQ(p[0].body.size(), 1u);
    EXPECT_EQ(p[0].body[0].kind, StmtKind::If);
    ASSERT_EQ(p[0].body[0].body.size(), 1u);
    EXPECT_EQ(p[0].body[0].body[0].kind, StmtKind::Delete);

    // A broken condition or body fails the batch before anything runs.
    EXPECT_EQ(errorOf("IF ROLLBACK"), 156);
    EXPECT_EQ(errorOf("IF 1 = 1"), 102);
    EXPECT_EQ(errorOf("IF @x = 1 SELECT 1"), 137);
    // IF nested without end is refused, not recursed into until the stack runs out.
    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "IF 1 = 1 ";
    EXPECT_EQ(errorOf(deep + "SELECT 1"), 191);
}

// Every read the workstation sends translates (running them is the engine test's part).
TEST(TsqlTranslate, EveryWorkstationReadTranslates) {
    for (const auto& st : tsql_statements::reads()) {
        SCOPED_TRACE(st.what);
        std::vector<PlannedStatement> p;
        ASSERT_NO_THROW(p = plan(st.sql));
        ASSERT_EQ(p.size(), 1u);
        if (p[0].kind == StmtKind::Exec) {
            EXPECT_FALSE(p[0].routine.empty());
            continue;
        }
        EXPECT_EQ(p[0].kind, StmtKind::Select);
        EXPECT_EQ(p[0].sql.find("dbo."), std::string::npos);
        EXPECT_EQ(p[0].sql.find("TOP"), std::string::npos);
    }
}

// ---- EXEC -----------------------------------------------------------------------------------

TEST(TsqlExec, PositionalArgumentsOfTheLogin) {
    auto p = plan("EXEC GET_USER 'o''brien','ABC',NULL, 'QTL 33', '10.0.0.5', 'PC7', N'Ёж','0','4'");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].kind, StmtKind::Exec);
    EXPECT_EQ(p[0].routine, "GET_USER");
    ASSERT_EQ(p[0].args.size(), 9u);
    EXPECT_EQ(std::get<std::string>(p[0].args[0].value), "o'brien");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(p[0].args[2].value));
    EXPECT_EQ(std::get<std::string>(p[0].args[6].value), "Ёж");
    EXPECT_EQ(std::get<std::string>(p[0].args[8].value), "4");
    for (const auto& a : p[0].args) EXPECT_TRUE(a.name.empty());
}

TEST(TsqlExec, NamedArgumentsWithAnySpacing) {
    auto p = plan(" EXEC dbo.GET_KPV_Students  @id_group = 5,  @id_discipline = -7, @kredits = 5.0,@id_user=1");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].routine, "GET_KPV_Students");
    ASSERT_EQ(p[0].args.size(), 4u);
    EXPECT_EQ(p[0].args[0].name, "@id_group");
    EXPECT_EQ(std::get<std::int64_t>(p[0].args[0].value), 5);
    EXPECT_EQ(std::get<std::int64_t>(p[0].args[1].value), -7);
    EXPECT_DOUBLE_EQ(std::get<double>(p[0].args[2].value), 5.0);
    EXPECT_EQ(p[0].args[3].name, "@id_user");
    EXPECT_EQ(plan("Execute SP_X @a = 'x'")[0].routine, "SP_X");
}

TEST(TsqlExec, MissingValuesAreSyntaxErrors) {
    EXPECT_EQ(errorText("EXEC SP_Qtl33GetDisciplines @id_a_year =,@id_w_s =1"), "Incorrect syntax near ','.");
    EXPECT_EQ(errorText("EXEC GetKPVStudentInfo @id_student = 1 ,@kredits =  "), "Incorrect syntax near '='.");
    EXPECT_EQ(errorOf("EXEC X 1,,2"), 102);
    EXPECT_EQ(errorOf("EXEC X 1,"), 102);
    EXPECT_EQ(errorOf("EXEC X @a = 1, 2"), 119);
    EXPECT_EQ(errorOf("EXEC X @a = 1 + 1"), 102);
    EXPECT_EQ(errorOf("EXEC X @a = @b"), 137);
}

TEST(TsqlExec, BareRoutineNameOnlyAtTheStartOfABatch) {
    auto p = plan("sp_datatype_info_100 11");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].kind, StmtKind::Exec);
    EXPECT_EQ(p[0].routine, "sp_datatype_info_100");
    EXPECT_EQ(std::get<std::int64_t>(p[0].args[0].value), 11);
    EXPECT_EQ(plan("[dbo].[some_proc] 'a' SELECT 1").size(), 2u);
}

// ---- SET and transactions -------------------------------------------------------------------

TEST(TsqlSet, OptionsAreParsedOrRefused) {
    auto p = plan(
        "SET DATEFORMAT dmy SET XACT_ABORT ON SET NOCOUNT OFF SET ANSI_NULLS, QUOTED_IDENTIFIER ON "
        "SET TEXTSIZE 2147483647 SET LANGUAGE us_english SET TRANSACTION ISOLATION LEVEL READ COMMITTED");
    ASSERT_EQ(p.size(), 7u);
    EXPECT_EQ(p[0].options[0].kind, SetOption::Kind::DateFormat);
    EXPECT_EQ(p[0].options[0].value, "dmy");
    EXPECT_EQ(p[1].options[0].kind, SetOption::Kind::XactAbort);
    EXPECT_TRUE(p[1].options[0].on);
    EXPECT_EQ(p[2].options[0].kind, SetOption::Kind::NoCount);
    EXPECT_FALSE(p[2].options[0].on);
    EXPECT_EQ(p[3].options.size(), 2u);
    EXPECT_EQ(errorOf("SET DATEFORMAT xyz"), 2741);
    EXPECT_EQ(errorOf("SET ANSI_NULLS OFF"), 40517);  // would change what "= NULL" finds
    EXPECT_EQ(plan("SET IMPLICIT_TRANSACTIONS ON")[0].options[0].kind, SetOption::Kind::ImplicitTransactions);
    EXPECT_EQ(errorOf("SET FMTONLY ON"), 40517);  // would answer with column lists and no rows
    EXPECT_EQ(errorText("SET BOGUS ON"), "'BOGUS' is not a recognized SET option.");
    EXPECT_EQ(errorOf("SET NOCOUNT"), 102);
}

TEST(TsqlSet, TransactionStatements) {
    auto p = plan("BEGIN TRAN BEGIN TRANSACTION t1 COMMIT COMMIT TRAN ROLLBACK TRANSACTION ROLLBACK");
    ASSERT_EQ(p.size(), 6u);
    EXPECT_EQ(p[0].kind, StmtKind::BeginTran);
    EXPECT_EQ(p[1].kind, StmtKind::BeginTran);
    EXPECT_EQ(p[2].kind, StmtKind::CommitTran);
    EXPECT_EQ(p[3].kind, StmtKind::CommitTran);
    EXPECT_EQ(p[4].kind, StmtKind::RollbackTran);
    EXPECT_EQ(p[5].kind, StmtKind::RollbackTran);
}
}  // namespace

namespace {

TEST(TsqlTranslate, DeepNestingIsRefusedNotACrash) {
    EXPECT_EQ(errorOf("SELECT " + std::string(100000, '(') + "1" + std::string(100000, ')')), 191);
    EXPECT_EQ(errorOf("SELECT " + std::string(50, '(') + "1" + std::string(50, ')')), 0);
}

}  // namespace
