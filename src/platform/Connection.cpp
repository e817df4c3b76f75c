#include "platform/Connection.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QVarLengthArray>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlDriver>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <memory>
#include <vector>

namespace qtl {

namespace {
QAtomicInt g_connectionCounter;

// ODBC passes an integer attribute's value in its pointer argument.
SQLPOINTER attributeValue(SQLULEN value) {
    return reinterpret_cast<SQLPOINTER>(value);  // NOLINT(performance-no-int-to-ptr)
}
}  // namespace

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

QSqlDatabase Connection::database() const {
    return QSqlDatabase::database(m_connectionName, false);
}

bool Connection::isOpen() const {
    return database().isOpen();
}

void Connection::open() {
    QSqlDatabase db = database();
    if (db.isOpen()) return;
    if (!db.isValid()) throw DatabaseError(QStringLiteral("The ODBC database driver is not available"));
    db.setDatabaseName(m_odbcString);
    // Without these a server that accepts and never answers holds the window for good.
    QString options = QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%1").arg(m_loginTimeout);
    if (!m_odbcOptions.isEmpty()) options += QLatin1Char(';') + m_odbcOptions;
    db.setConnectOptions(options);
    if (!db.open()) {
        const QSqlError e = db.lastError();
        throw DatabaseError(cleanErrorText(e.databaseText().isEmpty() ? e.text() : e.databaseText()));
    }
    // The session setup goes the way of every statement, under the same query timeout.
    for (const QString& statement : m_sessionSetup) {
        try {
            execute(statement, false);
        } catch (const DatabaseError& e) {
            close();
            throw DatabaseError(e.text(), e.connectionLost());
        }
    }
}

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the ODBC wide character must be UTF-16");

// The ODBC connection handle behind Qt's connection; null when there is none.
SQLHDBC connectionHandle(const QSqlDatabase& db) {
    if (!db.isOpen() || !db.driver()) return nullptr;
    const QVariant handle = db.driver()->handle();
    // QODBC hands out the connection handle as a pointer-sized value (SQLHANDLE / void*).
    if (!handle.isValid() || handle.metaType().sizeOf() != int(sizeof(SQLHDBC))) return nullptr;
    return *static_cast<SQLHDBC const*>(handle.data());
}

// What the driver said about the last call on a handle: the messages joined by blanks, each once,
// and the SQLSTATE that matters most (a link failure's before any other).
struct Diagnostics {
    QStringList messages;
    QString state;

