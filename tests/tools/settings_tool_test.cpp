// qtl-settings as the administrator runs it: the password on standard input or typed at a
// terminal, and `check` signing in to a live qtl-devserver through the workstation's own
// connection code.
#include "DevServer.h"
#include "Unit10.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using qtltest::DevServer;

namespace {

struct Result {
    int code = -1;
    QString out, err;
    QString all() const { return out + err; }
};

Result runSettings(const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    p.start(QStringLiteral(QTL_SETTINGS_PATH), args);
    EXPECT_TRUE(p.waitForStarted(10000));
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(60000));
    Result r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A site folder: Data/QTL as the workstation's installation holds it.
struct Site {
    QTemporaryDir dir;
    QString data() const { return dir.filePath(QStringLiteral("Data")); }
    QString settings() const { return dir.filePath(QStringLiteral("Data/QTL")); }
    Site() { QDir(dir.path()).mkpath(QStringLiteral("Data")); }
};

Result writeFor(const Site& site, const DevServer& server, const QString& user, const QByteArray& passwordLine) {
    return runSettings({QStringLiteral("write"), site.settings(), QStringLiteral("--server"),
                        QStringLiteral("127.0.0.1,%1").arg(server.port()), QStringLiteral("--database"),
                        QStringLiteral("QTL"), QStringLiteral("--user"), user},
                       passwordLine);
}

int loginsOf(const DevServer& server, const QString& user) {
    int n = 0;
    for (const auto& e : server.log())
        if (e.kind == QLatin1String("login") && e.user.compare(user, Qt::CaseInsensitive) == 0) ++n;
    return n;
}

}  // namespace

TEST(SettingsToolCheck, AWrittenFileSignsInAsTheWorkstationWould) {
    DevServer server;
    server.start();
    const auto [user, password] = server.settingsAccount();
    Site site;
    const Result written = writeFor(site, server, user, password.toUtf8() + "\n");
    ASSERT_EQ(written.code, 0) << written.all().toStdString();
    EXPECT_FALSE(written.all().contains(password));
    // Byte for byte what the server's own --write-settings gives for the same account.
    const QString reference = site.dir.filePath(QStringLiteral("reference"));
    server.writeSettingsFile(reference);
    EXPECT_EQ(readAll(site.settings()), readAll(reference));

    const Result checked = runSettings({QStringLiteral("check"), site.settings()});
    EXPECT_EQ(checked.code, 0) << checked.all().toStdString();
    EXPECT_TRUE(
        checked.out.contains(QStringLiteral("OK: 127.0.0.1,%1 accepted the account %2").arg(server.port()).arg(user)))
        << checked.out.toStdString();
    EXPECT_TRUE(checked.out.contains(QStringLiteral("PWD={********}"))) << checked.out.toStdString();
    EXPECT_FALSE(checked.all().contains(password));
    EXPECT_EQ(loginsOf(server, user), 1);
}

