// Login encryption seen from the wire. A relay between the clients and qtl-devserver keeps every
// byte both ways; the workstation's own sign-in, tsql and isql go through it. With the server's
// default the database passwords must not cross in any readable form; with encryption declined
// the login still works and the obfuscated password is there to be read (which shows the search
// would find it). Broken handshakes end only their own connection.
#include "DevServer.h"
#include "client_process.h"
#include "SignIn.h"
#include "Unit10.h"
#include "dm_u.h"
#include "main_u.h"
#include "qtl/demo_ids.h"
#include "qtl/qtl.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using namespace devserver::qtl::demo;

namespace {

// ---- the relay ----------------------------------------------------------------------------------

// Listens on a loopback port, connects every client it accepts to the server and copies bytes
// both ways, keeping a copy of each direction (all connections, in order).
class Relay {
public:
    explicit Relay(int serverPort) : serverPort_(serverPort) {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listenFd_, 16) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("relay: cannot listen");
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~Relay() {
        stop_ = true;
        acceptor_.join();
        for (auto& t : pumps_) t.join();
        ::close(listenFd_);
    }
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    int port() const { return port_; }
    QByteArray toServer() const {
        std::lock_guard lock(mutex_);
        return toServer_;
    }
    QByteArray toClient() const {
        std::lock_guard lock(mutex_);
        return toClient_;
    }
    int connections() const { return connections_; }

private:
    void acceptLoop() {
        while (!stop_) {
            pollfd p{listenFd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<std::uint16_t>(serverPort_));
            if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                if (server >= 0) ::close(server);
                ::close(client);
                continue;
            }
            ++connections_;
            pumps_.emplace_back([this, client, server] { pump(client, server); });
        }
    }

    static bool sendAll(int fd, const char* data, ssize_t n) {
        while (n > 0) {
            const ssize_t w = ::send(fd, data, static_cast<std::size_t>(n), MSG_NOSIGNAL);
            if (w <= 0) return false;
            data += w;
            n -= w;
        }
        return true;
    }

    // Copies until both sides have closed; an end on one side is passed on as a half close.
    void pump(int client, int server) {
        bool clientOpen = true, serverOpen = true;
        char buf[65536];
        while (!stop_ && (clientOpen || serverOpen)) {
            pollfd fds[2] = {{clientOpen ? client : -1, POLLIN, 0}, {serverOpen ? server : -1, POLLIN, 0}};
            if (::poll(fds, 2, 50) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const int from = i == 0 ? client : server, to = i == 0 ? server : client;
                const ssize_t n = ::recv(from, buf, sizeof buf, 0);
                if (n <= 0) {
                    ::shutdown(to, SHUT_WR);
                    (i == 0 ? clientOpen : serverOpen) = false;
                    continue;
                }
                {
                    std::lock_guard lock(mutex_);
                    (i == 0 ? toServer_ : toClient_).append(buf, static_cast<int>(n));
                }
                if (!sendAll(to, buf, n)) clientOpen = serverOpen = false;
            }
        }
        ::close(client);
        ::close(server);
    }

    int serverPort_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread acceptor_;
    std::vector<std::thread> pumps_;  // the acceptor's only until it is joined
    mutable std::mutex mutex_;
    QByteArray toServer_, toClient_;
};

// ---- what a password looks like on the wire ---------------------------------------------------

