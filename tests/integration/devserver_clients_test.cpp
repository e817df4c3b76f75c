// qtl-devserver with the command-line clients of the machine: FreeTDS tsql and unixODBC isql,
// signing in as the workstation does (GET_USER with the settings-file account) and running the
// workstation's statements with the operator account it hands out.
#include "DevServer.h"
#include "client_process.h"
#include "qtl/demo_ids.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace devserver::qtl::demo;

namespace {

using clienttest::Output;
using clienttest::runClient;

class Clients : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"tsql", "isql"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        server.start();
    }

    // One tsql session running the statements one after another.
    Output tsql(const QStringList& statements, const QString& password = QString::fromLatin1(kOperatorDbPassword),
                const QString& user = QString::fromLatin1(kOperatorDbUser)) {
        QByteArray input;
        for (const QString& s : statements) input += s.toUtf8() + "\ngo\n";
        input += "exit\n";
        return runClient(
            QStringLiteral("tsql"),
            {QStringLiteral("-H"), server.host(), QStringLiteral("-p"), QString::number(server.port()),
             QStringLiteral("-U"), user, QStringLiteral("-P"), password, QStringLiteral("-D"), QStringLiteral("QTL")},
            input);
    }

    qtltest::DevServer server;
};

const QString kRights = QStringLiteral(
    "SELECT TOP (1) id_QTL_user, visible, QTL_login, canRemoveDFSFromExStudent FROM QTL_User WHERE "
    "(canRemoveDFSFromExStudent = 1)  AND (QTL_login ='operator')");

TEST_F(Clients, TsqlRunsTheSignInStatements) {
    ASSERT_EQ(server.settingsAccount().first, QString::fromLatin1(kSettingsUser));
    // The settings-file account: GET_USER and nothing else.
    const QString settingsPassword = QString::fromLatin1(kSettingsPassword),
                  settingsUser = QString::fromLatin1(kSettingsUser);
    const Output entry =
        tsql({QStringLiteral("EXEC GET_USER 'operator','4B583376B2767B923C3E1DA60D10DE59',NULL, 'QTL 33', "
                             "'10.0.0.5', 'PC7', 'operator','0','4'"),
              QStringLiteral("SELECT * FROM w_s")},
             settingsPassword, settingsUser);
    ASSERT_EQ(entry.exitCode, 0) << entry.err.toStdString();
    EXPECT_TRUE((entry.out + entry.err)
                    .contains(QStringLiteral(
                        "The SELECT permission was denied on the object 'w_s', database 'QTL', schema 'dbo'.")))
        << entry.out.toStdString() << entry.err.toStdString();
    EXPECT_FALSE(entry.out.contains(QStringLiteral("Осенний")));
    // The account it handed out runs the rest.
    const Output o =
        tsql({QStringLiteral("SELECT * FROM w_s"),
              QStringLiteral("SELECT [id_field]  FROM [QTL].[dbo].[VuzDefaults]  WHERE id_vuz_defaults=26"), kRights});
    ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
    EXPECT_FALSE(o.err.contains(QStringLiteral("Msg "))) << o.err.toStdString();
    const QString s = entry.out + o.out;
    // Kinds of term, Cyrillic intact.
    EXPECT_TRUE(s.contains(
        QStringLiteral("id_w_s\tp42\tws_sort\n1\tОсенний\t1\n2\tВесенний\t2\n3\tЛетний\t3\n(3 rows affected)")))
        << s.toStdString();
    EXPECT_TRUE(s.contains(QStringLiteral("id_field\n%1\n(1 row affected)").arg(kCreditLimitOz0))) << s.toStdString();
    // GET_USER: the stored form of qtl_op / op_pw_33, user id, normal password state, no refusal, version.
    EXPECT_TRUE(s.contains(QStringLiteral("psk^no\tno^ov^22\t%1\t50\t\t%2\n").arg(kUserOperator).arg(kNewestVersion)))
        << s.toStdString();
    EXPECT_TRUE(
        s.contains(QStringLiteral("id_QTL_user\tvisible\tQTL_login\tcanRemoveDFSFromExStudent\n%1\t1\toperator\t1\n")
                       .arg(kUserOperator)))
        << s.toStdString();

    // Every statement reached the server as a batch, none as an RPC.
    // tsql ends each batch with the line break it read.
    const QStringList batches = server.batches();
    EXPECT_TRUE(batches.contains(kRights + QLatin1Char('\n'))) << batches.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(server.anyRpc());
}

