// The settings file, the connection strings built from it, driver choice and the GET_USER text.
#include "Unit10.h"
#include "util/errors.h"
#include "util/util.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qtl;

namespace {

// The stored form written independently: every byte one less.
QByteArray stored(const QByteArray& plain) {
    QByteArray out = plain;
    for (char& c : out) c = char(quint8(c) - 1);
    return out;
}

QByteArray settingsImage(const QByteArray& user, const QByteArray& password, const QByteArray& server,
                         const QByteArray& database) {
    QByteArray b(84, '\0');
    b.replace(0, user.size(), stored(user));
    b.replace(20, password.size(), stored(password));
    b[40] = char(user.size());
    b[41] = char(password.size());
    b.replace(42, server.size(), stored(server));
    b.replace(62, database.size(), stored(database));
    b[82] = char(server.size());
    b[83] = char(database.size());
    return b;
}

QString writeFile(const QTemporaryDir& dir, const QByteArray& bytes) {
    const QString path = dir.filePath(QStringLiteral("QTL"));
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
    return path;
}

QString inOutErrorOf(const QString& path) {
    try {
        ReadSettingsFile(path);
    } catch (const InOutError& e) {
        return e.text();
    }
    return QStringLiteral("<no error>");
}

}  // namespace

TEST(SettingsFile, FieldsAreDecodedIntoTheRecordInItsOrder) {
    const TFirstConnectInfo info = ParseSettings(settingsImage("qtl_entry", "entry_pw", "127.0.0.1,11433", "QTL"));
    EXPECT_EQ(info.UserID, "qtl_entry");
    EXPECT_EQ(info.Password, "entry_pw");
    EXPECT_EQ(info.DataSource, "127.0.0.1,11433");  // stored before the database name
    EXPECT_EQ(info.InitialCatalog, "QTL");
}

TEST(SettingsFile, LengthBytesCutTheFieldsAndAreCappedAtTwenty) {
    QByteArray b = settingsImage("abc", "", "srv", "db");
    EXPECT_EQ(ParseSettings(b).UserID, "abc");
    EXPECT_EQ(ParseSettings(b).Password, "");  // length 0: empty value
    // Stored 0x60 0x61 0x62 is "abc".
    b.replace(0, 3, QByteArray("\x60\x61\x62", 3));
    EXPECT_EQ(ParseSettings(b).UserID, "abc");

    QByteArray full = settingsImage("abcdefghijklmnopqrst", "p", "s", "d");
    full[40] = char(25);  // longer than the area: the whole 20 bytes, nothing of the next field
    EXPECT_EQ(ParseSettings(full).UserID, "abcdefghijklmnopqrst");
    full[83] = char(255);
    EXPECT_EQ(ParseSettings(full).InitialCatalog.size(), 20);
    EXPECT_TRUE(ParseSettings(full).InitialCatalog.startsWith(QLatin1Char('d')));
}

TEST(SettingsFile, ByteFFBecomesZeroInsideTheValueAndCyrillicIsWindows1251) {
    QByteArray b = settingsImage("ab", "xy", "s", "d");
    b[20] = char(0xFF);  // first password byte
    const QString password = ParseSettings(b).Password;
    ASSERT_EQ(password.size(), 2);
    EXPECT_EQ(password[0], QChar(0));
    EXPECT_EQ(password[1], QLatin1Char('y'));

    // "Юз" in Windows-1251 is DE E7.
    const TFirstConnectInfo info = ParseSettings(settingsImage("\xDE\xE7", "p", "s", "d"));
    EXPECT_EQ(info.UserID, QStringLiteral("Юз"));
}

TEST(SettingsFile, FileErrorsCarryTheOperatorTexts) {
    QTemporaryDir dir;
    EXPECT_EQ(inOutErrorOf(dir.filePath(QStringLiteral("missing"))), "File not found");
    EXPECT_EQ(inOutErrorOf(writeFile(dir, QByteArray(83, 'a'))), "Read beyond end of file");
    EXPECT_EQ(inOutErrorOf(writeFile(dir, QByteArray())), "Read beyond end of file");
    QDir(dir.path()).mkdir(QStringLiteral("folder"));
    EXPECT_EQ(inOutErrorOf(dir.filePath(QStringLiteral("folder"))), "File access denied");

    // A longer file reads like one of 84 bytes.
    const QByteArray image = settingsImage("u", "p", "s", "d");
    const TFirstConnectInfo info = ReadSettingsFile(writeFile(dir, image + QByteArray(16, 'z')));
    EXPECT_EQ(info.UserID, "u");
    EXPECT_EQ(info.InitialCatalog, "d");
}