QByteArray utf16le(const QString& text) {
    QByteArray out;
    for (const QChar c : text) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

// LOGIN7 carries the password in UTF-16LE with every byte's nibbles swapped, then XOR 0xA5.
QByteArray login7Obfuscated(const QString& password) {
    QByteArray out = utf16le(password);
    for (char& b : out) {
        const auto u = static_cast<unsigned char>(b);
        b = char(static_cast<unsigned char>(((u << 4) | (u >> 4)) & 0xFF) ^ 0xA5);
    }
    return out;
}

struct Form {
    const char* name;
    QByteArray bytes;
};

std::vector<Form> passwordForms(const QString& password) {
    return {{"UTF-16LE", utf16le(password)},
            {"LOGIN7 obfuscated", login7Obfuscated(password)},
            {"UTF-8", password.toUtf8()}};
}

// Every form of every password found in the traffic, as "password (form, direction)".
QStringList passwordsSeen(const Relay& relay, const QStringList& passwords) {
    QStringList seen;
    const QByteArray up = relay.toServer(), down = relay.toClient();
    for (const QString& password : passwords)
        for (const Form& f : passwordForms(password)) {
            if (up.contains(f.bytes))
                seen << QStringLiteral("%1 (%2, to the server)").arg(password, QLatin1String(f.name));
            if (down.contains(f.bytes))
                seen << QStringLiteral("%1 (%2, to the client)").arg(password, QLatin1String(f.name));
        }
    return seen;
}

QStringList databasePasswords() {
    return {QString::fromLatin1(kSettingsPassword), QString::fromLatin1(kOperatorDbPassword)};
}

// The server's TLS handshake travels in PRELOGIN packets: a packet of type 0x12 from the server
// whose body starts a TLS handshake record (version 3.x).
bool serverSentTlsHandshake(const Relay& relay) {
    const QByteArray down = relay.toClient();
    for (qsizetype i = 0; i + 11 < down.size(); ++i)
        if (down[i] == 0x12 && down[i + 8] == 0x16 && down[i + 9] == 0x03) return true;
    return false;
}

const QString kRights = QStringLiteral(
    "SELECT TOP (1) id_QTL_user, visible, QTL_login, canRemoveDFSFromExStudent FROM QTL_User WHERE "
    "(canRemoveDFSFromExStudent = 1)  AND (QTL_login ='operator')");

qtltest::DevServer::Options declined() {
    qtltest::DevServer::Options o;
    o.extraArguments = QStringList{QStringLiteral("--encryption"), QStringLiteral("off")};
    return o;
}

// ---- command-line clients -----------------------------------------------------------------------

using clienttest::Output;
using clienttest::runClient;

Output tsql(int port, const QString& user, const QString& password, const QString& statement) {
    return runClient(
        QStringLiteral("tsql"),
        {QStringLiteral("-H"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(port),
         QStringLiteral("-U"), user, QStringLiteral("-P"), password, QStringLiteral("-D"), QStringLiteral("QTL")},
        statement.toUtf8() + "\ngo\nexit\n");
}

// isql with SQLExecDirect (-e): the statement goes as a plain batch.
Output isql(const QString& connectionString, const QString& statement) {
    return runClient(QStringLiteral("isql"),
                     {QStringLiteral("-k"), connectionString, QStringLiteral("-b"), QStringLiteral("-e"),
                      QStringLiteral("-v"), QStringLiteral("-d|")},
                     statement.toUtf8() + "\n");
}

// The DevServer's ODBC string aimed at another port (the relay).
QString viaPort(QString connectionString, int serverPort, int port) {
    return connectionString.replace(QStringLiteral(";Port=%1;").arg(serverPort), QStringLiteral(";Port=%1;").arg(port));
}

bool haveClients() {
    return !QStandardPaths::findExecutable(QStringLiteral("tsql")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("isql")).isEmpty();
}

QStringList refusals(const qtltest::DevServer& server) {
    QStringList out;
    for (const auto& e : server.log())
        if (e.kind == QLatin1String("refused")) out << e.text;
    return out;
}

// ---- the workstation's sign-in --------------------------------------------------------------------

// Signs in with the real login window and main window (GET_USER with the settings-file account,
// then the account it hands out), the settings file naming the relay; then runs one of the
// workstation's statements as the operator.
void workstationSignsInThrough(qtltest::DevServer& server, Relay& relay) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("Data")));
    const auto account = server.settingsAccount();
    devserver::qtl::writeSettingsFile(folder.filePath(QStringLiteral("Data/QTL")).toStdString(),
                                      account.first.toStdString(), account.second.toStdString(),
                                      "127.0.0.1," + std::to_string(relay.port()), "QTL");
    qtl::TForm8::ProgramFolderOverride = folder.path();
    qtltest::MessageRecorder recorder;
    if (!qtl::DM_MB) qtl::DM_MB = new qtl::TDM_MB();
    {
        ASSERT_TRUE(qtltest::signInThroughLoginWindow(QStringLiteral("operator"), QStringLiteral("operator")))
            << qtltest::lastAutoLoginReport().toStdString();
        const qtl::ResultData rights = qtl::DM_MB->ADOCon->run(kRights, true);
        ASSERT_EQ(rights.rows.size(), 1);
        EXPECT_EQ(rights.rows[0][2].toString(), QStringLiteral("operator"));
    }
    qtl::DM_MB->ADOCon->close();
    // Both accounts signed in through the relay: the settings-file account, then the operator's.
    const QVector<qtltest::LogEntry> log = server.log();
    QStringList users;
    for (const auto& e : log)
        if (e.kind == QLatin1String("login")) users << e.user;
    EXPECT_TRUE(users.contains(QString::fromLatin1(kSettingsUser)) &&
                users.contains(QString::fromLatin1(kOperatorDbUser)))
        << users.join(QLatin1Char(',')).toStdString();
    EXPECT_GE(relay.connections(), 2);
}

