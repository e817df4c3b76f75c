// The ODBC side of the connection settings: which driver to use and the connection string for it.
// Shared by the workstation and the settings tool, so the tool checks what the program does.
#pragma once

#include <QString>
#include <QStringList>

namespace qtl {

// The first database account and where it connects; the login replaces the account with the
// one the server hands out.
struct TFirstConnectInfo {
    QString UserID;
    QString Password;
    QString InitialCatalog;
    QString DataSource;
};

enum class OdbcDriverKind { FreeTds, Microsoft, Other };

struct OdbcDriver {
    QString name;  // registered name or path of the driver library
    OdbcDriverKind kind = OdbcDriverKind::FreeTds;
    // The site asked for the whole session encrypted and the server's certificate checked
    // ("validate" in Data/encryption); otherwise the login is encrypted and the certificate not.
    bool validateServer = false;
};

// Names of the drivers registered with the ODBC driver manager (odbcinst.ini on Unix, the
// driver list of the system on Windows).
QStringList RegisteredOdbcDrivers();
// Picks the driver: the one named in the site file "Data/driver" when it exists (its first
// non-empty line, a registered name or a library path), else Microsoft's "ODBC Driver 18 for
// SQL Server" or "17" when registered, on Windows then its own "SQL Server", else FreeTDS
// (registered name, or the library's path). The file "encryption" beside the site file sets
// validateServer when its first such line is "validate".
OdbcDriver ChooseOdbcDriver(const QString& siteDriverFile, const QStringList& registered);

// A value written so that no character of it can end the attribute or add another one.
// Throws AppError when the driver's syntax cannot carry the value safely (FreeTDS: "};").
QString OdbcValue(const QString& value, OdbcDriverKind kind);

// The ODBC connection string for the driver: server (name, address, "host,port",
// "host\instance"), database, account, SQL Server authentication, no encryption, Unicode
// text, and for FreeTDS the packet size (Microsoft's driver takes it from OdbcConnectOptions).
QString BuildOdbcConnectString(const TFirstConnectInfo& info, const OdbcDriver& driver);

// Bytes per network packet asked of the server, as the program has always used.
inline constexpr int kOdbcPacketSize = 4096;

// Connection attributes ("SQL_ATTR_...=value;...", Qt's QODBC connect options) the driver needs
// besides the string: the packet size for Microsoft's driver; empty for the others.
QString OdbcConnectOptions(const OdbcDriver& driver);

}  // namespace qtl
