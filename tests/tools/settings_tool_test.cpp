// qtl-settings as the administrator runs it: the password on standard input or typed at a
// terminal, and `check` signing in to a live qtl-devserver through the workstation's own
// connection code.
#include "DevServer.h"
#include "platform/SettingsFile.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using qtltest::DevServer;

namespace {

struct Result {
    int code = -1;
    QString out, err;
    QString all() const { return out + err; }
};

// `asUser`: the uid and gid the program runs with (as root only), nullopt for our own.
Result runSettings(const QStringList& args, const QByteArray& input = {},
                   std::optional<std::pair<uid_t, gid_t>> asUser = std::nullopt) {
    QProcess p;
    if (asUser)
        p.setChildProcessModifier([ids = *asUser] {
            if (setgroups(0, nullptr) != 0 || setgid(ids.second) != 0 || setuid(ids.first) != 0) _exit(126);
        });
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

namespace {

QStringList writeArgs(const QString& file, const QString& server) {
    return {QStringLiteral("write"),      file,
            QStringLiteral("--server"),   server,
            QStringLiteral("--database"), QStringLiteral("QTL"),
            QStringLiteral("--user"),     QStringLiteral("qtl_entry")};
}

struct stat statOf(const QString& path) {
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st;
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

}  // namespace

// A 0640 file of the operators' group must stay theirs: a group reset to root locks every
// operator out ("File access denied" at sign-in).
TEST(SettingsToolWrite, AReplacedFileKeepsItsOwnerGroupAndMode) {
    if (geteuid() != 0) GTEST_SKIP() << "giving the file another owner and group needs root";
    struct Case {
        const char* owner;
        const char* group;
        mode_t mode;
    };
    const Case cases[] = {{"root", "nogroup", 0640}, {"daemon", "daemon", 0600}, {"nobody", "daemon", 0604}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.owner) + ":" + c.group);
        const passwd* pw = getpwnam(c.owner);
        const group* gr = getgrnam(c.group);
        if (!pw || !gr) GTEST_SKIP() << "no user " << c.owner << " or group " << c.group << " here";
        const uid_t uid = pw->pw_uid;
        const gid_t gid = gr->gr_gid;
        Site site;
        ASSERT_EQ(runSettings(writeArgs(site.settings(), QStringLiteral("old")), "old_pw\n").code, 0);
        const QByteArray path = QFile::encodeName(site.settings());
        ASSERT_EQ(chown(path.constData(), uid, gid), 0);
        ASSERT_EQ(chmod(path.constData(), c.mode), 0);

        const Result r = runSettings(writeArgs(site.settings(), QStringLiteral("10.0.0.5,1433")), "new_pw\n");
        ASSERT_EQ(r.code, 0) << r.all().toStdString();
        const struct stat after = statOf(site.settings());
        EXPECT_EQ(after.st_uid, uid);
        EXPECT_EQ(after.st_gid, gid);
        EXPECT_EQ(after.st_mode & 07777, c.mode);
        EXPECT_EQ(qtl::ReadSettingsFile(site.settings()).DataSource, QStringLiteral("10.0.0.5,1433"));
        EXPECT_EQ(filesIn(site.data()), QStringList{QStringLiteral("QTL")});
    }
}

// Someone who may write the file but not give a new one its owner: nothing is replaced.
TEST(SettingsToolWrite, AnOwnerThatCannotBeKeptLeavesTheFileAsItWas) {
    if (geteuid() != 0) GTEST_SKIP() << "running the tool as another user needs root";
    const passwd* nobody = getpwnam("nobody");
    if (!nobody) GTEST_SKIP() << "no user nobody here";
    Site site;
    ASSERT_EQ(runSettings(writeArgs(site.settings(), QStringLiteral("old")), "old_pw\n").code, 0);
    // Root's file and folder, both writable by everyone.
    ASSERT_EQ(chmod(QFile::encodeName(site.dir.path()).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(site.data()).constData(), 0777), 0);
    ASSERT_EQ(chmod(QFile::encodeName(site.settings()).constData(), 0666), 0);
    const QByteArray before = readAll(site.settings());

    const Result r = runSettings(writeArgs(site.settings(), QStringLiteral("new")), "new_pw\n",
                                 std::make_pair(nobody->pw_uid, nobody->pw_gid));
    EXPECT_EQ(r.code, 2) << r.all().toStdString();
    EXPECT_TRUE(
        r.err.startsWith(QStringLiteral("Cannot keep the owner and group of %1 (root:root): ").arg(site.settings())))
        << r.err.toStdString();
    EXPECT_EQ(readAll(site.settings()), before);
    EXPECT_EQ(statOf(site.settings()).st_uid, 0u);
    EXPECT_EQ(filesIn(site.data()), QStringList{QStringLiteral("QTL")});
}

// host:port is taken whole for a host name by the drivers; the port goes after a comma.
TEST(SettingsToolWrite, TheServersPortFollowsACommaNeverAColon) {
    struct Case {
        const char* server;
        const char* refusal;  // what the message holds, nullptr when the server is accepted
    };
    const Case cases[] = {
        {"sql01:1433",
         "The server \"sql01:1433\" gives its port after a colon, which the ODBC drivers take as part "
         "of the host name; write it as sql01,1433 (host,port)."},
        {"10.0.0.5:1433", "write it as 10.0.0.5,1433 (host,port)."},
        // 21 bytes either way: the hint says what fits.
        {"sql01.univ.local:1433", "use the server's address, or a short DNS alias or hosts entry"},
        {"sql01.univ.local,1433", "is 21 bytes long in Windows-1251; the settings file holds at most 20."},
        {"10.0.0.5,1433", nullptr},
        {"sql01\\TRAINING", nullptr},
        {"sql01", nullptr},
        {"fe80::1", nullptr},
        {"tcp:sql01,1433", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server);
        Site site;
        const Result r = runSettings(writeArgs(site.settings(), QString::fromUtf8(c.server)), "pw\n");
        if (!c.refusal) {
            EXPECT_EQ(r.code, 0) << r.all().toStdString();
            EXPECT_EQ(qtl::ReadSettingsFile(site.settings()).DataSource, QString::fromUtf8(c.server));
            continue;
        }
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.refusal))) << r.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(site.settings()));
    }
}