// ---- tests ---------------------------------------------------------------------------------------

TEST(LoginEncryption, WorkstationSignInCarriesNeitherPasswordReadably) {
    qtltest::DevServer server;
    server.start();
    Relay relay(server.port());
    workstationSignsInThrough(server, relay);
    if (HasFatalFailure()) return;

    EXPECT_TRUE(serverSentTlsHandshake(relay));
    EXPECT_EQ(passwordsSeen(relay, databasePasswords()), QStringList());
    // Only the login is encrypted: the statements after it travel in clear, as with SQL Server.
    EXPECT_TRUE(relay.toServer().contains(utf16le(QStringLiteral("EXEC GET_USER 'operator'"))));
    EXPECT_TRUE(relay.toServer().contains(utf16le(kRights)));
}

TEST(LoginEncryption, WithEncryptionDeclinedTheWorkstationSignsInAndThePasswordsCanBeRead) {
    qtltest::DevServer server(declined());
    server.start();
    Relay relay(server.port());
    workstationSignsInThrough(server, relay);
    if (HasFatalFailure()) return;

    EXPECT_FALSE(serverSentTlsHandshake(relay));
    const QStringList seen = passwordsSeen(relay, databasePasswords());
    EXPECT_TRUE(
        seen.contains(QStringLiteral("%1 (LOGIN7 obfuscated, to the server)").arg(QLatin1String(kSettingsPassword))))
        << seen.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(
        seen.contains(QStringLiteral("%1 (LOGIN7 obfuscated, to the server)").arg(QLatin1String(kOperatorDbPassword))))
        << seen.join(QLatin1Char('|')).toStdString();
}

