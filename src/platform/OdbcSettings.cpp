#include "platform/OdbcSettings.h"

#include "util/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTextStream>

namespace qtl {

namespace {

const QString kMsDriver18 = QStringLiteral("ODBC Driver 18 for SQL Server");
const QString kMsDriver17 = QStringLiteral("ODBC Driver 17 for SQL Server");
const QString kFreeTdsName = QStringLiteral("FreeTDS");

OdbcDriverKind kindOf(const QString& driver) {
    if (driver.contains(QLatin1String("tds"), Qt::CaseInsensitive)) return OdbcDriverKind::FreeTds;
    if (driver.contains(QLatin1String("ODBC Driver"), Qt::CaseInsensitive) &&
        driver.contains(QLatin1String("SQL Server"), Qt::CaseInsensitive))
        return OdbcDriverKind::Microsoft;
    return OdbcDriverKind::Other;
}

#ifndef Q_OS_WIN
// Section names of an odbcinst.ini: the drivers unixODBC knows.
QStringList iniSections(const QString& path) {
    QStringList out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return out;
    QTextStream in(&f);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            const QString name = line.mid(1, line.size() - 2).trimmed();
            if (!name.isEmpty() && name.compare(QLatin1String("ODBC"), Qt::CaseInsensitive) != 0) out << name;
        }
    }
    return out;
}
#endif

