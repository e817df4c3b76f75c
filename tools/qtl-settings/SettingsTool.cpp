#include "SettingsTool.h"

#include "SettingsFileWriter.h"
#include "platform/Connection.h"
#include "platform/OdbcSettings.h"
#include "util/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qtl::settingstool {
namespace {

const QString kUsage = QStringLiteral(
    "Usage:\n"
    "  qtl-settings write FILE --server SERVER --database DATABASE --user ACCOUNT\n"
    "      Writes the workstation's settings file (normally /opt/qtl33/Data/QTL). The password\n"
    "      is read from the terminal without echo (asked twice), or as the first line of\n"
    "      standard input when that is not a terminal; never from the command line.\n"
    "  qtl-settings show FILE [--show-password]\n"
    "      Shows the settings as the workstation reads them; the password is hidden unless\n"
    "      --show-password is given.\n"
    "  qtl-settings check FILE\n"
    "      Connects with the file's account exactly as the workstation does at sign-in (the ODBC\n"
    "      driver from Data/driver beside the file, or the one found) and tells whether the\n"
    "      server accepted it.\n"
    "Each field holds at most 20 bytes of Windows-1251 text. SERVER may be a name, an address,\n"
    "HOST,PORT or HOST\\INSTANCE; the port or the instance counts in the 20 bytes. The port\n"
    "follows a comma, never a colon (HOST:PORT is refused).\n"
    "Exit codes: 0 done, 1 check failed to connect, 2 wrong arguments or a file error.");

QString mask() {
    return QString::fromLatin1(kPasswordMask);
}

// A value as it can be shown on a terminal: characters that do not print are written as <U+XXXX>.
QString printable(const QString& value) {
    QString out;
    for (char32_t c : value.toUcs4()) {
        const QString one = QString::fromUcs4(&c, 1);
        if (one.size() == 1 && !one.at(0).isPrint() && one.at(0) != QLatin1Char(' '))
            out += QStringLiteral("<U+%1>").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
        else
            out += one;
    }
    return out;
}

struct Parsed {
    QString command;
    QString file;
    QString server, database, user;
    bool serverGiven = false, databaseGiven = false, userGiven = false;
    bool showPassword = false;
};

// Throws AppError with a message for the user.
Parsed parse(const QStringList& args) {
    Parsed p;
    if (args.isEmpty()) throw AppError(QStringLiteral("No command given."));
    p.command = args.first();
    const bool isWrite = p.command == QLatin1String("write");
    if (!isWrite && p.command != QLatin1String("show") && p.command != QLatin1String("check"))
        throw AppError(QStringLiteral("Unknown command \"%1\".").arg(p.command));
    QStringList positional;
    for (int i = 1; i < args.size(); ++i) {
        QString arg = args.at(i);
        QString value;
        bool hasValue = false;
        if (arg.startsWith(QLatin1String("--"))) {
            const qsizetype eq = arg.indexOf(QLatin1Char('='));
            if (eq > 0) {
                value = arg.mid(eq + 1);
                arg = arg.left(eq);
                hasValue = true;
            }
        } else {
            positional << arg;
            continue;
        }
        if (arg == QLatin1String("--password") || arg.startsWith(QLatin1String("--pass")) ||
            arg == QLatin1String("--pwd"))
            throw AppError(
                QStringLiteral("The password is never taken from the command line (other users can read it "
                               "there); it is read from the terminal or from standard input."));
        const auto take = [&](QString& into, bool& given) {
            if (!isWrite) throw AppError(QStringLiteral("%1 is an option of \"write\" only.").arg(arg));
            if (given) throw AppError(QStringLiteral("%1 is given twice.").arg(arg));
            if (!hasValue) {
                if (i + 1 >= args.size()) throw AppError(QStringLiteral("%1 needs a value.").arg(arg));
                value = args.at(++i);
            }
            into = value;
            given = true;
        };
        if (arg == QLatin1String("--server"))
            take(p.server, p.serverGiven);
        else if (arg == QLatin1String("--database"))
            take(p.database, p.databaseGiven);
        else if (arg == QLatin1String("--user"))
            take(p.user, p.userGiven);
        else if (arg == QLatin1String("--show-password") && !hasValue && p.command == QLatin1String("show"))
            p.showPassword = true;
        else
            throw AppError(QStringLiteral("Unknown option %1 for \"%2\".").arg(arg, p.command));
    }
    if (positional.size() != 1) throw AppError(QStringLiteral("\"%1\" takes exactly one FILE.").arg(p.command));
    p.file = positional.first();
    if (isWrite) {
        QStringList missing;
        if (!p.serverGiven) missing << QStringLiteral("--server");
        if (!p.databaseGiven) missing << QStringLiteral("--database");
        if (!p.userGiven) missing << QStringLiteral("--user");
        if (!missing.isEmpty())
            throw AppError(QStringLiteral("\"write\" needs %1.").arg(missing.join(QLatin1String(", "))));
    }
    return p;
}

void printFields(const ToolIo& io, const TFirstConnectInfo& info, bool showPassword) {
    io.out(QStringLiteral("Server:   ") + printable(info.DataSource));
    io.out(QStringLiteral("Database: ") + printable(info.InitialCatalog));
    io.out(QStringLiteral("Account:  ") + printable(info.UserID));
    if (info.Password.isEmpty())
        io.out(QStringLiteral("Password: (empty)"));
    else if (showPassword)
        io.out(QStringLiteral("Password: ") + printable(info.Password));
    else
        io.out(QStringLiteral("Password: %1 (hidden; --show-password shows it)").arg(mask()));
}

int write(const Parsed& p, const ToolIo& io) {
    using namespace settingsfile;
    // Refuse what the file cannot hold before asking for the password.
    // Before the length: "host:port" is often one byte too long, and the hint is what helps.
    CheckServerForm(p.server);
    CheckField(QStringLiteral("server"), p.server, false, false);
    CheckField(QStringLiteral("database"), p.database, false, false);
    CheckField(QStringLiteral("account"), p.user, false, false);
    const std::optional<QString> password = io.readPassword();
    if (!password) return kExitError;
    TFirstConnectInfo info;
    info.UserID = p.user;
    info.Password = *password;
    info.InitialCatalog = p.database;
    info.DataSource = p.server;
    const QByteArray image = EncodeSettings(info);
    if (info.Password.isEmpty()) io.err(QStringLiteral("Warning: the password is empty."));
    WriteSettingsFileAtomically(p.file, image);
    // Read it back the way the workstation will, so a success is never reported for a file
    // the workstation would read differently.
    const TFirstConnectInfo back = ReadSettingsFile(p.file);
    if (back.UserID != info.UserID || back.Password != info.Password || back.InitialCatalog != info.InitialCatalog ||
        back.DataSource != info.DataSource) {
        io.err(QStringLiteral("%1 was written but reads back differently; do not use it.").arg(p.file));
        return kExitError;
    }
    io.out(QStringLiteral("Wrote %1:").arg(p.file));
    printFields(io, info, false);
    return kExitOk;
}

// A FIFO or a device named as the file would block the reader for ever or read what is no
// settings file; only a regular file is read. Opened without waiting (a FIFO's open waits for a
// writer otherwise) and judged by what was opened, not by the name.
void requireRegularFile(const QString& path) {
#ifdef _WIN32
    // Windows has no FIFOs in the file system; a folder or a device name is what to refuse.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) throw InOutError(QStringLiteral("not a regular file"));
#else
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;  // missing or unreadable: the reader says which
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!regular) throw InOutError(QStringLiteral("not a regular file"));
#endif
}