// tsql and isql (FreeTDS's defaults: encryption "request") sign in to both kinds of server; their
// logins are as unreadable as the workstation's where the server encrypts them.
TEST(LoginEncryption, TsqlAndIsqlSignInWhetherTheServerEncryptsTheLoginOrNot) {
    if (!haveClients()) GTEST_SKIP() << "tsql or isql is not installed";
    for (const bool encrypted : {true, false}) {
        SCOPED_TRACE(encrypted ? "login encrypted" : "encryption declined");
        qtltest::DevServer server(encrypted ? qtltest::DevServer::Options{} : declined());
        server.start();
        Relay relay(server.port());
        const QString settingsUser = QString::fromLatin1(kSettingsUser),
                      settingsPassword = QString::fromLatin1(kSettingsPassword);

        const Output entry = tsql(relay.port(), settingsUser, settingsPassword,
                                  QStringLiteral("EXEC GET_USER 'operator','4B583376B2767B923C3E1DA60D10DE59',NULL, "
                                                 "'QTL 33', '10.0.0.5', 'PC7', 'operator','0','4'"));
        EXPECT_EQ(entry.exitCode, 0) << entry.all().toStdString();
        EXPECT_TRUE(entry.out.contains(QStringLiteral("psk^no\tno^ov^22\t%1\t50").arg(kUserOperator)))
            << entry.all().toStdString();

        const Output o = tsql(relay.port(), QString::fromLatin1(kOperatorDbUser),
                              QString::fromLatin1(kOperatorDbPassword), QStringLiteral("SELECT * FROM w_s"));
        EXPECT_TRUE(o.out.contains(QStringLiteral("1\tОсенний\t1\n2\tВесенний\t2\n3\tЛетний\t3")))
            << o.all().toStdString();

        const QString cs = viaPort(server.operatorOdbcString(), server.port(), relay.port());
        const Output viaOdbc = isql(cs, kRights);
        EXPECT_EQ(viaOdbc.exitCode, 0) << viaOdbc.all().toStdString();
        EXPECT_TRUE(viaOdbc.out.contains(QStringLiteral("%1|1|operator|1").arg(kUserOperator)))
            << viaOdbc.all().toStdString();
        // The workstation's own connection string says Encryption=request.
        const Output requested = isql(cs + QStringLiteral(";Encryption=request"), QStringLiteral("SELECT * FROM w_s"));
        EXPECT_TRUE(requested.out.contains(QStringLiteral("1|Осенний|1"))) << requested.all().toStdString();

        EXPECT_EQ(serverSentTlsHandshake(relay), encrypted);
        const QStringList seen = passwordsSeen(relay, databasePasswords());
        if (encrypted)
            EXPECT_EQ(seen, QStringList());
        else
            EXPECT_EQ(seen.filter(QStringLiteral("LOGIN7 obfuscated, to the server")).size(), 2)
                << seen.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(refusals(server), QStringList());
    }
}

// A client that asks for encryption (FreeTDS "require") gets the whole session in TLS: neither
// its password nor its statements nor the results can be read on the wire. A server with
// encryption declined makes such a client give up, and goes on serving others.
TEST(LoginEncryption, AClientAskingForEncryptionGetsTheWholeSessionEncrypted) {
    if (!haveClients()) GTEST_SKIP() << "isql is not installed";
    qtltest::DevServer server;
    server.start();
    Relay relay(server.port());
    const QString cs =
        viaPort(server.operatorOdbcString(), server.port(), relay.port()) + QStringLiteral(";Encryption=require");
    const Output o = isql(cs, QStringLiteral("SELECT * FROM w_s"));
    EXPECT_EQ(o.exitCode, 0) << o.all().toStdString();
    EXPECT_TRUE(o.out.contains(QStringLiteral("1|Осенний|1\n2|Весенний|2\n3|Летний|3"))) << o.all().toStdString();
    EXPECT_TRUE(serverSentTlsHandshake(relay));
    EXPECT_EQ(passwordsSeen(relay, databasePasswords()), QStringList());
    EXPECT_FALSE(relay.toServer().contains(utf16le(QStringLiteral("w_s"))));
    EXPECT_FALSE(relay.toClient().contains(utf16le(QStringLiteral("Осенний"))));
    EXPECT_FALSE(relay.toClient().contains(QStringLiteral("Осенний").toUtf8()));
    EXPECT_TRUE(server.batches().contains(QStringLiteral("SELECT * FROM w_s")));

    qtltest::DevServer plain(declined());
    plain.start();
    const Output refused =
        isql(plain.operatorOdbcString() + QStringLiteral(";Encryption=require"), QStringLiteral("SELECT 1"));
    EXPECT_NE(refused.exitCode, 0) << refused.all().toStdString();
    const Output next = isql(plain.operatorOdbcString(), QStringLiteral("SELECT * FROM w_s"));
    EXPECT_TRUE(next.out.contains(QStringLiteral("1|Осенний|1"))) << next.all().toStdString();
}