TEST(ConnectionString, IsComposedExactlyWithBareValues) {
    TFirstConnectInfo info{"user", "", "QTL", "srv\\inst"};
    EXPECT_EQ(BuildConnectionString(info),
              "Provider=SQLOLEDB.1;Password=;Persist Security Info=True;User ID=user;"
              "Initial Catalog=QTL;Data Source=srv\\inst;Use Procedure for Prepare=1;"
              "Auto Translate=True;Packet Size=4096;Use Encryption for Data=False;"
              "Tag with column collation when possible=False");
}

TEST(ConnectionString, UserNameIsRemovedFromErrorTexts) {
    EXPECT_EQ(RemoveUserName("Login failed for user 'qtl_entry'. qtl_entry", "qtl_entry"),
              "Login failed for user ''. ");
    EXPECT_EQ(RemoveUserName("Login failed for user 'QTL_ENTRY'.", "qtl_entry"),
              "Login failed for user 'QTL_ENTRY'.");  // case-sensitive
    EXPECT_EQ(RemoveUserName("Login failed.", ""), "Login failed.");
}

TEST(OdbcString, FreeTdsFormSplitsHostAndPortAndQuotesEveryValue) {
    const OdbcDriver tds{"/usr/lib/x/odbc/libtdsodbc.so", OdbcDriverKind::FreeTds};
    TFirstConnectInfo info{"qtl_entry", "entry_pw", "QTL", "127.0.0.1,11433"};
    EXPECT_EQ(BuildOdbcConnectString(info, tds),
              "Driver={/usr/lib/x/odbc/libtdsodbc.so};Server={127.0.0.1};Port=11433;"
              "Database={QTL};UID={qtl_entry};PWD={entry_pw};TDS_Version=7.4;"
              "ClientCharset=UTF-8;Encryption=request;PacketSize=4096");
    info.DataSource = "dbhost\\SQLEXPRESS";
    EXPECT_TRUE(BuildOdbcConnectString(info, tds).contains(";Server={dbhost\\SQLEXPRESS};Database="));
    info.DataSource = "dbhost\\SQLEXPRESS,1500";
    EXPECT_TRUE(BuildOdbcConnectString(info, tds).contains(";Server={dbhost};Port=1500;"));
    info.DataSource = "10.1.2.3";
    EXPECT_TRUE(BuildOdbcConnectString(info, tds).contains(";Server={10.1.2.3};Database="));
}

TEST(OdbcString, MicrosoftFormKeepsTheServerTurnsEncryptionOffAndAsksFor4096BytePackets) {
    const OdbcDriver ms{"ODBC Driver 18 for SQL Server", OdbcDriverKind::Microsoft};
    TFirstConnectInfo info{"u", "p}w", "QTL", "dbhost,1433"};
    EXPECT_EQ(BuildOdbcConnectString(info, ms),
              "Driver={ODBC Driver 18 for SQL Server};Server={dbhost,1433};Database={QTL};"
              "UID={u};PWD={p}}w};Trusted_Connection=no;Encrypt=no;TrustServerCertificate=yes");
    // Microsoft's driver knows no packet-size keyword in the string (an unknown keyword would be
    // ignored): the size goes as the connection attribute.
    EXPECT_EQ(OdbcConnectOptions(ms), "SQL_ATTR_PACKET_SIZE=4096");
    // FreeTDS carries it in the string; the attribute is not added on top.
    EXPECT_EQ(OdbcConnectOptions({"FreeTDS", OdbcDriverKind::FreeTds}), "");
    EXPECT_EQ(OdbcConnectOptions({"SQL Server", OdbcDriverKind::Other}), "");
}

TEST(OdbcString, SemicolonsAndBracesCannotAddAttributes) {
    // Standard syntax: braces, '}' doubled.
    EXPECT_EQ(OdbcValue("a;UID=sa", OdbcDriverKind::Microsoft), "{a;UID=sa}");
    EXPECT_EQ(OdbcValue("a};UID=sa", OdbcDriverKind::Microsoft), "{a}};UID=sa}");
    // FreeTDS ends a braced value at "};" and knows no doubling: that one value is refused.
    EXPECT_EQ(OdbcValue("a;UID=sa", OdbcDriverKind::FreeTds), "{a;UID=sa}");
    EXPECT_EQ(OdbcValue("a}b", OdbcDriverKind::FreeTds), "{a}b}");
    EXPECT_EQ(OdbcValue("ab}", OdbcDriverKind::FreeTds), "{ab}}");
    EXPECT_THROW(OdbcValue("a};UID=sa", OdbcDriverKind::FreeTds), AppError);

    const OdbcDriver tds{"FreeTDS", OdbcDriverKind::FreeTds};
    TFirstConnectInfo info{"u", "x;Database=master", "QTL", "h"};
    const QString s = BuildOdbcConnectString(info, tds);
    EXPECT_TRUE(s.contains("PWD={x;Database=master};")) << s.toStdString();
    EXPECT_EQ(s.count("Database="), 2);  // ours, and the one inside the braced password
}

