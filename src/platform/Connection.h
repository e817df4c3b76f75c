// The one database connection: Qt SQL's ODBC driver, plain forward-only batches only.
#pragma once

#include "util/errors.h"

#include <QObject>
#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>
#include <QVector>

namespace qtl {

// A result fetched completely to the client.
struct ResultData {
    QStringList columns;  // names as the server sent them
    QVector<QMetaType> types;  // Qt's type of each column
    QVector<QVector<QVariant>> rows;  // null cells are null QVariants
    int rowsAffected = -1;  // of the last statement that reported a count
};

class Connection : public QObject {
    Q_OBJECT
public:
    explicit Connection(QObject* parent = nullptr);
    ~Connection() override;

    // The text the program composes (kept for display and diagnostics; never parsed).
    void setConnectionString(const QString& text) { m_connectionString = text; }
    QString connectionString() const { return m_connectionString; }

    // What is handed to the ODBC driver (SQLDriverConnect string, values already quoted safely).
    void setOdbcConnectString(const QString& text) { m_odbcString = text; }
    QString odbcConnectString() const { return m_odbcString; }
    // Connection attributes the driver needs besides the string ("SQL_ATTR_PACKET_SIZE=4096"),
    // in QODBC's connect-options form; applied by the next open().
    void setOdbcConnectOptions(const QString& options) { m_odbcOptions = options; }
    QString odbcConnectOptions() const { return m_odbcOptions; }

    // Statements sent, each as its own batch, right after every successful open (for example
    // "SET DATEFORMAT dmy" once signed in). Kept until replaced.
    void setSessionSetup(const QStringList& statements) { m_sessionSetup = statements; }

    void open();  // throws DatabaseError; does nothing when already open
    void close();  // does nothing when closed
    bool isOpen() const;

    // Sends `sql` as one batch, opening the connection first when it is closed. Reads every
    // result of the batch so that an error in any statement of it is reported. Returns the
    // first result that has columns (empty when none). Throws DatabaseError with the server's
    // message; when the link itself broke, the connection is closed so that the next statement
    // opens it again (and sends the session setup again) before running.
    ResultData run(const QString& sql, bool wantRows);

    // Seconds a statement may wait for the server's answer before it is cancelled and reported
    // as an error ("Timeout expired"); 0 waits for ever. Applies to every later statement.
    void setQueryTimeout(int seconds) { m_queryTimeout = qMax(0, seconds); }
    int queryTimeout() const { return m_queryTimeout; }
    // Seconds a connection attempt may take, the login included; used by the next open().
    void setLoginTimeout(int seconds) { m_loginTimeout = qMax(0, seconds); }
    int loginTimeout() const { return m_loginTimeout; }
    static constexpr int kDefaultQueryTimeout = 30;
    static constexpr int kDefaultLoginTimeout = 15;

    // Removes the client library's prefixes and suffixes from an error text, leaving what the
    // server said, e.g. "[FreeTDS][SQL Server]Login failed..." -> "Login failed...".
    static QString cleanErrorText(const QString& raw);
    // True when an error text or SQLSTATE says the link to the server is gone.
    static bool isLinkFailure(const QString& text, const QString& nativeCode);

private:
    QString m_connectionName;
    QString m_connectionString;
    QString m_odbcString;
    QString m_odbcOptions;
    QStringList m_sessionSetup;
    int m_queryTimeout = kDefaultQueryTimeout;
    int m_loginTimeout = kDefaultLoginTimeout;

    QSqlDatabase database() const;
    bool linkIsDead() const;  // asks the ODBC driver whether the link is gone
    ResultData execute(const QString& sql, bool wantRows);  // on the open connection
    [[noreturn]] void fail(const QString& rawText, const QString& nativeCode);
};

}  // namespace qtl