// --tls-cert/--tls-key: the server offers that certificate (its name shows in the handshake,
// which TLS 1.2 sends in clear), and refuses to start with a key of another certificate.
TEST(LoginEncryption, AGivenCertificateIsTheOneOffered) {
    if (!haveClients() || QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        GTEST_SKIP() << "isql or openssl is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto makeCertificate = [&](const QString& name) {
        const Output made = runClient(
            QStringLiteral("openssl"),
            {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
             QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
             QStringLiteral("/CN=") + name, QStringLiteral("-keyout"), dir.filePath(name + QStringLiteral(".key")),
             QStringLiteral("-out"), dir.filePath(name + QStringLiteral(".crt"))},
            {});
        ASSERT_EQ(made.exitCode, 0) << made.all().toStdString();
    };
    makeCertificate(QStringLiteral("qtl-test-one"));
    makeCertificate(QStringLiteral("qtl-test-two"));
    if (HasFatalFailure()) return;

    qtltest::DevServer::Options options;
    options.extraArguments = QStringList{QStringLiteral("--tls-cert"), dir.filePath(QStringLiteral("qtl-test-one.crt")),
                                         QStringLiteral("--tls-key"), dir.filePath(QStringLiteral("qtl-test-one.key"))};
    qtltest::DevServer server(options);
    server.start();
    Relay relay(server.port());
    const Output o =
        isql(viaPort(server.operatorOdbcString(), server.port(), relay.port()), QStringLiteral("SELECT * FROM w_s"));
    EXPECT_TRUE(o.out.contains(QStringLiteral("1|Осенний|1"))) << o.all().toStdString();
    EXPECT_TRUE(relay.toClient().contains("qtl-test-one"));
    EXPECT_EQ(passwordsSeen(relay, databasePasswords()), QStringList());

    qtltest::DevServer::Options mismatched;
    mismatched.extraArguments =
        QStringList{QStringLiteral("--tls-cert"), dir.filePath(QStringLiteral("qtl-test-one.crt")),
                    QStringLiteral("--tls-key"), dir.filePath(QStringLiteral("qtl-test-two.key"))};
    qtltest::DevServer wrong(mismatched);
    try {
        wrong.start();
        ADD_FAILURE() << "the server started with a key of another certificate";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("does not belong to the certificate")))
            << e.what();
    }
}

// ---- broken handshakes ----------------------------------------------------------------------------

// A raw connection speaking just enough TDS to reach the handshake.
class RawClient {
public:
    explicit RawClient(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("cannot connect");
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    void sendPacket(std::uint8_t type, const QByteArray& body, bool last = true) {
        QByteArray p;
        const int length = 8 + int(body.size());
        p.append(char(type)).append(char(last ? 1 : 0)).append(char(length >> 8)).append(char(length & 0xFF));
        p.append(QByteArray(4, '\0')).append(body);
        p[6] = 1;
        ASSERT_EQ(::send(fd_, p.constData(), std::size_t(p.size()), MSG_NOSIGNAL), p.size());
    }
    // PRELOGIN with VERSION and ENCRYPTION `encryption`.
    void sendPreLogin(std::uint8_t encryption) {
        // Options: VERSION at 11 (6 bytes), ENCRYPTION at 17 (1 byte), terminator; then the data.
        QByteArray body = QByteArray::fromHex(
            "00000b0006"
            "0100110001"
            "ff"
            "0c0000000000");
        body.append(char(encryption));
        sendPacket(0x12, body);
    }
    // Everything the server sends until it closes or `seconds` pass; `closed` tells which.
    QByteArray readUntilClosed(int seconds, bool& closed) {
        QByteArray got;
        closed = false;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        char buf[4096];
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                closed = true;
                break;
            }
            got.append(buf, int(n));
        }
        return got;
    }
    // The first message the server sends (one packet is enough for a PRELOGIN answer).
    QByteArray readPacket() {
        QByteArray got;
        char buf[4096];
        while (got.size() < 8 ||
               got.size() < ((static_cast<unsigned char>(got[2]) << 8) | static_cast<unsigned char>(got[3]))) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) break;
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, int(n));
        }
        return got;
    }

private:
    int fd_ = -1;
};