TEST(OdbcDriverChoice, SiteFileThenMicrosoftThenFreeTds) {
    QTemporaryDir dir;
    const QString site = dir.filePath(QStringLiteral("driver"));
    const QStringList both = {"FreeTDS", "ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server"};

    EXPECT_EQ(ChooseOdbcDriver(site, both).name, "ODBC Driver 18 for SQL Server");
    EXPECT_EQ(ChooseOdbcDriver(site, both).kind, OdbcDriverKind::Microsoft);
    EXPECT_EQ(ChooseOdbcDriver(site, {"FreeTDS", "ODBC Driver 17 for SQL Server"}).name,
              "ODBC Driver 17 for SQL Server");
    const OdbcDriver tds = ChooseOdbcDriver(site, {"PostgreSQL", "FreeTDS"});
    EXPECT_EQ(tds.name, "FreeTDS");
    EXPECT_EQ(tds.kind, OdbcDriverKind::FreeTds);
    const OdbcDriver unregistered = ChooseOdbcDriver(site, {});
    EXPECT_EQ(unregistered.kind, OdbcDriverKind::FreeTds);
    EXPECT_TRUE(unregistered.name == "FreeTDS" || unregistered.name.endsWith("libtdsodbc.so"));

    QFile f(site);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("# the site's driver\n\n  SQL Server Native Client 11.0  \n");
    f.close();
    const OdbcDriver named = ChooseOdbcDriver(site, both);
    EXPECT_EQ(named.name, "SQL Server Native Client 11.0");
    EXPECT_EQ(named.kind, OdbcDriverKind::Other);
}

TEST(OdbcDriverChoice, WindowsOwnDriverComesAfterMicrosoftsAndBeforeFreeTds) {
    QTemporaryDir dir;
    const QString site = dir.filePath(QStringLiteral("driver"));
    const QStringList windows = {"SQL Server", "FreeTDS", "ODBC Driver 17 for SQL Server"};
    EXPECT_EQ(ChooseOdbcDriver(site, windows).name, "ODBC Driver 17 for SQL Server");
    const OdbcDriver own = ChooseOdbcDriver(site, {"FreeTDS", "SQL Server"});
#ifdef Q_OS_WIN
    EXPECT_EQ(own.name, "SQL Server");
    EXPECT_EQ(own.kind, OdbcDriverKind::Other);
#else
    // Elsewhere a driver registered as "SQL Server" is nothing known.
    EXPECT_EQ(own.name, "FreeTDS");
#endif
}

TEST(OdbcEncryption, LoginEncryptedUnlessTheSiteAsksToValidateTheServer) {
    QTemporaryDir dir;
    const QString site = dir.filePath(QStringLiteral("driver"));
    const QString encryption = dir.filePath(QStringLiteral("encryption"));
    const TFirstConnectInfo info{"u", "p", "QTL", "dbhost"};
    const struct {
        const char* file;  // Data/encryption, nullptr: none
        bool validate;
    } cases[] = {
        {nullptr, false},
        {"", false},
        {"# full encryption, checked certificate\n\n  Validate \n", true},
        {"validate\n", true},
        {"validated\n", false},
        {"no\nvalidate\n", false},  // only the first setting line counts
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "(no file)");
        QFile::remove(encryption);
        if (c.file) {
            QFile f(encryption);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.file);
        }
        for (const QStringList& registered : {QStringList{"ODBC Driver 18 for SQL Server"}, QStringList{"FreeTDS"}}) {
            const OdbcDriver driver = ChooseOdbcDriver(site, registered);
            EXPECT_EQ(driver.validateServer, c.validate);
            const QString s = BuildOdbcConnectString(info, driver);
            if (driver.kind == OdbcDriverKind::Microsoft)
                EXPECT_TRUE(s.endsWith(c.validate ? ";Encrypt=yes;TrustServerCertificate=no"
                                                  : ";Encrypt=no;TrustServerCertificate=yes"))
                    << s.toStdString();
            else
                EXPECT_TRUE(s.contains(c.validate ? ";Encryption=require;" : ";Encryption=request;"))
                    << s.toStdString();
        }
    }
}

TEST(Titles, MainCaptionHasTwoBlanksBeforeTheVersion) {
    const QString caption = ComposeMainCaption();
    EXPECT_EQ(caption, "QTL 33  V13 [ " + BuildDateText(GetBuildDate()) + " ] - Регистратор студентов");
    EXPECT_EQ(caption, ComposeMainCaption());
}
