// qtl-devserver with a third client that shares no code with the others: jTDS, the JDBC driver
// (TDS 7.1), run as one Java program for every case. It signs in with the login in clear and with
// the login (and the whole session) in TLS, runs the workstation's reads, GET_USER and the removal batch
// with its cleanup, and reads result types and flags as JDBC reports them.
#include "DevServer.h"
#include "client_process.h"
#include "statements/Statements.h"
#include "qtl/demo_ids.h"
#include "../unit/tsql_statements.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <map>

using namespace devserver::qtl::demo;

// Failures show texts as texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QString kJar = QStringLiteral("/usr/share/java/jtds.jar");

// The script's output, split by case.
using CaseLines = std::map<QString, QStringList>;

CaseLines splitCases(const QString& out) {
    CaseLines cases;
    QString current;
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QStringLiteral("case ")) || line == QStringLiteral("end")) {
            current = line.mid(5);
            continue;
        }
        cases[current] << line;
    }
    return cases;
}

class Script {
public:
    void add(const QString& line) { m_text += line.toUtf8() + '\n'; }
    void startCase(const QString& name) { add(QStringLiteral("case ") + name); }
    // A statement as the workstation sends it: lines joined with CR LF.
    void sql(const QString& text) {
        QString t = text;
        t.replace(QStringLiteral("\r\n"), QStringLiteral("\\n"));
        add(QStringLiteral("sql ") + t);
    }
    QByteArray text() const { return m_text; }

private:
    QByteArray m_text;
};

QString url(const qtltest::DevServer& server, const QString& ssl) {
    return QStringLiteral("jdbc:jtds:sqlserver://127.0.0.1:%1/QTL;ssl=%2;loginTimeout=20;socketTimeout=60")
        .arg(server.port())
        .arg(ssl);
}

// One column as the script prints it, without the display size: name|type|jdbc type|precision|
// scale|nullable (0 no, 1 yes)|auto-increment.
struct JdbcColumn {
    const char* expression;
    const char* described;
    const char* value;
};

const JdbcColumn kColumns[] = {
    {"SELECT id_QTL_user AS x FROM QTL_User WHERE QTL_login = 'operator'", "x|int|4|10|0|0|false", "1"},
    {"SELECT visible AS x FROM QTL_User WHERE QTL_login = 'operator'", "x|bit|-7|1|0|0|false", "1"},
    {"SELECT QTL_login AS x FROM QTL_User WHERE QTL_login = 'operator'", "x|nvarchar|12|50|0|0|false", "operator"},
    {"SELECT user_name AS x FROM QTL_User WHERE QTL_login = 'operator'", "x|nvarchar|12|150|0|1|false", ""},
    {"SELECT id_disciplineForStudent AS x FROM DisciplineForStudent WHERE id_disciplineForStudent = 1",
     "x|int identity|4|10|0|0|true", "1"},
    {"SELECT CAST(7 AS smallint) AS x", "x|smallint|5|5|0|0|false", "7"},
    {"SELECT CAST(7 AS tinyint) AS x", "x|tinyint|-6|3|0|0|false", "7"},
    {"SELECT CAST(1 AS bit) AS x", "x|bit|-7|1|0|0|false", "1"},
    {"SELECT CAST(7 AS bigint) AS x", "x|bigint|-5|19|0|0|false", "7"},
    {"SELECT CAST(1.5 AS decimal(10,3)) AS x", "x|decimal|3|10|3|0|false", "1.500"},
    {"SELECT CAST(2 AS numeric(5,1)) AS x", "x|decimal|3|5|1|0|false", "2.0"},
    {"SELECT 'abc' AS x", "x|varchar|12|3|0|0|false", "abc"},
    {"SELECT CAST(N'Ёлкина' AS varchar(20)) AS x", "x|varchar|12|20|0|0|false", "Ёлкина"},
    {"SELECT N'абв' AS x", "x|nvarchar|12|3|0|0|false", "абв"},
    {"SELECT CAST(NULL AS INT) AS x", "x|int|4|10|0|1|false", "NULL"},
    {"SELECT SUM(kredits) AS x FROM DisciplineForStudent WHERE id_student = -1", "x|int|4|10|0|1|false", "NULL"},
    {"SELECT CAST('2026-12-31' AS datetime) AS x", "x|datetime|93|23|3|0|false", "2026-12-31 00:00:00.0"},
    // A client older than TDS 7.3 gets a date as nvarchar(10), as the server sends it.
    {"SELECT CAST('2026-12-31' AS date) AS x", "x|nvarchar|12|10|0|0|false", "2026-12-31"},
    {"SELECT @@MAX_PRECISION AS x", "x|tinyint|-6|3|0|0|false", "38"},
};