int show(const Parsed& p, const ToolIo& io) {
    requireRegularFile(p.file);
    const TFirstConnectInfo info = ReadSettingsFile(p.file);
    const qint64 size = QFileInfo(p.file).size();
    if (size != kSettingsFileSize)
        io.err(QStringLiteral("Note: the file has %1 bytes; the workstation reads the first %2.")
                   .arg(size)
                   .arg(kSettingsFileSize));
    printFields(io, info, p.showPassword);
    return kExitOk;
}

int check(const Parsed& p, const ToolIo& plainIo) {
    requireRegularFile(p.file);
    const TFirstConnectInfo info = ReadSettingsFile(p.file);
    // A file written by hand or by an older tool: the driver's answer would name the wrong fault.
    settingsfile::CheckServerForm(info.DataSource);
    // Nothing check prints carries the password, even where the server repeats it (a password
    // equal to the account name, say) or it happens to stand in another value.
    ToolIo io = plainIo;
    io.out = [&](const QString& line) { plainIo.out(MaskPassword(line, info.Password)); };
    io.err = [&](const QString& line) { plainIo.err(MaskPassword(line, info.Password)); };
    // The workstation looks for Data/driver beside Data/QTL.
    const QString driverFile = QFileInfo(p.file).absoluteDir().filePath(QStringLiteral("driver"));
    const OdbcDriver driver = ChooseOdbcDriver(driverFile, RegisteredOdbcDrivers());
    QString odbc;
    QString shown;
    try {
        odbc = BuildOdbcConnectString(info, driver);
        TFirstConnectInfo masked = info;
        if (!masked.Password.isEmpty()) masked.Password = mask();
        shown = BuildOdbcConnectString(masked, driver);
    } catch (const AppError& e) {
        io.err(QStringLiteral("Cannot build the connection string: ") + e.text());
        return kExitError;
    }
    io.out(QStringLiteral("ODBC driver: %1%2")
               .arg(driver.name,
                    QFileInfo::exists(driverFile) ? QStringLiteral(" (named in %1)").arg(driverFile) : QString()));
    io.out(QStringLiteral("Connection string: ") + printable(shown));
    Connection connection;
    connection.setConnectionString(BuildConnectionString(info));
    connection.setOdbcConnectString(odbc);
    connection.setOdbcConnectOptions(OdbcConnectOptions(driver));
    try {
        connection.open();
    } catch (const AppError& e) {
        io.err(QStringLiteral("FAILED: could not sign in as %1: %2").arg(printable(info.UserID), printable(e.text())));
        return kExitCheckFailed;
    }
    connection.close();
    io.out(QStringLiteral("OK: %1 accepted the account %2 (database %3).")
               .arg(printable(info.DataSource), printable(info.UserID), printable(info.InitialCatalog)));
    return kExitOk;
}

}  // namespace

QString MaskPassword(QString text, const QString& password) {
    if (!password.isEmpty()) text.replace(password, mask(), Qt::CaseSensitive);
    return text;
}

int RunSettingsTool(const QStringList& arguments, const ToolIo& io) {
    if (arguments.size() == 1 &&
        (arguments.first() == QLatin1String("--help") || arguments.first() == QLatin1String("-h") ||
         arguments.first() == QLatin1String("help"))) {
        io.out(kUsage);
        return kExitOk;
    }
    Parsed parsed;
    try {
        parsed = parse(arguments);
    } catch (const AppError& e) {
        io.err(e.text());
        io.err(kUsage);
        return kExitError;
    }
    try {
        if (parsed.command == QLatin1String("write")) return write(parsed, io);
        if (parsed.command == QLatin1String("show")) return show(parsed, io);
        return check(parsed, io);
    } catch (const InOutError& e) {
        io.err(QStringLiteral("Cannot read %1: %2").arg(parsed.file, e.text()));
    } catch (const AppError& e) {
        io.err(e.text());
    }
    return kExitError;
}

}  // namespace qtl::settingstool
