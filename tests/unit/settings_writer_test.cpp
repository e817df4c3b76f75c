// The administrator's settings writer against the workstation's own reader: the byte layout,
// round trips, what the file cannot hold, atomic replacement, and the tool's commands in process.
#include "SettingsFileWriter.h"
#include "SettingsTool.h"
#include "platform/SettingsFile.h"
#include "qtl/qtl.h"
#include "util/util.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qtl;
using namespace qtl::settingsfile;
using namespace qtl::settingstool;

namespace {

TFirstConnectInfo settings(const QString& user, const QString& password, const QString& server,
                           const QString& database) {
    TFirstConnectInfo info;
    info.UserID = user;
    info.Password = password;
    info.InitialCatalog = database;
    info.DataSource = server;
    return info;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QString refusalOf(const TFirstConnectInfo& info) {
    try {
        EncodeSettings(info);
    } catch (const SettingsFileError& e) {
        return e.text();
    }
    return QStringLiteral("<accepted>");
}

// Runs the tool in process; the password comes from `password` (the reader counts its calls).
struct ToolRun {
    int code = -1;
    QString out, err;
    int passwordReads = 0;
};

ToolRun runTool(const QStringList& args, std::optional<QString> password = std::nullopt) {
    ToolRun r;
    ToolIo io;
    io.out = [&r](const QString& s) { r.out += s + QLatin1Char('\n'); };
    io.err = [&r](const QString& s) { r.err += s + QLatin1Char('\n'); };
    io.readPassword = [&r, password]() {
        ++r.passwordReads;
        return password;
    };
    r.code = RunSettingsTool(args, io);
    return r;
}

}  // namespace

TEST(SettingsWriter, ByteLayoutIsStoredFormAtTheFixedOffsets) {
    const QByteArray image = EncodeSettings(settings("qtl_entry", "entry_pw", "127.0.0.1,11433", "QTL"));
    ASSERT_EQ(image.size(), 84);
    // Stored form: every byte one less ('q' 0x71 -> 0x70), unused bytes zero.
    EXPECT_EQ(image.mid(0, 9), QByteArray("psk^dmsqx"));
    EXPECT_EQ(image.mid(9, 11), QByteArray(11, '\0'));
    EXPECT_EQ(image.mid(20, 8), QByteArray("dmsqx^ov"));
    EXPECT_EQ(quint8(image[40]), 9);
    EXPECT_EQ(quint8(image[41]), 8);
    EXPECT_EQ(image.mid(42, 15), QByteArray("016-/-/-0+00322"));
    EXPECT_EQ(image.mid(62, 3), QByteArray("PSK"));
    EXPECT_EQ(quint8(image[82]), 15);
    EXPECT_EQ(quint8(image[83]), 3);
}

TEST(SettingsWriter, SameBytesAsTheDevServersWriter) {
    // Two writers made apart from each other must agree byte for byte, Cyrillic included.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QTL"));
    devserver::qtl::writeSettingsFile(path.toStdString(), "вход", "пароль_1", "srv\\SQL2019", "QTL");
    EXPECT_EQ(EncodeSettings(settings(QStringLiteral("вход"), QStringLiteral("пароль_1"),
                                      QStringLiteral("srv\\SQL2019"), QStringLiteral("QTL"))),
              readAll(path));
}

TEST(SettingsWriter, EveryFieldComesBackThroughTheWorkstationsReader) {
    const QString twenty = QStringLiteral("12345678901234567890");
    const QString cyrillic20 = QStringLiteral("АБВГДЕЁЖЗИЙКЛМНОПРСя");  // я is byte 0xFF
    const QVector<TFirstConnectInfo> cases = {
        settings("qtl_entry", "entry_pw", "127.0.0.1,11433", "QTL"),
        settings(twenty, twenty, twenty, twenty),
        settings(cyrillic20, cyrillic20, QStringLiteral("сервер\\экземпляр"), QStringLiteral("База")),
        settings("u", "", "host", "db"),  // empty password
        settings("a?b", QStringLiteral("p w;}{'\""), "h,1", "d"),  // '?' is a real '?'
        settings("u", QString(QChar(0)) + QStringLiteral("\x01x"), "h", "d"),  // bytes 0x00, 0x01
        settings("u", QStringLiteral("€№«»—"), "h", "d"),  // upper half of the page
    };
    QTemporaryDir dir;
    for (const TFirstConnectInfo& in : cases) {
        SCOPED_TRACE(in.Password.toStdString());
        const QByteArray image = EncodeSettings(in);
        const TFirstConnectInfo parsed = ParseSettings(image);
        EXPECT_EQ(parsed.UserID, in.UserID);
        EXPECT_EQ(parsed.Password, in.Password);
        EXPECT_EQ(parsed.InitialCatalog, in.InitialCatalog);
        EXPECT_EQ(parsed.DataSource, in.DataSource);
        const QString path = dir.filePath(QStringLiteral("QTL"));
        WriteSettingsFileAtomically(path, image);
        const TFirstConnectInfo read = ReadSettingsFile(path);
        EXPECT_EQ(read.Password, in.Password);
        EXPECT_EQ(read.DataSource, in.DataSource);
        EXPECT_EQ(readAll(path), image);
    }
}

TEST(SettingsWriter, RefusesWhatTheFileCannotHoldAndKeepsThePasswordOutOfTheMessage) {
    const QString ok = QStringLiteral("x");
    EXPECT_EQ(refusalOf(settings(ok, ok, QStringLiteral("123456789012345678901"), ok)),
              "The server \"123456789012345678901\" is 21 bytes long in Windows-1251; the "
              "settings file holds at most 20.");
    // Twenty-one Cyrillic letters are 21 bytes in Windows-1251 (42 in UTF-8).
    EXPECT_TRUE(refusalOf(settings(ok, ok, ok, QString(21, QChar(0x0416)))).startsWith("The database \"ЖЖЖ"));
    EXPECT_EQ(refusalOf(settings(QStringLiteral("user_ω"), ok, ok, ok)),
              "The account \"user_ω\" holds a character that Windows-1251 cannot store "
              "(U+03C9); the settings file holds Windows-1251 text only.");
    EXPECT_EQ(refusalOf(settings(ok, QStringLiteral("secretpassword_21_ch"), ok, ok)), "<accepted>");
    const QString longSecret = QStringLiteral("secretpassword_21_chx");
    const QString emojiSecret = QStringLiteral("secret") + QString::fromUcs4(U"\U0001F600");
    const QString tooLong = refusalOf(settings(ok, longSecret, ok, ok));
    const QString notInPage = refusalOf(settings(ok, emojiSecret, ok, ok));
    EXPECT_EQ(tooLong, "The password is 21 bytes long in Windows-1251; the settings file holds at most 20.");
    EXPECT_EQ(notInPage,
              "The password holds a character that Windows-1251 cannot store "
              "(U+1F600); the settings file holds Windows-1251 text only.");
    EXPECT_FALSE(tooLong.contains("secret"));
    EXPECT_FALSE(notInPage.contains("secret"));
    EXPECT_EQ(refusalOf(settings("", ok, ok, ok)), "The account must not be empty.");
    EXPECT_EQ(refusalOf(settings(ok, ok, "", ok)), "The server must not be empty.");
    EXPECT_EQ(refusalOf(settings(ok, ok, ok, "")), "The database must not be empty.");
}

TEST(SettingsWriter, ReplacesAtomicallyKeepingPermissionsAndLeavingNoTemporaryFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QTL"));
    writeBytes(path, QByteArray(84, 'o'));
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    const QByteArray image = EncodeSettings(settings("a", "b", "c", "d"));
    WriteSettingsFileAtomically(path, image);
    EXPECT_EQ(readAll(path), image);
    // 0640 stays 0640: a fresh file would be readable by everyone (0644 under the usual umask).
    const QFile::Permissions p = QFile::permissions(path);
    EXPECT_TRUE(p.testFlag(QFile::ReadOwner) && p.testFlag(QFile::WriteOwner));
    EXPECT_TRUE(p.testFlag(QFile::ReadGroup));
    EXPECT_FALSE(p.testFlag(QFile::WriteGroup) || p.testFlag(QFile::ReadOther) || p.testFlag(QFile::WriteOther));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"QTL"});
}