    void collect(SQLSMALLINT handleType, SQLHANDLE handle) {
        if (!handle) return;
        QVarLengthArray<SQLWCHAR, 1024> message(1024);
        for (SQLSMALLINT record = 1;; ++record) {
            SQLWCHAR sqlState[SQL_SQLSTATE_SIZE + 1] = {};
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            SQLRETURN r = SQLGetDiagRecW(handleType, handle, record, sqlState, &native, message.data(),
                                         SQLSMALLINT(message.size()), &length);
            if (r == SQL_SUCCESS_WITH_INFO && length >= message.size()) {
                message.resize(length + 1);
                r = SQLGetDiagRecW(handleType, handle, record, sqlState, &native, message.data(),
                                   SQLSMALLINT(message.size()), &length);
            }
            if (!SQL_SUCCEEDED(r)) break;
            const QString part = QString::fromUtf16(reinterpret_cast<const char16_t*>(message.data()),
                                                    qMin<qsizetype>(length, message.size() - 1));
            const QString code = QString::fromUtf16(reinterpret_cast<const char16_t*>(sqlState));
            if (state.isEmpty() || (code.startsWith(QLatin1String("08")) && !state.startsWith(QLatin1String("08"))))
                state = code;
            if (!part.isEmpty() && !messages.contains(part)) messages << part;
        }
    }
    // Blanks between the messages, as the operator reads them.
    QString text() const { return messages.join(QLatin1Char(' ')); }
};

// The type Qt's ODBC driver gives a column of this SQL type, so callers see the same values
// whether a result came through Qt or straight from ODBC.
QMetaType typeOfColumn(SQLSMALLINT sqlType, bool isSigned) {
    switch (sqlType) {
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: return QMetaType(QMetaType::Double);
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIT: return QMetaType(isSigned ? QMetaType::Int : QMetaType::UInt);
    case SQL_TINYINT: return QMetaType(QMetaType::UInt);
    case SQL_BIGINT: return QMetaType(isSigned ? QMetaType::LongLong : QMetaType::ULongLong);
    case SQL_DATE:
    case SQL_TYPE_DATE: return QMetaType(QMetaType::QDate);
    case SQL_TIME:
    case SQL_TYPE_TIME: return QMetaType(QMetaType::QTime);
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP: return QMetaType(QMetaType::QDateTime);
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_GUID: return QMetaType(QMetaType::QString);
    default: return QMetaType(QMetaType::QByteArray);
    }
}

// An ODBC statement of our own on Qt's connection, freed on every way out.
class Statement {
public:
    explicit Statement(SQLHDBC dbc) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &m_handle))) m_handle = nullptr;
    }
    ~Statement() { release(); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    SQLHSTMT handle() const { return m_handle; }
    void release() {
        if (m_handle) SQLFreeHandle(SQL_HANDLE_STMT, m_handle);
        m_handle = nullptr;
    }

    // Names and types of the current result's columns; false on a driver error.
    // `sizes` gets each column's size as the driver describes it (characters for texts).
    bool describe(SQLSMALLINT count, QStringList& names, QVector<QMetaType>& types, QVector<SQLULEN>& sizes) {
        QVarLengthArray<SQLWCHAR, 256> name(256);
        for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(count); ++c) {
            SQLSMALLINT length = 0, sqlType = 0, scale = 0, nullable = 0;
            SQLULEN size = 0;
            SQLRETURN r = SQLDescribeColW(m_handle, c, name.data(), SQLSMALLINT(name.size()), &length, &sqlType, &size,
                                          &scale, &nullable);
            if (r == SQL_SUCCESS_WITH_INFO && length >= name.size()) {
                name.resize(length + 1);
                r = SQLDescribeColW(m_handle, c, name.data(), SQLSMALLINT(name.size()), &length, &sqlType, &size,
                                    &scale, &nullable);
            }
            if (!SQL_SUCCEEDED(r)) return false;
            SQLLEN isUnsigned = SQL_FALSE;
            if (!SQL_SUCCEEDED(SQLColAttributeW(m_handle, c, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned)))
                isUnsigned = SQL_FALSE;
            names << QString::fromUtf16(reinterpret_cast<const char16_t*>(name.data()),
                                        qMin<qsizetype>(length, name.size() - 1));
            types << typeOfColumn(sqlType, isUnsigned == SQL_FALSE);
            sizes << size;
        }
        return true;
    }

    // Reads one cell of the current row as `type`; a NULL gives a null QVariant. False on a
    // driver error.
    bool read(SQLUSMALLINT column, int type, QVariant& out) {
        SQLLEN indicator = 0;
        auto fixed = [&](SQLSMALLINT cType, void* target, SQLLEN size) {
            const SQLRETURN r = SQLGetData(m_handle, column, cType, target, size, &indicator);
            return SQL_SUCCEEDED(r);
        };
        switch (type) {
        case QMetaType::Int: {
            SQLINTEGER v = 0;
            if (!fixed(SQL_C_SLONG, &v, sizeof v)) return false;
            out = indicator == SQL_NULL_DATA ? QVariant() : QVariant(int(v));
            return true;
        }
        case QMetaType::UInt: {
            SQLUINTEGER v = 0;
            if (!fixed(SQL_C_ULONG, &v, sizeof v)) return false;
            out = indicator == SQL_NULL_DATA ? QVariant() : QVariant(uint(v));
            return true;
        }
        case QMetaType::LongLong: {
            SQLBIGINT v = 0;
            if (!fixed(SQL_C_SBIGINT, &v, sizeof v)) return false;
            out = indicator == SQL_NULL_DATA ? QVariant() : QVariant(qlonglong(v));
            return true;
        }
        case QMetaType::ULongLong: {
            SQLUBIGINT v = 0;
            if (!fixed(SQL_C_UBIGINT, &v, sizeof v)) return false;
            out = indicator == SQL_NULL_DATA ? QVariant() : QVariant(qulonglong(v));
            return true;
        }
        case QMetaType::Double: {
            SQLDOUBLE v = 0;
            if (!fixed(SQL_C_DOUBLE, &v, sizeof v)) return false;
            out = indicator == SQL_NULL_DATA ? QVariant() : QVariant(double(v));
            return true;
        }
        case QMetaType::QDate: {
            SQL_DATE_STRUCT v{};
            if (!fixed(SQL_C_TYPE_DATE, &v, sizeof v)) return false;
            out = indicator == SQL_NULL_DATA ? QVariant() : QVariant(QDate(v.year, v.month, v.day));
            return true;
        }
        case QMetaType::QTime: {
            SQL_TIME_STRUCT v{};
            if (!fixed(SQL_C_TYPE_TIME, &v, sizeof v)) return false;
            out = indicator == SQL_NULL_DATA ? QVariant() : QVariant(QTime(v.hour, v.minute, v.second));
            return true;
        }
        case QMetaType::QDateTime: {
            SQL_TIMESTAMP_STRUCT v{};
            if (!fixed(SQL_C_TYPE_TIMESTAMP, &v, sizeof v)) return false;
            // Local time, milliseconds from the nanosecond fraction, as Qt's driver builds it.
            out = indicator == SQL_NULL_DATA
                      ? QVariant()
                      : QVariant(QDateTime(QDate(v.year, v.month, v.day),
                                           QTime(v.hour, v.minute, v.second, int(v.fraction / 1000000))));
            return true;
        }
        case QMetaType::QByteArray: return readChunks(column, SQL_C_BINARY, 1, out, false);
        default: return readChunks(column, SQL_C_WCHAR, sizeof(SQLWCHAR), out, true);
        }
    }