// A file that holds host:port (written by hand or by an older tool) is refused by check before any
// connection, so the administrator is not sent after an unknown host.
TEST(SettingsToolCheck, AFileWithHostColonPortIsRefusedWithTheCommaForm) {
    Site site;
    ASSERT_EQ(runSettings(writeArgs(site.settings(), QStringLiteral("127.0.0.1,1")), "pw\n").code, 0);
    // The writer refuses the colon, so it goes in by hand (stored form: every byte minus one).
    QFile file(site.settings());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.seek(42 + 9) && file.putChar(char(':' - 1)));
    file.close();
    ASSERT_EQ(qtl::ReadSettingsFile(site.settings()).DataSource, QStringLiteral("127.0.0.1:1"));
    const Result r = runSettings({QStringLiteral("check"), site.settings()});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("write it as 127.0.0.1,1 (host,port)."))) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("Connection string"))) << r.out.toStdString();
}

// show and check read only a regular file: a FIFO would block them for ever, a directory or a
// device holds no settings. Each is refused at once with the reason.
TEST(SettingsToolRead, AnythingButARegularFileIsRefusedAtOnce) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString folder = dir.filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkdir(folder));
    for (const QString& command : {QStringLiteral("check"), QStringLiteral("show")}) {
        for (const QString& file : {fifo, folder, QStringLiteral("/dev/zero")}) {
            SCOPED_TRACE((command + QLatin1Char(' ') + file).toStdString());
            QElapsedTimer timer;
            timer.start();
            const Result r = runSettings({command, file});
            EXPECT_LT(timer.elapsed(), 30000);
            EXPECT_EQ(r.code, 2);
            EXPECT_TRUE(r.err.contains(QStringLiteral("Cannot read %1: ").arg(file))) << r.err.toStdString();
        }
        const Result r = runSettings({command, fifo});
        EXPECT_TRUE(r.err.contains(QStringLiteral("not a regular file"))) << r.err.toStdString();
    }
}