// FreeTDS's driver library, for systems where it is installed but not registered by name.
QString findFreeTdsLibrary() {
    QStringList candidates;
    const QDir lib(QStringLiteral("/usr/lib"));
    for (const QString& sub : lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        candidates << lib.filePath(sub + QStringLiteral("/odbc/libtdsodbc.so"));
    candidates << QStringLiteral("/usr/lib/odbc/libtdsodbc.so") << QStringLiteral("/usr/lib64/libtdsodbc.so")
               << QStringLiteral("/usr/local/lib/libtdsodbc.so") << QStringLiteral("/opt/homebrew/lib/libtdsodbc.so");
    for (const QString& c : candidates)
        if (QFileInfo::exists(c)) return c;
    return {};
}

// Splits "host,port" (the port must be a number); anything else is the host as it is.
void splitServer(const QString& dataSource, QString& host, QString& port) {
    host = dataSource.trimmed();
    port.clear();
    const qsizetype comma = host.lastIndexOf(QLatin1Char(','));
    if (comma < 0) return;
    const QString p = host.mid(comma + 1).trimmed();
    bool ok = false;
    const int n = p.toInt(&ok);
    if (!ok || n <= 0 || n > 65535) return;
    port = QString::number(n);
    host = host.left(comma).trimmed();
}

// The first line of a site file that is neither empty nor a comment; empty when there is none.
QString firstSettingLine(const QString& path) {
    QFile site(path);
    if (!site.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    QTextStream in(&site);
    while (!in.atEnd()) {
        QString line = in.readLine().trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#'))) return line;
    }
    return {};
}

OdbcDriver chooseDriverName(const QString& siteDriverFile, const QStringList& registered) {
    const QString site = firstSettingLine(siteDriverFile);
    if (!site.isEmpty()) return {site, kindOf(site)};
    for (const QString& ms : {kMsDriver18, kMsDriver17})
        if (registered.contains(ms, Qt::CaseInsensitive)) return {ms, OdbcDriverKind::Microsoft};
#ifdef Q_OS_WIN
    // The driver every Windows installation carries.
    if (registered.contains(QStringLiteral("SQL Server"), Qt::CaseInsensitive))
        return {QStringLiteral("SQL Server"), OdbcDriverKind::Other};
#endif
    if (registered.contains(kFreeTdsName, Qt::CaseInsensitive)) return {kFreeTdsName, OdbcDriverKind::FreeTds};
    const QString library = findFreeTdsLibrary();
    return {library.isEmpty() ? kFreeTdsName : library, OdbcDriverKind::FreeTds};
}

}  // namespace

QStringList RegisteredOdbcDrivers() {
#ifdef Q_OS_WIN
    QSettings drivers(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers"),
                      QSettings::NativeFormat);
    return drivers.childKeys();
#else
    QStringList out = iniSections(QStringLiteral("/etc/odbcinst.ini"));
    for (const QString& name : iniSections(QStringLiteral("/usr/local/etc/odbcinst.ini")))
        if (!out.contains(name)) out << name;
    return out;
#endif
}

OdbcDriver ChooseOdbcDriver(const QString& siteDriverFile, const QStringList& registered) {
    OdbcDriver driver = chooseDriverName(siteDriverFile, registered);
    const QString encryption = QFileInfo(siteDriverFile).dir().filePath(QStringLiteral("encryption"));
    driver.validateServer = firstSettingLine(encryption).compare(QLatin1String("validate"), Qt::CaseInsensitive) == 0;
    return driver;
}

QString OdbcValue(const QString& value, OdbcDriverKind kind) {
    if (kind == OdbcDriverKind::FreeTds) {
        // FreeTDS ends a braced value at the first '}' followed by ';' or the end of the string
        // and knows no doubling, so "};" cannot be carried; refuse it rather than let the rest
        // become attributes.
        if (value.contains(QLatin1String("};")))
            throw AppError(
                QStringLiteral("The connection settings contain \"};\", which the "
                               "ODBC driver cannot accept"));
        return QLatin1Char('{') + value + QLatin1Char('}');
    }
    QString v = value;
    v.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return QLatin1Char('{') + v + QLatin1Char('}');
}

QString BuildOdbcConnectString(const TFirstConnectInfo& info, const OdbcDriver& driver) {
    const auto q = [&](const QString& v) { return OdbcValue(v, driver.kind); };
    QString s = QStringLiteral("Driver=") + q(driver.name) + QLatin1Char(';');
    if (driver.kind == OdbcDriverKind::FreeTds) {
        QString host, port;
        splitServer(info.DataSource, host, port);
        if (!port.isEmpty()) {
            // An explicit port makes the instance lookup pointless (and FreeTDS refuses both).
            const qsizetype slash = host.indexOf(QLatin1Char('\\'));
            if (slash >= 0) host = host.left(slash);
        }
        s += QStringLiteral("Server=") + q(host) + QLatin1Char(';');
        if (!port.isEmpty()) s += QStringLiteral("Port=") + port + QLatin1Char(';');
        // "request": a server that encrypts the login gets its password encrypted (the session's
        // data stays in clear unless the server forces encryption); "off" would tell it that we
        // cannot, and the login would cross the network readable.
        s += QStringLiteral("Database=") + q(info.InitialCatalog) + QStringLiteral(";UID=") + q(info.UserID) +
             QStringLiteral(";PWD=") + q(info.Password) +
             QStringLiteral(";TDS_Version=7.4;ClientCharset=UTF-8;Encryption=") +
             (driver.validateServer ? QStringLiteral("require") : QStringLiteral("request")) +
             QStringLiteral(";PacketSize=") + QString::number(kOdbcPacketSize);
    } else {
        // Encrypt=no is "Optional" to driver 18, whose default would encrypt everything and
        // refuse a self-signed certificate: the server still encrypts the login, and
        // TrustServerCertificate=yes lets a server that forces encryption through unchecked.
        s += QStringLiteral("Server=") + q(info.DataSource.trimmed()) + QStringLiteral(";Database=") +
             q(info.InitialCatalog) + QStringLiteral(";UID=") + q(info.UserID) + QStringLiteral(";PWD=") +
             q(info.Password) +
             (driver.validateServer ? QStringLiteral(";Trusted_Connection=no;Encrypt=yes;TrustServerCertificate=no")
                                    : QStringLiteral(";Trusted_Connection=no;Encrypt=no;TrustServerCertificate=yes"));
    }
    return s;
}

QString OdbcConnectOptions(const OdbcDriver& driver) {
    // Microsoft's driver has no connection-string keyword for the packet size; it takes it as
    // the connection attribute only. FreeTDS has it in the string already.
    if (driver.kind == OdbcDriverKind::Microsoft)
        return QStringLiteral("SQL_ATTR_PACKET_SIZE=") + QString::number(kOdbcPacketSize);
    return {};
}

}  // namespace qtl