private:
    SQLHSTMT m_handle = nullptr;

    // Text or bytes of any length: the driver hands out a long value in pieces, each call
    // continuing where the last one stopped; a text piece ends with a terminator that is not
    // part of the value.
    bool readChunks(SQLUSMALLINT column, SQLSMALLINT cType, SQLLEN unit, QVariant& out, bool text) {
        constexpr SQLLEN kBytes = 4096;
        alignas(SQLWCHAR) char buffer[kBytes];
        const SQLLEN room = text ? kBytes - unit : kBytes;  // value bytes one call can hand out
        QByteArray bytes;
        QString string;
        for (bool firstPiece = true;; firstPiece = false) {
            SQLLEN indicator = 0;
            const SQLRETURN r = SQLGetData(m_handle, column, cType, buffer, kBytes, &indicator);
            if (r == SQL_NO_DATA) break;
            if (!SQL_SUCCEEDED(r)) return false;
            if (indicator == SQL_NULL_DATA) {
                out = QVariant();
                return true;
            }
            const bool whole = indicator != SQL_NO_TOTAL && indicator <= room;
            const SQLLEN got = whole ? indicator : room;
            if (text) {
                const auto* chars = reinterpret_cast<const char16_t*>(buffer);
                if (firstPiece && whole) {
                    out = QVariant(QString::fromUtf16(chars, got / unit));
                    return true;
                }
                string += QStringView(chars, got / unit);
            } else {
                bytes.append(buffer, got);
            }
            if (whole) break;
        }
        out = text ? QVariant(string) : QVariant(bytes);
        return true;
    }
};

// A result read in blocks of rows into bound column buffers: one SQLFetch per block instead of
// one SQLFetch and one SQLGetData per cell, which is where a large result spent its time in the
// driver manager. Only results whose every column has a bounded size are read this way; an
// unbounded text (varchar(max), text) or bytes go row by row through Statement::read, which
// takes a value of any length in pieces.
class BoundRows {
public:
    // Texts longer than this many characters (and unbounded ones) are not bound.
    static constexpr SQLULEN kMaxBoundChars = 4000;
    // Buffers for one block stay around this size, so a wide result fetches fewer rows at a time
    // rather than allocating megabytes for a query of a few rows.
    static constexpr qsizetype kBlockBytes = qsizetype{256} * 1024;
    static constexpr SQLULEN kMaxRowsPerBlock = 256;