TEST_F(Clients, TsqlWithAWrongPasswordIsRefused) {
    const Output o =
        tsql({QStringLiteral("SELECT * FROM w_s")}, QStringLiteral("not-it"), QString::fromLatin1(kSettingsUser));
    EXPECT_TRUE(o.err.contains(QStringLiteral("Login failed for user 'qtl_entry'.")) ||
                o.out.contains(QStringLiteral("Login failed for user 'qtl_entry'.")))
        << o.out.toStdString() << o.err.toStdString();
    EXPECT_FALSE(o.out.contains(QStringLiteral("Осенний")));
    // The server still answers a good login.
    EXPECT_TRUE(tsql({QStringLiteral("SELECT * FROM w_s")}).out.contains(QStringLiteral("Осенний")));
}

TEST_F(Clients, IsqlRunsAStatementByConnectionString) {
    const QString cs =
        server.odbcString(QString::fromLatin1(kOperatorDbUser), QString::fromLatin1(kOperatorDbPassword));
    // -e: SQLExecDirect, a plain batch as the workstation sends.
    const Output o = runClient(QStringLiteral("isql"),
                               {QStringLiteral("-k"), cs, QStringLiteral("-b"), QStringLiteral("-e"),
                                QStringLiteral("-v"), QStringLiteral("-c"), QStringLiteral("-d|")},
                               kRights.toUtf8() + "\n");
    ASSERT_EQ(o.exitCode, 0) << o.out.toStdString() << o.err.toStdString();
    EXPECT_EQ(o.out, QStringLiteral("id_QTL_user|visible|QTL_login|canRemoveDFSFromExStudent\n%1|1|operator|1\n")
                         .arg(kUserOperator));
    const Output cyr =
        runClient(QStringLiteral("isql"),
                  {QStringLiteral("-k"), cs, QStringLiteral("-b"), QStringLiteral("-e"), QStringLiteral("-d|")},
                  "SELECT * FROM w_s\n");
    EXPECT_EQ(cyr.out, QStringLiteral("1|Осенний|1\n2|Весенний|2\n3|Летний|3\n")) << cyr.err.toStdString();

    EXPECT_FALSE(server.anyRpc());

    // isql's default prepares each statement, which the driver sends as sp_prepexec (then
    // sp_unprepare) RPCs: without parameters they run like the batch.
    const Output prepared =
        runClient(QStringLiteral("isql"),
                  {QStringLiteral("-k"), cs, QStringLiteral("-b"), QStringLiteral("-v"), QStringLiteral("-d|")},
                  "SELECT * FROM w_s\n" + kRights.toUtf8() + "\nSELECT * FROM no_such_table\n");
    EXPECT_EQ(prepared.exitCode, 0);
    EXPECT_TRUE(prepared.out.startsWith(cyr.out + QStringLiteral("%1|1|operator|1\n").arg(kUserOperator)))
        << prepared.out.toStdString() << prepared.err.toStdString();
    // A failing statement still reports the server's error text.
    EXPECT_TRUE((prepared.out + prepared.err).contains(QStringLiteral("Invalid object name 'no_such_table'.")))
        << prepared.out.toStdString() << prepared.err.toStdString();
    EXPECT_TRUE(server.anyRpc());

    const Output bad =
        runClient(QStringLiteral("isql"),
                  {QStringLiteral("-k"), server.odbcString(QString::fromLatin1(kSettingsUser), QStringLiteral("x")),
                   QStringLiteral("-b"), QStringLiteral("-v")},
                  "SELECT 1\n");
    EXPECT_NE(bad.exitCode, 0);
    EXPECT_TRUE((bad.out + bad.err).contains(QStringLiteral("Login failed for user 'qtl_entry'.")))
        << bad.out.toStdString();
}

}  // namespace