// What a case printed, without the display sizes of its columns.
QStringList lines(const CaseLines& cases, const QString& name) {
    QStringList out;
    for (QString line : cases.count(name) ? cases.at(name) : QStringList()) {
        if (line.startsWith(QStringLiteral("column "))) line = line.mid(7).section(QLatin1Char('|'), 0, 6);
        out << line;
    }
    return out;
}

bool hasError(const QStringList& l) {
    for (const QString& line : l)
        if (line.startsWith(QStringLiteral("error "))) return true;
    return false;
}

}  // namespace

TEST(Jtds, SignsInRunsTheWorkstationsStatementsAndReadsTheServersTypes) {
    if (QStandardPaths::findExecutable(QStringLiteral("java")).isEmpty() || !QFileInfo::exists(kJar))
        GTEST_SKIP() << "java or jTDS (libjtds-java) is not installed";
    qtltest::DevServer server;
    server.start();
    const QString op =
        QString::fromLatin1(kOperatorDbUser) + QLatin1Char(' ') + QString::fromLatin1(kOperatorDbPassword);
    const int registration = server
                                 .sqliteScalar(QStringLiteral("SELECT min(id_disciplineForStudent) FROM "
                                                              "DisciplineForStudent WHERE id_student = %1")
                                                   .arg(kStudentBelova))
                                 .toInt();
    ASSERT_GT(registration, 0);

    Script s;
    // Sign-in: the login in clear (ssl=off) and the whole session, login included, in TLS (require).
    // Not ssl=request (TLS for the login only): jTDS closes its TLS layer on the newer JVMs in a
    // way that can swallow an answer that arrived before, and then waits for it for ever.
    for (const char* ssl : {"off", "require"}) {
        s.startCase(QStringLiteral("signin-") + QLatin1String(ssl));
        s.add(QStringLiteral("connect ") + url(server, QLatin1String(ssl)) + QLatin1Char(' ') + op);
        s.sql(QStringLiteral("SELECT @@TRANCOUNT, @@LOCK_TIMEOUT, @@TEXTSIZE"));
    }
    // GET_USER with the settings-file account.
    s.startCase(QStringLiteral("getuser"));
    s.add(QStringLiteral("connect ") + url(server, QStringLiteral("require")) + QLatin1Char(' ') +
          QString::fromLatin1(kSettingsUser) + QLatin1Char(' ') + QString::fromLatin1(kSettingsPassword));
    s.sql(
        QStringLiteral("EXEC GET_USER 'operator','4B583376B2767B923C3E1DA60D10DE59',NULL, 'QTL 33', '10.0.0.5', "
                       "'PC7', 'operator','0','4'"));
    // The workstation's reads as the operator.
    s.startCase(QStringLiteral("operator"));
    s.add(QStringLiteral("connect ") + url(server, QStringLiteral("require")) + QLatin1Char(' ') + op);
    for (const auto& read : tsql_statements::reads()) {
        s.startCase(QStringLiteral("read-") + QLatin1String(read.what));
        s.sql(QString::fromStdString(read.sql));
    }
    int n = 0;
    for (const JdbcColumn& c : kColumns) {
        s.startCase(QStringLiteral("column-%1").arg(n++));
        s.sql(QString::fromUtf8(c.expression));
    }
    // The removal batch with its audit row, then the cleanup batch, as the workstation sends them.
    s.startCase(QStringLiteral("removal"));
    const QStringList removal = qtl::statements::atomicBatch(qtl::statements::auditedDeletion(
        qtl::statements::removal(registration), QStringLiteral("(id_disciplineForStudent[%1]).").arg(registration),
        QStringLiteral("DisciplineForStudent"), registration, QStringLiteral("operator"), QStringLiteral("PC7")));
    s.sql(removal.join(QStringLiteral("\r\n")));
    s.startCase(QStringLiteral("cleanup"));
    s.sql(qtl::statements::endTransaction().join(QStringLiteral("\r\n")));
    // Manual commit (SET IMPLICIT_TRANSACTIONS ON): a read opens the transaction, rollback ends it.
    s.startCase(QStringLiteral("manual-commit"));
    s.add(QStringLiteral("autocommit off"));
    s.sql(QStringLiteral("SELECT @@TRANCOUNT"));
    s.sql(QStringLiteral("SELECT count(*) FROM w_s"));
    s.sql(QStringLiteral("SELECT @@TRANCOUNT"));
    s.sql(QStringLiteral("INSERT INTO DisciplineForStudent (id_student, id_discipline) VALUES (%1, 779)")
              .arg(kStudentZhdanov));
    s.add(QStringLiteral("rollback"));
    s.sql(QStringLiteral("SELECT @@TRANCOUNT"));
    s.add(QStringLiteral("autocommit on"));
    s.startCase(QStringLiteral("identity"));
    s.sql(QStringLiteral("INSERT INTO QTL_LOG (id_QTL_LOG, descr) VALUES (1, 'x')"));
    s.startCase(QStringLiteral("lock-timeout"));
    s.sql(QStringLiteral("SET LOCK_TIMEOUT 1500"));
    s.sql(QStringLiteral("SELECT @@LOCK_TIMEOUT"));

    const clienttest::Output o =
        clienttest::runClient(QStringLiteral("java"),
                              {QStringLiteral("-Xshare:auto"), QStringLiteral("-XX:TieredStopAtLevel=1"),
                               QStringLiteral("-cp"), kJar, QStringLiteral(QTL_JTDS_SCRIPT)},
                              s.text());
    ASSERT_EQ(o.exitCode, 0) << o.all().toStdString();
    ASSERT_TRUE(o.out.endsWith(QStringLiteral("end\n"))) << o.all().toStdString();
    const CaseLines cases = splitCases(o.out);

    {
        SCOPED_TRACE("sign-in");
        for (const char* ssl : {"off", "require"}) {
            const QStringList l = lines(cases, QStringLiteral("signin-") + QLatin1String(ssl));
            EXPECT_EQ(l, (QStringList{QStringLiteral("connected"), QStringLiteral("|int|4|10|0|0|false"),
                                      QStringLiteral("|int|4|10|0|0|false"), QStringLiteral("|int|4|10|0|0|false"),
                                      QStringLiteral("row 0|-1|2147483647")}))
                << ssl;
        }
    }
    {
        SCOPED_TRACE("GET_USER");
        const QStringList l = lines(cases, QStringLiteral("getuser"));
        ASSERT_FALSE(hasError(l)) << l.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(l.contains(QStringLiteral("row psk^no|no^ov^22|%1|50||%2").arg(kUserOperator).arg(kNewestVersion)))
            << l.join(QLatin1Char('\n')).toStdString();
    }
    {
        SCOPED_TRACE("the workstation's reads");
        EXPECT_EQ(lines(cases, QStringLiteral("operator")), QStringList{QStringLiteral("connected")});
        for (const auto& read : tsql_statements::reads()) {
            const QStringList l = lines(cases, QStringLiteral("read-") + QLatin1String(read.what));
            EXPECT_FALSE(hasError(l)) << read.what << ": " << l.join(QLatin1Char('\n')).toStdString();
            EXPECT_TRUE(l.filter(QRegularExpression(QStringLiteral("^row "))).size() > 0)
                << read.what << ": " << l.join(QLatin1Char('\n')).toStdString();
        }
        // Rights: four NOT NULL columns, the bits as booleans.
        EXPECT_EQ(
            lines(cases, QStringLiteral("read-rights")),
            (QStringList{QStringLiteral("id_QTL_user|int|4|10|0|0|false"), QStringLiteral("visible|bit|-7|1|0|0|false"),
                         QStringLiteral("QTL_login|nvarchar|12|50|0|0|false"),
                         QStringLiteral("canRemoveDFSFromExStudent|bit|-7|1|0|0|false"),
                         QStringLiteral("row 1|1|operator|1")}));
        // The streams' computed name: nvarchar as long as its parts together.
        EXPECT_TRUE(
            lines(cases, QStringLiteral("read-streams")).contains(QStringLiteral("s_fio|nvarchar|12|417|0|1|false")));
    }
    {
        SCOPED_TRACE("types and flags");
        n = 0;
        for (const JdbcColumn& c : kColumns) {
            const QStringList l = lines(cases, QStringLiteral("column-%1").arg(n++));
            ASSERT_EQ(l.size(), 2) << c.expression << ": " << l.join(QLatin1Char('\n')).toStdString();
            EXPECT_EQ(l[0], QString::fromUtf8(c.described)) << c.expression;
            if (*c.value) {
                EXPECT_EQ(l[1], QStringLiteral("row ") + QString::fromUtf8(c.value)) << c.expression;
            }
        }
    }
    {
        SCOPED_TRACE("removal and cleanup");
        EXPECT_EQ(lines(cases, QStringLiteral("removal")),
                  (QStringList{QStringLiteral("count 1"), QStringLiteral("count 1")}));
        EXPECT_FALSE(hasError(lines(cases, QStringLiteral("cleanup"))));
        EXPECT_EQ(server
                      .sqliteScalar(QStringLiteral("SELECT count(*) FROM DisciplineForStudent WHERE "
                                                   "id_disciplineForStudent = %1")
                                        .arg(registration))
                      .toInt(),
                  0);
        EXPECT_EQ(
            server.sqliteScalar(QStringLiteral("SELECT count(*) FROM QTL_LOG WHERE row_id = %1").arg(registration))
                .toInt(),
            1);
    }
    {
        SCOPED_TRACE("manual commit, identity, lock timeout");
        EXPECT_EQ(
            lines(cases, QStringLiteral("manual-commit")),
            (QStringList{QStringLiteral("|int|4|10|0|0|false"), QStringLiteral("row 0"),
                         QStringLiteral("|int|4|10|0|1|false"), QStringLiteral("row 3"),
                         QStringLiteral("|int|4|10|0|0|false"), QStringLiteral("row 1"), QStringLiteral("count 1"),
                         QStringLiteral("|int|4|10|0|0|false"), QStringLiteral("row 0")}));
        EXPECT_EQ(
            server.sqliteScalar(QStringLiteral("SELECT count(*) FROM DisciplineForStudent WHERE id_discipline = 779"))
                .toInt(),
            0);
        EXPECT_EQ(lines(cases, QStringLiteral("identity")),
                  QStringList{QStringLiteral("error 544 Cannot insert explicit value for identity column in table "
                                             "'QTL_LOG' when IDENTITY_INSERT is set to OFF.")});
        EXPECT_EQ(lines(cases, QStringLiteral("lock-timeout")),
                  (QStringList{QStringLiteral("|int|4|10|0|0|false"), QStringLiteral("row 1500")}));
    }
}