    // False when some column cannot be bound.
    bool plan(const QVector<int>& typeIds, const QVector<SQLULEN>& sizes) {
        qsizetype rowBytes = 0;
        for (int i = 0; i < typeIds.size(); ++i) {
            Column c;
            c.type = typeIds[i];
            switch (c.type) {
            case QMetaType::Int:
                c.cType = SQL_C_SLONG;
                c.width = sizeof(SQLINTEGER);
                break;
            case QMetaType::UInt:
                c.cType = SQL_C_ULONG;
                c.width = sizeof(SQLUINTEGER);
                break;
            case QMetaType::LongLong:
                c.cType = SQL_C_SBIGINT;
                c.width = sizeof(SQLBIGINT);
                break;
            case QMetaType::ULongLong:
                c.cType = SQL_C_UBIGINT;
                c.width = sizeof(SQLUBIGINT);
                break;
            case QMetaType::Double:
                c.cType = SQL_C_DOUBLE;
                c.width = sizeof(SQLDOUBLE);
                break;
            case QMetaType::QDate:
                c.cType = SQL_C_TYPE_DATE;
                c.width = sizeof(SQL_DATE_STRUCT);
                break;
            case QMetaType::QTime:
                c.cType = SQL_C_TYPE_TIME;
                c.width = sizeof(SQL_TIME_STRUCT);
                break;
            case QMetaType::QDateTime:
                c.cType = SQL_C_TYPE_TIMESTAMP;
                c.width = sizeof(SQL_TIMESTAMP_STRUCT);
                break;
            case QMetaType::QString:
                if (sizes[i] == 0 || sizes[i] > kMaxBoundChars) return false;
                c.cType = SQL_C_WCHAR;
                // The driver's terminator takes a character of the buffer.
                c.width = SQLLEN((sizes[i] + 1) * sizeof(SQLWCHAR));
                break;
            default: return false;
            }
            rowBytes += c.width + qsizetype(sizeof(SQLLEN));
            m_columns.push_back(std::move(c));
        }
        m_rowsPerBlock =
            SQLULEN(qBound<qsizetype>(1, kBlockBytes / qMax<qsizetype>(rowBytes, 1), qsizetype(kMaxRowsPerBlock)));
        return true;
    }

    // Binds the buffers and reads every row of the current result into `rows`. False on a
    // driver error (its diagnostics are on the statement), or when a text did not fit its
    // column's declared size (`overflow` set; never cut silently).
    // The buffers stay bound until unbind(): take them off only once the driver has moved on
    // to the next result (SQLMoreResults), since touching the statement between the last fetch
    // and SQLMoreResults loses the error of a later statement of the batch.
    bool readAll(SQLHSTMT h, QVector<QVector<QVariant>>& rows, bool& overflow) {
        m_bound = true;
        return bind(h) && fetchAll(h, rows, overflow);
    }

    // Later results of the batch are fetched one row at a time with nothing bound.
    void unbind(SQLHSTMT h) {
        if (!m_bound) return;
        m_bound = false;
        SQLFreeStmt(h, SQL_UNBIND);
        SQLSetStmtAttr(h, SQL_ATTR_ROW_ARRAY_SIZE, attributeValue(SQLULEN(1)), 0);
        SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
        SQLSetStmtAttr(h, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    }

private:
    struct Column {
        int type = 0;
        SQLSMALLINT cType = 0;
        SQLLEN width = 0;  // bytes of one row's value
        std::unique_ptr<char[]> data;  // width * rows
        std::unique_ptr<SQLLEN[]> indicators;  // one per row
    };
    std::vector<Column> m_columns;
    SQLULEN m_rowsPerBlock = 1;
    SQLULEN m_fetched = 0;
    bool m_bound = false;
    std::unique_ptr<SQLUSMALLINT[]> m_status;

    bool bind(SQLHSTMT h) {
        if (!SQL_SUCCEEDED(SQLSetStmtAttr(h, SQL_ATTR_ROW_BIND_TYPE, attributeValue(SQLULEN(SQL_BIND_BY_COLUMN)), 0)) ||
            !SQL_SUCCEEDED(SQLSetStmtAttr(h, SQL_ATTR_ROW_ARRAY_SIZE, attributeValue(m_rowsPerBlock), 0)))
            return false;
        m_status.reset(new SQLUSMALLINT[m_rowsPerBlock]);
        SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, &m_fetched, 0);
        SQLSetStmtAttr(h, SQL_ATTR_ROW_STATUS_PTR, m_status.get(), 0);
        for (size_t i = 0; i < m_columns.size(); ++i) {
            Column& c = m_columns[i];
            c.data.reset(new char[size_t(c.width) * m_rowsPerBlock]);
            c.indicators.reset(new SQLLEN[m_rowsPerBlock]);
            if (!SQL_SUCCEEDED(SQLBindCol(h, SQLUSMALLINT(i + 1), c.cType, c.data.get(), c.width, c.indicators.get())))
                return false;
        }
        return true;
    }