TEST(SettingsWriter, AFolderOrAMissingFolderIsRefusedWithItsName) {
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("nowhere/QTL"));
    const QByteArray image = EncodeSettings(settings("a", "b", "c", "d"));
    try {
        WriteSettingsFileAtomically(missing, image);
        ADD_FAILURE() << "a missing folder was accepted";
    } catch (const SettingsFileError& e) {
        EXPECT_EQ(e.text(),
                  QStringLiteral("The folder %1 does not exist.").arg(dir.filePath(QStringLiteral("nowhere"))));
    }
    EXPECT_THROW(WriteSettingsFileAtomically(dir.path(), image), SettingsFileError);
    EXPECT_FALSE(QFileInfo::exists(missing));
}

TEST(SettingsToolCommands, WriteThenShowMasksThePasswordUnlessAsked) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QTL"));
    const ToolRun written =
        runTool({"write", path, "--server", "db.example.org\\QTL", "--database=QTL", "--user", "qtl_entry"},
                QStringLiteral("Пароль-42"));
    ASSERT_EQ(written.code, kExitOk) << written.err.toStdString();
    EXPECT_FALSE(written.out.contains("Пароль-42"));
    const TFirstConnectInfo read = ReadSettingsFile(path);
    EXPECT_EQ(read.Password, "Пароль-42");
    EXPECT_EQ(read.DataSource, "db.example.org\\QTL");

    const ToolRun shown = runTool({"show", path});
    EXPECT_EQ(shown.code, kExitOk);
    EXPECT_EQ(shown.out,
              "Server:   db.example.org\\QTL\nDatabase: QTL\nAccount:  qtl_entry\n"
              "Password: ******** (hidden; --show-password shows it)\n");
    const ToolRun revealed = runTool({"show", path, "--show-password"});
    EXPECT_TRUE(revealed.out.contains("Password: Пароль-42\n"));
}

