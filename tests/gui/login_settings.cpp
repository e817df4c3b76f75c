// The settings file and connection failures as the login window shows them.
#include "login_helpers.h"

using namespace qtltest::login;

namespace {
QString settingsPath(const qtltest::DevServer& server) {
    return server.tempDir() + QStringLiteral("/Data/QTL");
}
}  // namespace

TEST_F(LoginTest, SettingsFileErrorsStopBeforeAnyConnection) {
    const int mark = server->logMark();
    QFile::remove(settingsPath(*server));
    attempt("operator", "operator");
    ASSERT_EQ(boxes->texts(), QStringList{"File not found"});
    EXPECT_EQ(label(), "");
    EXPECT_FALSE(accepted());

    boxes->clear();
    QFile f(settingsPath(*server));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(83, 'x'));
    f.close();
    attempt("operator", "operator");
    EXPECT_EQ(boxes->texts(), QStringList{"Read beyond end of file"});
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(server->logMark(), mark) << "nothing may reach the server";
    EXPECT_FALSE(qtl::DM_MB->ADOCon->isOpen());
}

TEST_F(LoginTest, LongerSettingsFileReadsLikeEightyFourBytes) {
    rewriteSettings([](QByteArray& b) { b.append(QByteArray(16, '\x7f')); });
    attempt("operator", "operator");
    EXPECT_TRUE(accepted()) << label().toStdString() << boxes->texts().join("|").toStdString();
}

TEST_F(LoginTest, FirstConnectionErrorShowsWithoutTheUserName) {
    rewriteSettings([](QByteArray& b) { b[41] = 0; });  // empty password: the login fails
    attempt("operator", "operator");
    EXPECT_FALSE(accepted());
    // The label as set by the first connection, seen when GET_USER's failure is reported.
    ASSERT_EQ(boxes->labelAtBox.size(), 1);
    EXPECT_TRUE(boxes->labelAtBox.first().endsWith("Login failed for user ''."));
    EXPECT_FALSE(boxes->labelAtBox.first().contains(demo::kSettingsUser));
    EXPECT_TRUE(boxes->texts().first().contains(demo::kSettingsUser));
    EXPECT_EQ(label(), "Неверно ввели логин или пароль.");
    EXPECT_FALSE(qtl::DM_MB->ADOCon->isOpen());
}

TEST_F(LoginTest, LengthByteAboveTwentyAndByteFFReachTheServerAsRead) {
    // User name length 25: the whole 20-byte area is the name.
    rewriteSettings([](QByteArray& b) {
        for (int i = 9; i < 20; ++i) b[i] = 'y' - 1;
        b[40] = char(25);
    });
    int mark = server->logMark();
    attempt("operator", "operator");
    EXPECT_FALSE(accepted());
    const QString longName = QStringLiteral("qtl_entry") + QString(11, QLatin1Char('y'));
    EXPECT_EQ(logins(mark).value(0), longName);

    // A stored 0xFF is a zero byte inside the password: the account no longer matches.
    server->sqliteExec("UPDATE QTL_DbAccount SET name = '" + longName + "' WHERE name = 'qtl_entry'");
    boxes->clear();
    rewriteSettings([](QByteArray& b) { b[20] = char(0xFF); });
    mark = server->logMark();
    attempt("operator", "operator");
    EXPECT_FALSE(accepted());
    EXPECT_EQ(label(), "Неверно ввели логин или пароль.");
    EXPECT_FALSE(boxes->texts().isEmpty());
}

class LoginFailOnTest : public LoginTest {
protected:
    qtltest::DevServer::Options serverOptions() const override {
        qtltest::DevServer::Options o;
        o.failOn = QStringLiteral("VuzDefaults");
        return o;
    }
};

TEST_F(LoginFailOnTest, SecondConnectionFailureEmptiesTheLabelAndLeavesTheWindowUsable) {
    attempt("operator", "operator");
    EXPECT_FALSE(accepted());
    EXPECT_EQ(label(), "");
    ASSERT_EQ(boxes->shown().size(), 1);
    EXPECT_FALSE(qtl::DM_MB->ADOCon->isOpen());

    server->restartWith({});
    boxes->clear();
    press();
    EXPECT_TRUE(accepted()) << label().toStdString() << boxes->texts().join("|").toStdString();
}
