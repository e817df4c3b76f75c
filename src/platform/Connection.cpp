#include "platform/Connection.h"

#include <QAtomicInt>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlDriver>
#include <QSqlRecord>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

namespace qtl {

namespace {
QAtomicInt g_connectionCounter;
}

Connection::Connection(QObject* parent)
    : QObject(parent),
      m_connectionName(QStringLiteral("qtl-connection-%1").arg(g_connectionCounter.fetchAndAddOrdered(1))) {
    QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_connectionName);
}

Connection::~Connection() {
    {
        QSqlDatabase db = database();
        if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

QSqlDatabase Connection::database() const { return QSqlDatabase::database(m_connectionName, false); }

bool Connection::isOpen() const { return database().isOpen(); }

void Connection::open() {
    QSqlDatabase db = database();
    if (db.isOpen()) return;
    if (!db.isValid()) throw DatabaseError(QStringLiteral("The ODBC database driver is not available"));
    db.setDatabaseName(m_odbcString);
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=30"));
    if (!db.open()) {
        const QSqlError e = db.lastError();
        throw DatabaseError(cleanErrorText(e.databaseText().isEmpty() ? e.text() : e.databaseText()));
    }
    for (const QString& statement : m_sessionSetup) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        ++m_batches;
        if (!q.exec(statement)) {
            const QSqlError e = q.lastError();
            q.finish();
            db.close();
            throw DatabaseError(cleanErrorText(e.text()),
                                isLinkFailure(e.text(), e.nativeErrorCode()));
        }
        while (q.next()) {
        }
        while (q.nextResult()) {
            while (q.next()) {
            }
        }
    }
}

bool Connection::linkIsDead() const {
    const QSqlDatabase db = database();
    if (!db.isOpen() || !db.driver()) return false;
    const QVariant handle = db.driver()->handle();
    // QODBC hands out the connection handle as a pointer-sized value (SQLHANDLE / void*).
    if (!handle.isValid() || handle.metaType().sizeOf() != int(sizeof(SQLHDBC))) return false;
    SQLHDBC hdbc = *static_cast<SQLHDBC const*>(handle.data());
    if (!hdbc) return false;
    SQLUINTEGER dead = SQL_CD_FALSE;
    const SQLRETURN r = SQLGetConnectAttr(hdbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
    return SQL_SUCCEEDED(r) && dead == SQL_CD_TRUE;
}

void Connection::close() {
    QSqlDatabase db = database();
    if (db.isOpen()) db.close();
}

void Connection::fail(const QString& rawText, const QString& nativeCode) {
    // The driver's own word first: its texts for a dead link vary ("Unknown error" when the
    // write to a closed socket fails).
    const bool lost = linkIsDead() || isLinkFailure(rawText, nativeCode);
    // A broken link leaves the driver's handle unusable: drop it so the next statement opens a
    // fresh connection (and sends the session setup) first.
    if (lost) close();
    throw DatabaseError(cleanErrorText(rawText), lost);
}

ResultData Connection::run(const QString& sql, bool wantRows) {
    open();
    ResultData result;
    QString errorText, errorCode;
    {
        QSqlQuery q(database());
        // Forward-only text execution is a plain SQL batch on the wire; anything else (prepare,
        // scrollable cursors) becomes an RPC and sends texts in the wrong character set.
        q.setForwardOnly(true);
        ++m_batches;
        bool ok = q.exec(sql);
        bool haveResult = false;
        while (ok) {
            if (q.isSelect()) {
                if (!haveResult && wantRows) {
                    haveResult = true;
                    const QSqlRecord rec = q.record();
                    const int n = rec.count();
                    for (int i = 0; i < n; ++i) {
                        result.columns << rec.fieldName(i);
                        result.types << rec.field(i).metaType();
                    }
                    while (q.next()) {
                        QVector<QVariant> row;
                        row.reserve(n);
                        for (int i = 0; i < n; ++i) {
                            QVariant v = q.value(i);
                            row.push_back(v.isNull() ? QVariant() : std::move(v));
                        }
                        result.rows.push_back(std::move(row));
                    }
                } else {
                    while (q.next()) {
                    }
                }
                if (q.lastError().isValid()) break;
            } else {
                const int affected = q.numRowsAffected();
                if (affected >= 0) result.rowsAffected = affected;
            }
            // Every further result of the batch is read, so an error in a later statement is
            // reported instead of being left behind for the next statement.
            if (!q.nextResult()) break;
        }
        if (q.lastError().isValid()) {
            errorText = q.lastError().text();
            errorCode = q.lastError().nativeErrorCode();
        }
    }
    if (!errorText.isEmpty()) fail(errorText, errorCode);
    return result;
}

QString Connection::cleanErrorText(const QString& raw) {
    static const QRegularExpression vendorTags(
        QStringLiteral("\\[(?:FreeTDS|unixODBC|SQL Server|Microsoft|Driver Manager|"
                       "ODBC Driver \\d+ for SQL Server|ODBC SQL Server Driver|"
                       "SQL Server Native Client [0-9.]+|DBNETLIB|DBNMPNTW|DBMSSOCN)\\]"));
    static const QRegularExpression qtSuffix(
        QStringLiteral("\\s*QODBC3?:\\s*Unable to [^\\n]*$"));
    QString text = raw;
    text.remove(vendorTags);
    text.remove(qtSuffix);
    text = text.trimmed();
    return text;
}

bool Connection::isLinkFailure(const QString& text, const QString& nativeCode) {
    static const char* const kTexts[] = {
        "Communication link failure", "Unexpected EOF", "Write to the server failed",
        "Read from the server failed", "Connection reset", "Broken pipe",
        "Connection is not open", "08S01", "08003",
    };
    if (nativeCode == QLatin1String("08S01") || nativeCode == QLatin1String("08003")) return true;
    for (const char* t : kTexts)
        if (text.contains(QLatin1String(t), Qt::CaseInsensitive)) return true;
    return false;
}

}  // namespace qtl