// After the server offered TLS (ENCRYPTION off), whatever arrives in place of a handshake ends
// that connection at once, with a line in the log; the server goes on serving.
TEST(LoginEncryption, ABrokenHandshakeEndsOnlyItsConnection) {
    qtltest::DevServer server;
    server.start();
    struct Case {
        const char* name;
        std::uint8_t type;
        QByteArray body;
    };
    const std::vector<Case> cases = {
        {"garbage in a PRELOGIN packet", 0x12,
         QByteArray("this is no TLS record at all, just text sent by a confused client")},
        {"a TLS record cut short at the end of the message", 0x12, QByteArray::fromHex("1603010200010001fc0303")},
        {"a handshake record carrying nonsense", 0x12, QByteArray::fromHex("16030100080badc0ffee0badf0")},
        {"a clear LOGIN7 instead of the handshake", 0x10, QByteArray(120, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int refusedBefore = int(refusals(server).size());
        RawClient client(server.port());
        client.sendPreLogin(0x00);
        const QByteArray answer = client.readPacket();
        ASSERT_EQ(answer.size(), 26) << answer.toHex().toStdString();
        EXPECT_EQ(answer[0], 0x04);
        EXPECT_EQ(answer[8 + 17], 0x00) << "ENCRYPTION off: the login is to be encrypted";
        client.sendPacket(c.type, c.body);
        bool closed = false;
        // Well before the login timeout (60 s): the server does not wait for more.
        client.readUntilClosed(10, closed);
        EXPECT_TRUE(closed);
        const QStringList refused = refusals(server);
        ASSERT_EQ(refused.size(), refusedBefore + 1) << refused.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(refused.last().startsWith(QStringLiteral("TLS handshake failed: ")))
            << refused.last().toStdString();
    }
    // A real client still signs in, encrypted.
    Relay relay(server.port());
    const QString cs = viaPort(server.operatorOdbcString(), server.port(), relay.port());
    if (haveClients()) {
        const Output o = isql(cs, QStringLiteral("SELECT * FROM w_s"));
        EXPECT_TRUE(o.out.contains(QStringLiteral("1|Осенний|1"))) << o.all().toStdString();
        EXPECT_TRUE(serverSentTlsHandshake(relay));
    }
}

// What the PRELOGIN answer says, for every ENCRYPTION a client may send, by each kind of server:
// off stays off (login in TLS), on stays on (session in TLS), a client that cannot encrypt is
// told not supported and logs in in clear; a server with encryption declined always says not
// supported.
TEST(LoginEncryption, ThePreLoginAnswerFollowsWhatTheClientCanDo) {
    struct Row {
        std::uint8_t asked, answerLogin, answerDeclined;
    };
    const std::vector<Row> rows = {{0x00, 0x00, 0x02}, {0x01, 0x01, 0x02}, {0x02, 0x02, 0x02}, {0x03, 0x01, 0x02}};
    qtltest::DevServer login;
    login.start();
    qtltest::DevServer off(declined());
    off.start();
    for (const Row& row : rows)
        for (const bool encrypting : {true, false}) {
            SCOPED_TRACE(QStringLiteral("client asks %1, server %2")
                             .arg(row.asked)
                             .arg(encrypting ? "login" : "off")
                             .toStdString());
            RawClient client((encrypting ? login : off).port());
            client.sendPreLogin(row.asked);
            const QByteArray answer = client.readPacket();
            ASSERT_EQ(answer.size(), 26) << answer.toHex().toStdString();
            EXPECT_EQ(answer[0], 0x04);
            EXPECT_EQ(std::uint8_t(answer[8 + 17]), encrypting ? row.answerLogin : row.answerDeclined);
        }
    if (!haveClients()) return;
    // FreeTDS's "off" sends not supported: it logs in in clear even where the server could encrypt.
    Relay relay(login.port());
    const QString cs =
        viaPort(login.operatorOdbcString(), login.port(), relay.port()) + QStringLiteral(";Encryption=off");
    const Output o = isql(cs, QStringLiteral("SELECT * FROM w_s"));
    EXPECT_TRUE(o.out.contains(QStringLiteral("1|Осенний|1"))) << o.all().toStdString();
    EXPECT_FALSE(serverSentTlsHandshake(relay));
    EXPECT_TRUE(relay.toServer().contains(login7Obfuscated(QString::fromLatin1(kOperatorDbPassword))));
    // Those connections that only asked left nothing but silence in the log.
    EXPECT_EQ(refusals(login), QStringList());
}

}  // namespace