TEST(SettingsToolCheck, RefusalsShowTheDriversTextAndNeverThePassword) {
    DevServer server;
    server.start();
    const auto account = server.settingsAccount();
    Site site;
    ASSERT_EQ(writeFor(site, server, account.first, "wrong_pw_7\n").code, 0);
    Result r = runSettings({QStringLiteral("check"), site.settings()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(
        r.err.startsWith(QStringLiteral("FAILED: could not sign in as ") + account.first + QStringLiteral(": ")))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("Login failed"))) << r.err.toStdString();
    EXPECT_FALSE(r.all().contains(QStringLiteral("wrong_pw_7")));

    // A password that the server's own message repeats (it names the account) is masked there.
    ASSERT_EQ(writeFor(site, server, account.first, account.first.toUtf8() + "\n").code, 0);
    r = runSettings({QStringLiteral("check"), site.settings()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Login failed"))) << r.err.toStdString();
    EXPECT_FALSE(r.all().contains(account.first)) << r.all().toStdString();

    // Nobody listening: the driver's text, exit 1.
    server.stop();
    r = runSettings({QStringLiteral("check"), site.settings()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("FAILED: "))) << r.err.toStdString();
}

TEST(SettingsToolCheck, TheDriverNamedBesideTheFileIsTheOneUsed) {
    DevServer server;
    server.start();
    const auto [user, password] = server.settingsAccount();
    Site site;
    ASSERT_EQ(writeFor(site, server, user, password.toUtf8() + "\n").code, 0);
    {
        QFile driver(site.dir.filePath(QStringLiteral("Data/driver")));
        ASSERT_TRUE(driver.open(QIODevice::WriteOnly));
        driver.write("# the site's driver\nNo Such ODBC Driver 99\n");
    }
    const Result r = runSettings({QStringLiteral("check"), site.settings()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains(QStringLiteral("ODBC driver: No Such ODBC Driver 99 (named in ")))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Driver={No Such ODBC Driver 99};")));
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("FAILED: "))) << r.err.toStdString();
    EXPECT_EQ(loginsOf(server, user), 0);
}

TEST(SettingsToolWrite, PasswordFromStandardInputIsItsFirstLineOnly) {
    Site site;
    const QStringList args = {
        QStringLiteral("write"),      site.settings(),       QStringLiteral("--server"), QStringLiteral("srv"),
        QStringLiteral("--database"), QStringLiteral("QTL"), QStringLiteral("--user"),   QStringLiteral("u")};
    Result r = runSettings(args, "Пароль с пробелом \r\nsecond line\n");
    ASSERT_EQ(r.code, 0) << r.all().toStdString();
    EXPECT_EQ(qtl::ReadSettingsFile(site.settings()).Password, QStringLiteral("Пароль с пробелом "));
    const QByteArray before = readAll(site.settings());
    r = runSettings(args, "");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, QStringLiteral("No password on standard input (give it as its first line).\n"));
    EXPECT_EQ(readAll(site.settings()), before);
}

namespace {

// Runs qtl-settings on a pseudo-terminal, answering each prompt with the next line; returns the
// exit code and everything the terminal showed.
int runOnTerminal(const QStringList& args, const QList<QByteArray>& answers, QByteArray& screen) {
    QList<QByteArray> argv8;
    argv8 << QByteArray("qtl-settings");
    for (const QString& a : args) argv8 << a.toUtf8();
    std::vector<char*> argv;
    for (QByteArray& a : argv8) argv.push_back(a.data());
    argv.push_back(nullptr);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return -2;
    if (pid == 0) {
        execv(QTL_SETTINGS_PATH, argv.data());
        _exit(127);
    }
    QDeadlineTimer deadline(20000);
    qsizetype answered = 0;
    const QList<QByteArray> prompts = {"Password: ", "Repeat the password: "};
    for (;;) {
        pollfd pfd{master, POLLIN, 0};
        if (poll(&pfd, 1, int(qMax<qint64>(deadline.remainingTime(), 0))) <= 0) break;
        char buffer[512];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once the program has ended
        screen.append(buffer, n);
        if (answered < answers.size() && answered < prompts.size() && screen.count(prompts[answered]) > 0 &&
            screen.lastIndexOf(prompts[answered]) + prompts[answered].size() == screen.size()) {
            const QByteArray line = answers[answered++] + "\n";
            if (write(master, line.constData(), size_t(line.size())) != line.size()) break;
        }
    }
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(SettingsToolWrite, OnATerminalThePasswordIsAskedTwiceAndNeverEchoed) {
    Site site;
    const QStringList args = {
        QStringLiteral("write"),      site.settings(),       QStringLiteral("--server"), QStringLiteral("srv"),
        QStringLiteral("--database"), QStringLiteral("QTL"), QStringLiteral("--user"),   QStringLiteral("u")};
    QByteArray screen;
    const QByteArray secret = QStringLiteral("Тайна_пароль1").toUtf8();
    ASSERT_EQ(runOnTerminal(args, {secret, secret}, screen), 0) << screen.toStdString();
    EXPECT_TRUE(screen.contains("Repeat the password: ")) << screen.toStdString();
    EXPECT_FALSE(screen.contains(secret)) << screen.toStdString();
    EXPECT_EQ(qtl::ReadSettingsFile(site.settings()).Password, QStringLiteral("Тайна_пароль1"));

    // Two different entries: nothing is written over the file.
    const QByteArray before = readAll(site.settings());
    screen.clear();
    EXPECT_EQ(runOnTerminal(args, {"first_pw", "other_pw"}, screen), 2);
    EXPECT_TRUE(screen.contains("The two passwords differ; nothing was written.")) << screen.toStdString();
    EXPECT_FALSE(screen.contains("first_pw"));
    EXPECT_EQ(readAll(site.settings()), before);
}