    bool fetchAll(SQLHSTMT h, QVector<QVector<QVariant>>& rows, bool& overflow) {
        for (;;) {
            m_fetched = 0;
            // SQLFetchScroll: FreeTDS's SQLFetch keeps to one row at a time for an environment
            // that is not exactly ODBC 3.0 (Qt's), whatever the row array size says.
            const SQLRETURN r = SQLFetchScroll(h, SQL_FETCH_NEXT, 0);
            if (r == SQL_NO_DATA) return true;
            if (!SQL_SUCCEEDED(r)) return false;
            // Room for a further block at a time would copy every row again per block.
            if (rows.capacity() < rows.size() + qsizetype(m_fetched))
                rows.reserve(qMax(2 * rows.capacity(), rows.size() + qsizetype(m_fetched)));
            for (SQLULEN row = 0; row < m_fetched; ++row) {
                if (m_status[row] == SQL_ROW_ERROR) return false;
                QVector<QVariant> values(qsizetype(m_columns.size()));
                for (size_t i = 0; i < m_columns.size(); ++i)
                    if (!value(m_columns[i], row, values[qsizetype(i)])) {
                        overflow = true;
                        return false;
                    }
                rows.push_back(std::move(values));
            }
        }
    }

    // The cell as Statement::read gives it. False when a text was cut.
    static bool value(const Column& c, SQLULEN row, QVariant& out) {
        const SQLLEN indicator = c.indicators[row];
        if (indicator == SQL_NULL_DATA) {
            out = QVariant();
            return true;
        }
        const char* p = c.data.get() + size_t(c.width) * row;
        const auto as = [p](auto v) {
            std::memcpy(&v, p, sizeof v);
            return v;
        };
        switch (c.type) {
        case QMetaType::Int: out = QVariant(int(as(SQLINTEGER()))); return true;
        case QMetaType::UInt: out = QVariant(uint(as(SQLUINTEGER()))); return true;
        case QMetaType::LongLong: out = QVariant(qlonglong(as(SQLBIGINT()))); return true;
        case QMetaType::ULongLong: out = QVariant(qulonglong(as(SQLUBIGINT()))); return true;
        case QMetaType::Double: out = QVariant(double(as(SQLDOUBLE()))); return true;
        case QMetaType::QDate: {
            const auto v = as(SQL_DATE_STRUCT());
            out = QVariant(QDate(v.year, v.month, v.day));
            return true;
        }
        case QMetaType::QTime: {
            const auto v = as(SQL_TIME_STRUCT());
            out = QVariant(QTime(v.hour, v.minute, v.second));
            return true;
        }
        case QMetaType::QDateTime: {
            const auto v = as(SQL_TIMESTAMP_STRUCT());
            out = QVariant(
                QDateTime(QDate(v.year, v.month, v.day), QTime(v.hour, v.minute, v.second, int(v.fraction / 1000000))));
            return true;
        }
        default: {
            if (indicator == SQL_NO_TOTAL || indicator > c.width - SQLLEN(sizeof(SQLWCHAR))) return false;
            out = QVariant(
                QString::fromUtf16(reinterpret_cast<const char16_t*>(p), indicator / SQLLEN(sizeof(SQLWCHAR))));
            return true;
        }
        }
    }
};

// Reads the current result of the statement: into `result` when `keep` (the first result with
// columns), else its rows are fetched and dropped, so that an error among them is still seen.
// False on a driver error; a text longer than its column's declared size adds its own message.
bool readResult(Statement& st, SQLSMALLINT count, bool keep, ResultData& result, Diagnostics& error, BoundRows& block) {
    SQLHSTMT h = st.handle();
    if (keep) {
        QVector<SQLULEN> sizes;
        if (!st.describe(count, result.columns, result.types, sizes)) return false;
        QVector<int> typeIds;
        for (const QMetaType& t : std::as_const(result.types)) typeIds << t.id();
        if (block.plan(typeIds, sizes)) {
            bool overflow = false;
            const bool ok = block.readAll(h, result.rows, overflow);
            if (overflow) error.messages << QStringLiteral("A text value was longer than its column's declared size");
            return ok;
        }
        for (;;) {
            const SQLRETURN r = SQLFetch(h);
            if (r == SQL_NO_DATA) return true;
            if (!SQL_SUCCEEDED(r)) return false;
            QVector<QVariant> row(count);
            for (SQLSMALLINT c = 0; c < count; ++c)
                if (!st.read(SQLUSMALLINT(c + 1), typeIds[c], row[c])) return false;
            result.rows.push_back(std::move(row));
        }
    }
    for (;;) {
        const SQLRETURN r = SQLFetch(h);
        if (r == SQL_NO_DATA) return true;
        if (!SQL_SUCCEEDED(r)) return false;
    }
}