TEST(SettingsToolCommands, ARefusedWriteLeavesTheExistingFileAsItWas) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QTL"));
    const QByteArray before = EncodeSettings(settings("old", "old_pw", "old_server", "QTL"));
    writeBytes(path, before);
    const QStringList base = {"write", path, "--server", "srv", "--database", "QTL", "--user"};

    // A value too long: refused before the password is even asked for.
    const ToolRun longUser = runTool(base + QStringList{"u23456789012345678901"}, QStringLiteral("pw"));
    EXPECT_EQ(longUser.code, kExitError);
    EXPECT_EQ(longUser.passwordReads, 0);
    EXPECT_TRUE(longUser.err.contains("21 bytes long")) << longUser.err.toStdString();
    // A password outside the code page, and no password at all.
    const ToolRun badPassword = runTool(base + QStringList{"u"}, QStringLiteral("pw✓"));
    EXPECT_EQ(badPassword.code, kExitError);
    EXPECT_FALSE(badPassword.err.contains("pw✓"));
    EXPECT_EQ(runTool(base + QStringList{"u"}, std::nullopt).code, kExitError);
    EXPECT_EQ(readAll(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"QTL"});
}

TEST(SettingsToolCommands, ThePasswordIsNeverTakenFromTheCommandLine) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QTL"));
    for (const QString& option : {QStringLiteral("--password=secret"), QStringLiteral("--password"),
                                  QStringLiteral("--pass=secret"), QStringLiteral("--pwd=secret")}) {
        const ToolRun r = runTool({"write", path, "--server", "s", "--database", "d", "--user", "u", option, "secret"},
                                  QStringLiteral("pw"));
        EXPECT_EQ(r.code, kExitError) << option.toStdString();
        EXPECT_EQ(r.passwordReads, 0);
        EXPECT_TRUE(r.err.startsWith("The password is never taken from the command line"));
    }
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(SettingsToolCommands, WrongArgumentsAreNamedAndExitWithTwo) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QTL"));
    const auto firstLine = [](const ToolRun& r) { return r.err.section(QLatin1Char('\n'), 0, 0); };
    ToolRun r = runTool({"write", path, "--server", "s"});
    EXPECT_EQ(r.code, kExitError);
    EXPECT_EQ(firstLine(r), "\"write\" needs --database, --user.");
    r = runTool({"delete", path});
    EXPECT_EQ(firstLine(r), "Unknown command \"delete\".");
    r = runTool({"show"});
    EXPECT_EQ(firstLine(r), "\"show\" takes exactly one FILE.");
    r = runTool({"show", path, "--server", "s"});
    EXPECT_EQ(firstLine(r), "--server is an option of \"write\" only.");
    r = runTool({"write", path, "--server", "a", "--server", "b", "--database", "d", "--user", "u"});
    EXPECT_EQ(firstLine(r), "--server is given twice.");
    r = runTool({"show", path});
    EXPECT_EQ(r.code, kExitError);
    EXPECT_EQ(r.err, QStringLiteral("Cannot read %1: File not found\n").arg(path));
    EXPECT_EQ(runTool({}).code, kExitError);
    EXPECT_EQ(runTool({"--help"}).code, kExitOk);
}

TEST(SettingsToolCommands, ShowReadsLikeTheWorkstationAndEscapesWhatDoesNotPrint) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QTL"));
    // A hand-made file: a length byte of 25 takes the whole area, an escape character in the
    // server stays visible as a code instead of reaching the terminal.
    QByteArray image = EncodeSettings(settings("abcdefghijklmnopqrst", "p", "x\x1b[2Jy", "QTL"));
    image[40] = char(25);
    image.append("tail");
    writeBytes(path, image);
    const ToolRun r = runTool({"show", path});
    EXPECT_EQ(r.code, kExitOk);
    EXPECT_TRUE(r.out.contains("Server:   x<U+001B>[2Jy\n")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Account:  abcdefghijklmnopqrst\n"));
    EXPECT_EQ(r.err, "Note: the file has 88 bytes; the workstation reads the first 84.\n");
    writeBytes(path, image.left(83));
    EXPECT_EQ(runTool({"show", path}).err, QStringLiteral("Cannot read %1: Read beyond end of file\n").arg(path));
}

TEST(SettingsToolCommands, MaskPasswordHidesEveryOccurrence) {
    EXPECT_EQ(MaskPassword("Login failed for 'pw1' (pw1)", "pw1"), "Login failed for '********' (********)");
    EXPECT_EQ(MaskPassword("nothing to hide", ""), "nothing to hide");
}
