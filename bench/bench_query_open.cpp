// Opening a query of 100 and of 10,000 rows through Query, beside a bare ODBC loop
// (SQLExecDirect/SQLFetch/SQLGetData) on the same statement and server in the same run.
//   bench_query_open [runs]
#include "DevServer.h"
#include "platform/Query.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

class BareOdbc {
public:
    explicit BareOdbc(const QString& connect) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env);
        SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, m_env, &m_dbc);
        QByteArray text = connect.toUtf8();
        const SQLRETURN r = SQLDriverConnect(m_dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                             SQLSMALLINT(text.size()), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(r)) throw std::runtime_error("bare ODBC connect failed");
    }
    ~BareOdbc() {
        SQLDisconnect(m_dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, m_env);
    }
    // Runs the statement and reads every cell (int and text), like the workstation does.
    long run(const QString& sql) {
        SQLHSTMT stmt = nullptr;
        SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &stmt);
        QByteArray text = sql.toUtf8();
        long cells = 0;
        if (!SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS)))
            throw std::runtime_error("bare ODBC statement failed");
        do {
            SQLSMALLINT cols = 0;
            SQLNumResultCols(stmt, &cols);
            while (cols > 0 && SQL_SUCCEEDED(SQLFetch(stmt))) {
                for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(cols); ++c) {
                    SQLWCHAR buf[512];
                    SQLLEN len = 0;
                    SQLGetData(stmt, c, SQL_C_WCHAR, buf, sizeof buf, &len);
                    ++cells;
                }
            }
        } while (SQL_SUCCEEDED(SQLMoreResults(stmt)));
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return cells;
    }

private:
    SQLHENV m_env = nullptr;
    SQLHDBC m_dbc = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 9;
    try {
        qtltest::DevServer server;
        server.start();
        server.stop();
        // A table of our own, filled before the server starts so every session sees it.
        server.sqliteExec(
            QStringLiteral("CREATE TABLE bench_rows (id INTEGER PRIMARY KEY, name NVARCHAR(100) NOT NULL, "
                           "code INT NOT NULL);"
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
                           "INSERT INTO bench_rows SELECT i, 'Студент номер ' || i, i * 7 FROM n;"));
        server.restart();

        qtl::Connection con;
        con.setOdbcConnectString(server.operatorOdbcString());
        qtl::Query query(&con, QStringLiteral("ADOQ_Bench"));
        BareOdbc bare(server.operatorOdbcString());
        // Qt's own forward-only loop on a second connection: how much of the cost is Qt SQL's.
        QSqlDatabase qt = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("bench-qt"));
        qt.setDatabaseName(server.operatorOdbcString());
        if (!qt.open()) throw std::runtime_error("Qt connection failed");

        std::printf("%-8s %12s %12s %12s %8s\n", "rows", "Query ms", "Qt loop ms", "bare ms", "ratio");
        for (int rows : {100, 10000}) {
            const QString sql =
                QStringLiteral("SELECT id, name, code FROM bench_rows WHERE id <= %1 ORDER BY id").arg(rows);
            query.setSql(sql);
            std::vector<double> viaQuery, viaBare, viaQt;
            for (int i = 0; i < runs + 1; ++i) {
                QElapsedTimer t;
                t.start();
                query.close();
                query.open();
                const double q = double(t.nsecsElapsed()) / 1e6;
                if (query.recordCount() != rows) throw std::runtime_error("wrong row count");
                t.restart();
                const long cells = bare.run(sql + QStringLiteral("\r\n"));
                const double b = double(t.nsecsElapsed()) / 1e6;
                if (cells != long(rows) * 3) throw std::runtime_error("wrong cell count");
                t.restart();
                {
                    QSqlQuery raw(qt);
                    raw.setForwardOnly(true);
                    raw.exec(sql);
                    while (raw.next())
                        for (int c = 0; c < 3; ++c) (void)raw.value(c);
                }
                const double qtl = double(t.nsecsElapsed()) / 1e6;
                if (i == 0) continue;  // warm-up
                viaQuery.push_back(q);
                viaBare.push_back(b);
                viaQt.push_back(qtl);
            }
            const double mq = median(viaQuery), mb = median(viaBare), mt = median(viaQt);
            std::printf("%-8d %12.2f %12.2f %12.2f %8.2f\n", rows, mq, mt, mb, mq / mb);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_query_open: %s\n", e.what());
        return 1;
    }
    return 0;
}