// Runs the text as one batch and reads every result of it, so that an error in a later statement
// is reported instead of being left behind for the next statement. False on a driver error.
bool runBatch(Statement& st, const QString& sql, int queryTimeout, bool wantRows, ResultData& result,
              Diagnostics& error) {
    SQLHSTMT h = st.handle();
    SQLSetStmtAttr(h, SQL_ATTR_CURSOR_TYPE, attributeValue(SQL_CURSOR_FORWARD_ONLY), SQL_IS_UINTEGER);
    // The driver cancels the statement when the server has not answered in time and reports
    // "Timeout expired"; the connection stays usable.
    SQLSetStmtAttr(h, SQL_ATTR_QUERY_TIMEOUT, attributeValue(SQLULEN(queryTimeout)), SQL_IS_UINTEGER);
    SQLRETURN r = SQLExecDirectW(
        h, reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(reinterpret_cast<const char16_t*>(sql.utf16()))),
        SQLINTEGER(sql.size()));
    if (!SQL_SUCCEEDED(r) && r != SQL_NO_DATA) return false;
    bool haveResult = false;
    // Outlives every fetch into its buffers: once this function returns, the statement is only
    // asked for its diagnostics and freed.
    BoundRows block;
    for (;;) {
        SQLSMALLINT count = 0;
        if (!SQL_SUCCEEDED(SQLNumResultCols(h, &count))) count = 0;
        if (count > 0) {
            const bool keep = !haveResult && wantRows;
            haveResult = haveResult || keep;
            if (!readResult(st, count, keep, result, error, block)) return false;
        } else {
            SQLLEN affected = -1;
            if (SQL_SUCCEEDED(SQLRowCount(h, &affected)) && affected >= 0) result.rowsAffected = int(affected);
        }
        r = SQLMoreResults(h);
        if (r == SQL_NO_DATA) return true;
        if (!SQL_SUCCEEDED(r)) return false;
        block.unbind(h);
    }
}

}  // namespace

bool Connection::linkIsDead() const {
    SQLHDBC hdbc = connectionHandle(database());
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
    return execute(sql, wantRows);
}

ResultData Connection::execute(const QString& sql, bool wantRows) {
    // The statement runs on Qt's own ODBC connection (its options and session untouched), but
    // is read straight through ODBC: Qt's row-by-row QVariant machinery cost as much as the
    // whole round trip. Forward-only text execution stays a plain SQL batch on the wire.
    SQLHDBC dbc = connectionHandle(database());
    if (!dbc) throw DatabaseError(QStringLiteral("The ODBC connection handle is not available"));
    ResultData result;
    Diagnostics error;
    {
        Statement st(dbc);
        SQLHSTMT h = st.handle();
        if (!h) {
            error.collect(SQL_HANDLE_DBC, dbc);
            if (error.messages.isEmpty()) error.messages << QStringLiteral("Cannot allocate a statement");
        } else if (!runBatch(st, sql, m_queryTimeout, wantRows, result, error)) {
            error.collect(SQL_HANDLE_DBC, dbc);
            error.collect(SQL_HANDLE_STMT, h);
            if (error.messages.isEmpty())
                error.messages << QStringLiteral("The statement failed without a message from the driver");
        }
        // Freed before any reconnect below, which would leave this handle dangling.
        st.release();
    }
    if (!error.messages.isEmpty()) fail(error.text(), error.state);
    return result;
}

QString Connection::cleanErrorText(const QString& raw) {
    static const QRegularExpression vendorTags(
        QStringLiteral("\\[(?:FreeTDS|unixODBC|SQL Server|Microsoft|Driver Manager|"
                       "ODBC Driver \\d+ for SQL Server|ODBC SQL Server Driver|"
                       "SQL Server Native Client [0-9.]+|DBNETLIB|DBNMPNTW|DBMSSOCN)\\]"));
    static const QRegularExpression qtSuffix(QStringLiteral("\\s*QODBC3?:\\s*Unable to [^\\n]*$"));
    QString text = raw;
    text.remove(vendorTags);
    text.remove(qtSuffix);
    text = text.trimmed();
    return text;
}

bool Connection::isLinkFailure(const QString& text, const QString& nativeCode) {
    static const char* const kTexts[] = {
        "Communication link failure",
        "Unexpected EOF",
        "Write to the server failed",
        "Read from the server failed",
        "Connection reset",
        "Broken pipe",
        "Connection is not open",
        "08S01",
        "08003",
    };
    if (nativeCode == QLatin1String("08S01") || nativeCode == QLatin1String("08003")) return true;
    for (const char* t : kTexts)
        if (text.contains(QLatin1String(t), Qt::CaseInsensitive)) return true;
    return false;
}

}  // namespace qtl
