// Queries and the connection against qtl-devserver through QODBC and FreeTDS.
#include "platform_fixture.h"

#include "dm_u.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

using namespace qtl;

using QueryLive = LiveServer;

TEST_F(QueryLive, OpenFetchesEveryRowAndOpeningAgainSendsNothing) {
    TDM_MB dm;
    dm.ADOCon->setOdbcConnectString(server.operatorOdbcString());
    const int mark = server.logMark();
    dm.ADOQ_Year->open();
    ASSERT_TRUE(dm.ADOQ_Year->isOpen());
    const int rows = dm.ADOQ_Year->recordCount();
    EXPECT_GT(rows, 0);
    EXPECT_EQ(dm.ADOQ_Year->currentRow(), 0);
    dm.ADOQ_Year->next();
    dm.ADOQ_Year->open();  // already open: rows and current row stay
    EXPECT_EQ(dm.ADOQ_Year->currentRow(), rows > 1 ? 1 : 0);
    // A year added meanwhile is not seen until the query is really reopened.
    server.sqliteExec(QStringLiteral("INSERT INTO a_year(id_a_year, p32) VALUES(999, '2099-2100')"));
    dm.ADOQ_Year->open();
    EXPECT_EQ(dm.ADOQ_Year->recordCount(), rows);
    EXPECT_EQ(sentCount(mark, dm.ADOQ_Year->sqlText()), 1);
    EXPECT_EQ(dm.ADOQ_Year->sqlText(), QStringLiteral("SELECT DISTINCT [id_a_year], [year]\r\n  FROM VSelForKPV\r\n"
                                                      "where id_a_year>10\r\nORDER BY [year]\r\n"));
    dm.ADOQ_Year->close();
    dm.ADOQ_Year->open();
    EXPECT_EQ(dm.ADOQ_Year->recordCount(), rows + 1);
    EXPECT_EQ(sentCount(mark, dm.ADOQ_Year->sqlText()), 2);
}

TEST_F(QueryLive, FieldsReadTypedAndWalkToTheEnd) {
    Query q(&con, QStringLiteral("ADOQ_Exec"));
    q.setSql(QStringLiteral("SELECT id_w_s, p42 FROM w_s ORDER BY id_w_s"));
    q.open();
    const QVariant count = server.sqliteScalar(QStringLiteral("SELECT count(*) FROM w_s"));
    ASSERT_EQ(q.recordCount(), count.toInt());
    int walked = 0;
    QList<int> ids;
    for (q.first(); !q.eof(); q.next()) {
        ++walked;
        ids << q.fieldAsInt(QStringLiteral("ID_W_S"));  // names compare without case
        EXPECT_FALSE(q.fieldAsString(QStringLiteral("p42")).isEmpty());
    }
    EXPECT_EQ(walked, q.recordCount());
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    EXPECT_EQ(q.currentRow(), q.recordCount() - 1);  // the end leaves the last row current
    ASSERT_TRUE(q.locate(QStringLiteral("id_w_s"), ids.first()));
    EXPECT_EQ(q.currentRow(), 0);
    EXPECT_FALSE(q.locate(QStringLiteral("id_w_s"), 123456));
    EXPECT_EQ(q.currentRow(), 0);
    // A key held as text still finds its row.
    ASSERT_TRUE(q.locate(QStringLiteral("id_w_s"), QString::number(ids.last())));
    EXPECT_EQ(q.currentRow(), q.recordCount() - 1);
}

TEST_F(QueryLive, EmptyResultReadsNullsWithoutError) {
    Query q(&con, QStringLiteral("ADOQ_Exec"));
    q.setSql(QStringLiteral("SELECT id_w_s, p42 FROM w_s WHERE id_w_s < 0"));
    q.open();
    EXPECT_TRUE(q.isOpen());
    EXPECT_TRUE(q.isEmpty());
    EXPECT_TRUE(q.eof());
    EXPECT_EQ(q.fieldAsString(QStringLiteral("p42")), QString());
    EXPECT_EQ(q.fieldAsInt(QStringLiteral("id_w_s")), 0);
    EXPECT_FALSE(q.fieldAsBool(QStringLiteral("id_w_s")));
    EXPECT_EQ(q.fieldAsDateTime(QStringLiteral("id_w_s")).date(), QDate(1899, 12, 30));
    // A column the result does not have is still an error.
    EXPECT_THROW(q.fieldValue(QStringLiteral("nope")), AppError);
}

TEST_F(QueryLive, PersistentFieldsMustBeInTheResult) {
    TDM_MB dm;
    dm.ADOCon->setOdbcConnectString(server.operatorOdbcString());
    dm.ADOQ_Teacher->setSql(QStringLiteral("SELECT id_teacher FROM t_fio"));
    try {
        dm.ADOQ_Teacher->open();
        FAIL() << "opened without t_fio";
    } catch (const AppError& e) {
        EXPECT_EQ(e.text(), QStringLiteral("ADOQ_Teacher: Field 't_fio' not found"));
    }
    EXPECT_FALSE(dm.ADOQ_Teacher->isOpen());

    dm.ADOQ_Teacher->setSql(QStringLiteral("SELECT t_fio AS id_teacher, t_fio FROM t_fio"));
    try {
        dm.ADOQ_Teacher->open();
        FAIL() << "opened with a text id_teacher";
    } catch (const AppError& e) {
        EXPECT_TRUE(e.text().startsWith(QStringLiteral("ADOQ_Teacher: Field 'id_teacher'"))) << e.text().toStdString();
    }

    // Extra columns are hidden; the persistent ones come in their own order.
    dm.ADOQ_Teacher->setSql(QStringLiteral("SELECT s_t_fio, t_fio, id_teacher FROM t_fio ORDER BY id_teacher"));
    dm.ADOQ_Teacher->open();
    EXPECT_EQ(dm.ADOQ_Teacher->columnCount(), 2);
    EXPECT_EQ(dm.ADOQ_Teacher->fieldValue(0), dm.ADOQ_Teacher->fieldValue(QStringLiteral("id_teacher")));
    EXPECT_FALSE(dm.ADOQ_Teacher->hasField(QStringLiteral("s_t_fio")));
    EXPECT_EQ(dm.ADOQ_Teacher->fieldAsInt(QStringLiteral("id_teacher")),
              server.sqliteScalar(QStringLiteral("SELECT min(id_teacher) FROM t_fio")).toInt());
    EXPECT_EQ(dm.ADOQ_Teacher->fieldAsString(QStringLiteral("t_fio")),
              server.sqliteScalar(QStringLiteral("SELECT t_fio FROM t_fio ORDER BY id_teacher LIMIT 1")).toString());
}

TEST_F(QueryLive, ServerErrorReadsAsTheServerWroteIt) {
    try {
        con.run(QStringLiteral("SELECT * FROM no_such_table"), true);
        FAIL() << "no error";
    } catch (const DatabaseError& e) {
        EXPECT_FALSE(e.connectionLost());
        EXPECT_TRUE(e.text().contains(QStringLiteral("no_such_table"))) << e.text().toStdString();
        EXPECT_FALSE(e.text().contains(QStringLiteral("FreeTDS"))) << e.text().toStdString();
        EXPECT_FALSE(e.text().contains(QStringLiteral("QODBC"))) << e.text().toStdString();
        EXPECT_FALSE(e.text().startsWith(QLatin1Char('['))) << e.text().toStdString();
    }
    // The connection is still usable.
    EXPECT_EQ(con.run(QStringLiteral("SELECT 7 AS x"), true).rows.value(0).value(0).toInt(), 7);
}

TEST_F(QueryLive, CyrillicTextsTravelBothWays) {
    Query q(&con, QStringLiteral("ADOQ_Exec"));
    q.setSql(QStringLiteral("SELECT :t AS t"));
    q.setParam(QStringLiteral("t"), QStringLiteral("Ёжик ёж 'в' тумане"));
    q.open();
    EXPECT_EQ(q.fieldAsString(QStringLiteral("t")), QStringLiteral("Ёжик ёж 'в' тумане"));
}

TEST_F(QueryLive, ParametersAreWrittenIntoTheBatchAsLiterals) {
    TDM_MB dm;
    dm.ADOCon->setOdbcConnectString(server.operatorOdbcString());
    const int year = server.sqliteScalar(QStringLiteral("SELECT id_a_year FROM RRNKkrdt LIMIT 1")).toInt();
    dm.ADOQ_Kafedra->setParam(QStringLiteral("id_a_year"), year);
    const int mark = server.logMark();
    dm.ADOQ_Kafedra->open();
    EXPECT_GT(dm.ADOQ_Kafedra->recordCount(), 0);
    const QStringList sent = server.batchesSince(mark);
    ASSERT_FALSE(sent.isEmpty());
    EXPECT_EQ(
        sent.last(),
        QStringLiteral("SELECT     dbo.kafedra.f1 AS kafedra, dbo.kafedra.id_kafedra, dbo.RRNKkrdt.id_a_year\r\n"
                       "FROM         dbo.kafedra INNER JOIN\r\n"
                       "                      dbo.RRNKkrdt ON dbo.kafedra.id_kafedra = dbo.RRNKkrdt.id_kafedra\r\n"
                       "GROUP BY dbo.kafedra.f1, dbo.kafedra.id_kafedra, dbo.RRNKkrdt.id_a_year\r\n"
                       "HAVING      (dbo.RRNKkrdt.id_a_year = %1)\r\n"
                       "ORDER BY kafedra\r\n")
            .arg(year));
    for (dm.ADOQ_Kafedra->first(); !dm.ADOQ_Kafedra->eof(); dm.ADOQ_Kafedra->next())
        EXPECT_EQ(dm.ADOQ_Kafedra->fieldAsInt(QStringLiteral("id_a_year")), year);

    // A null parameter compares with nothing: no rows, no error.
    dm.ADOQ_Kafedra->close();
    dm.ADOQ_Kafedra->setParam(QStringLiteral("id_a_year"), QVariant());
    dm.ADOQ_Kafedra->open();
    EXPECT_TRUE(dm.ADOQ_Kafedra->isEmpty());
}

TEST_F(QueryLive, DeleteCurrentRowRemovesItOnTheServer) {
    TDM_MB dm;
    dm.ADOCon->setOdbcConnectString(server.operatorOdbcString());
    const int id =
        server.sqliteScalar(QStringLiteral("SELECT min(id_disciplineForStudent) FROM DisciplineForStudent")).toInt();
    ASSERT_GT(id, 0);
    const QString select = QStringLiteral(
                               "SELECT TOP (1) id_disciplineForStudent FROM dbo.DisciplineForStudent WHERE "
                               "id_disciplineForStudent =%1")
                               .arg(id);
    dm.ADOQ_TEMP->setSql(select);
    dm.ADOQ_TEMP->open();
    ASSERT_EQ(dm.ADOQ_TEMP->recordCount(), 1);
    dm.ADOQ_TEMP->deleteCurrentRow();
    EXPECT_TRUE(dm.ADOQ_TEMP->isEmpty());
    EXPECT_EQ(
        server
            .sqliteScalar(
                QStringLiteral("SELECT count(*) FROM DisciplineForStudent WHERE id_disciplineForStudent=%1").arg(id))
            .toInt(),
        0);
    // Gone meanwhile: the result is empty and the deletion fails.
    dm.ADOQ_TEMP->close();
    dm.ADOQ_TEMP->open();
    try {
        dm.ADOQ_TEMP->deleteCurrentRow();
        FAIL() << "deleted from an empty result";
    } catch (const AppError& e) {
        EXPECT_EQ(e.text(), QStringLiteral("Cannot perform this operation on an empty dataset"));
    }
}

TEST_F(QueryLive, AuditRecordAndTheDeleteGoInOneBatch) {
    TDM_MB dm;
    dm.ADOCon->setOdbcConnectString(server.operatorOdbcString());
    g_signIn.CurrentLogin = QStringLiteral("o'perator");
    g_signIn.ComputerName = QStringLiteral("PC7");
    const int id =
        server.sqliteScalar(QStringLiteral("SELECT max(id_disciplineForStudent) FROM DisciplineForStudent")).toInt();
    const QString del = QStringLiteral("DELETE FROM DisciplineForStudent WHERE id_disciplineForStudent=%1").arg(id);
    const int mark = server.logMark();
    dm.DeleteWithAudit(del,
                       {{QStringLiteral("id_student"), QStringLiteral("15")},
                        {QStringLiteral("id_disciplineForStudent"), QString::number(id)}},
                       QStringLiteral("DisciplineForStudent"), id);
    const QString ip = dm.IdIPWatch1->localIP();
    const QString insert = statements::auditRecord(
        QStringLiteral("id_student[15], id_disciplineForStudent[%1]").arg(id), QStringLiteral("DisciplineForStudent"),
        QString::number(id), QStringLiteral("o'perator"), QStringLiteral("PC7\\") + ip);
    EXPECT_EQ(
        server.batchesSince(mark),
        QStringList{statements::atomicBatch({del, insert}).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")});
    EXPECT_EQ(
        server
            .sqliteScalar(
                QStringLiteral("SELECT count(*) FROM DisciplineForStudent WHERE id_disciplineForStudent=%1").arg(id))
            .toInt(),
        0);
    const auto rows = server.sqlite(QStringLiteral(
        "SELECT \"table\", row_id, descr, QTL_User, comp FROM QTL_LOG ORDER BY id_QTL_LOG DESC LIMIT 1"));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0][0].toString(), QStringLiteral("DisciplineForStudent"));
    EXPECT_EQ(rows[0][1].toInt(), id);
    EXPECT_EQ(rows[0][2].toString(),
              QStringLiteral("Запись с уникальным номером - '%1' была удалена - (id_student[15], "
                             "id_disciplineForStudent[%1]).")
                  .arg(id));
    EXPECT_EQ(rows[0][3].toString(), QStringLiteral("o'perator"));
    EXPECT_EQ(rows[0][4].toString(), QStringLiteral("PC7\\") + ip);
    EXPECT_FALSE(ip.isEmpty());
    g_signIn = SignIn{};
}

class FailingServer : public LiveServer {
protected:
    static qtltest::DevServer::Options failOn() {
        qtltest::DevServer::Options o;
        o.failOn = QStringLiteral("FAIL_HERE");
        return o;
    }
    FailingServer() : LiveServer(failOn()) {}
};

TEST_F(FailingServer, ErrorInALaterStatementOfTheBatchIsReported) {
    EXPECT_THROW(con.run(QStringLiteral("SELECT 1 AS a\r\nSELECT 2 AS FAIL_HERE\r\n"), true), DatabaseError);
    // The statement before the failing one ran: its effect stays.
    const int before = server.sqliteScalar(QStringLiteral("SELECT count(*) FROM QTL_LOG")).toInt();
    try {
        con.run(QStringLiteral("INSERT INTO QTL_LOG([table], [row_id]) VALUES('x', 1)\r\n"
                               "INSERT INTO QTL_LOG([table], [row_id]) VALUES('FAIL_HERE', 2)\r\n"),
                false);
        FAIL() << "second INSERT not reported";
    } catch (const DatabaseError& e) {
        EXPECT_FALSE(e.connectionLost());
        EXPECT_FALSE(e.text().contains(QStringLiteral("FreeTDS"))) << e.text().toStdString();
    }
    EXPECT_EQ(server.sqliteScalar(QStringLiteral("SELECT count(*) FROM QTL_LOG")).toInt(), before + 1);
    // And the connection goes on.
    EXPECT_EQ(con.run(QStringLiteral("SELECT 3 AS x"), true).rows.value(0).value(0).toInt(), 3);
}

TEST_F(QueryLive, LostLinkIsReportedOnceAndTheNextStatementReconnects) {
    con.setSessionSetup({QStringLiteral("SET DATEFORMAT dmy")});
    con.run(QStringLiteral("SELECT 1 AS x"), true);
    server.restart();
    const int mark = server.logMark();
    try {
        con.run(QStringLiteral("SELECT 2 AS x"), true);
        FAIL() << "the broken link went unnoticed";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.connectionLost()) << e.text().toStdString();
    }
    EXPECT_FALSE(con.isOpen());
    const ResultData r = con.run(QStringLiteral("SELECT 3 AS x"), true);
    EXPECT_EQ(r.rows.value(0).value(0).toInt(), 3);
    const QStringList sent = server.batchesSince(mark);
    const int setup = int(sent.indexOf(QStringLiteral("SET DATEFORMAT dmy")));
    const int select = int(sent.indexOf(QStringLiteral("SELECT 3 AS x")));
    ASSERT_GE(setup, 0) << sent.join(QStringLiteral(" | ")).toStdString();
    EXPECT_LT(setup, select);
}

// Results are read straight through ODBC on Qt's connection; callers must see exactly what Qt's
// own driver would have given them.
class TypedResults : public LiveServer {
protected:
    void SetUp() override {
        LiveServer::SetUp();
        server.stop();
        // A table of our own with declared types, so that NULLs keep their column's type.
        server.sqliteExec(
            QStringLiteral("CREATE TABLE typed_cells (id INT PRIMARY KEY, i INT, b BIGINT, f BIT, d FLOAT, "
                           "t DATETIME, s NVARCHAR(4000));"
                           "INSERT INTO typed_cells VALUES (1, -7, 5000000000, 1, 2.5, '2024-03-15 13:45:30.500', "
                           "'Ёжик в тумане');"
                           "INSERT INTO typed_cells VALUES (2, 2147483647, -1, 0, -0.125, '1900-01-01 00:00:00', '');"
                           "INSERT INTO typed_cells VALUES (3, NULL, NULL, NULL, NULL, NULL, NULL);"));
        // Longer than one read of the driver: the text comes in pieces.
        longText = QString(3000, QChar(0x0416)) + QStringLiteral("конец");
        server.sqliteExec(QStringLiteral("INSERT INTO typed_cells VALUES (4, 0, 0, 0, 0, "
                                         "'2000-02-29 23:59:59', '%1')")
                              .arg(longText));
        server.restart();
    }

    // The same statement through Qt's forward-only query on a connection of its own.
    ResultData throughQt(const QString& sql) {
        ResultData r;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("qt-reference"));
            db.setDatabaseName(server.operatorOdbcString());
            EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
            QSqlQuery q(db);
            q.setForwardOnly(true);
            EXPECT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
            const QSqlRecord rec = q.record();
            for (int i = 0; i < rec.count(); ++i) {
                r.columns << rec.fieldName(i);
                r.types << rec.field(i).metaType();
            }
            while (q.next()) {
                QVector<QVariant> row;
                for (int i = 0; i < rec.count(); ++i) {
                    const QVariant v = q.value(i);
                    row << (v.isNull() ? QVariant() : v);
                }
                r.rows << row;
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("qt-reference"));
        return r;
    }

    QString longText;
    const QString select = QStringLiteral("SELECT id, i, b, f, d, t, s FROM typed_cells ORDER BY id");
};

TEST_F(TypedResults, EveryTypeAndNullReadsAsQtsDriverReadsIt) {
    const ResultData mine = con.run(select, true);
    const ResultData qt = throughQt(select);
    ASSERT_EQ(mine.columns, qt.columns);
    ASSERT_EQ(mine.types.size(), qt.types.size());
    for (int c = 0; c < qt.types.size(); ++c)
        EXPECT_EQ(mine.types[c].id(), qt.types[c].id()) << qt.columns[c].toStdString();
    ASSERT_EQ(mine.rows.size(), qt.rows.size());
    for (int r = 0; r < qt.rows.size(); ++r)
        for (int c = 0; c < qt.columns.size(); ++c) {
            // Qt's driver turns a text of a few thousand characters into NULL; ours keeps it
            // (checked below).
            if (r == 3 && c == 6) continue;
            const QVariant& a = mine.rows[r][c];
            const QVariant& b = qt.rows[r][c];
            EXPECT_EQ(a.isNull(), b.isNull()) << "row " << r << " " << qt.columns[c].toStdString();
            EXPECT_EQ(a.metaType().id(), b.metaType().id()) << "row " << r << " " << qt.columns[c].toStdString();
            EXPECT_EQ(a, b) << "row " << r << " " << qt.columns[c].toStdString();
        }

    // And what that is, spelled out.
    EXPECT_EQ(mine.columns, QStringList({"id", "i", "b", "f", "d", "t", "s"}));
    EXPECT_EQ(mine.types[1].id(), QMetaType::Int);
    EXPECT_EQ(mine.types[2].id(), QMetaType::LongLong);
    EXPECT_EQ(mine.types[3].id(), QMetaType::UInt);  // the driver calls bit unsigned
    EXPECT_EQ(mine.types[4].id(), QMetaType::Double);
    EXPECT_EQ(mine.types[5].id(), QMetaType::QDateTime);
    EXPECT_EQ(mine.types[6].id(), QMetaType::QString);
    ASSERT_EQ(mine.rows.size(), 4);
    const auto& first = mine.rows[0];
    EXPECT_EQ(first[1], QVariant(-7));
    EXPECT_EQ(first[2], QVariant(qlonglong(5000000000)));
    EXPECT_EQ(first[3], QVariant(1u));
    EXPECT_EQ(first[4], QVariant(2.5));
    EXPECT_EQ(first[5].toDateTime(), QDateTime(QDate(2024, 3, 15), QTime(13, 45, 30, 500)));
    EXPECT_EQ(first[6].toString(), QStringLiteral("Ёжик в тумане"));
    const auto& second = mine.rows[1];
    EXPECT_EQ(second[1], QVariant(2147483647));
    EXPECT_EQ(second[2], QVariant(qlonglong(-1)));
    EXPECT_EQ(second[3], QVariant(0u));
    EXPECT_EQ(second[4], QVariant(-0.125));
    EXPECT_FALSE(second[6].isNull());  // an empty text is not NULL
    EXPECT_EQ(second[6].toString(), QString());
    for (int c = 1; c < 7; ++c) EXPECT_TRUE(mine.rows[2][c].isNull()) << c;
    EXPECT_EQ(mine.rows[3][6].toString(), longText);
    EXPECT_EQ(mine.rows[3][5].toDateTime(), QDateTime(QDate(2000, 2, 29), QTime(23, 59, 59)));
}

TEST_F(TypedResults, NullsGiveTheNullReadingsThroughQuery) {
    Query q(&con, QStringLiteral("ADOQ_Exec"));
    q.setSql(QStringLiteral("SELECT i, b, f, d, t, s FROM typed_cells WHERE id = 3"));
    q.open();
    ASSERT_EQ(q.recordCount(), 1);
    for (const char* column : {"i", "b", "f", "d", "t", "s"}) {
        const QString name = QLatin1String(column);
        EXPECT_TRUE(q.fieldValue(name).isNull()) << name.toStdString();
        EXPECT_EQ(q.fieldAsString(name), QString()) << name.toStdString();
        EXPECT_EQ(q.fieldAsInt(name), 0) << name.toStdString();
        EXPECT_FALSE(q.fieldAsBool(name)) << name.toStdString();
        EXPECT_EQ(q.fieldAsDateTime(name), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
    }
    q.close();
    q.setSql(QStringLiteral("SELECT f, t FROM typed_cells WHERE id = 1"));
    q.open();
    EXPECT_TRUE(q.fieldAsBool(QStringLiteral("f")));
    EXPECT_EQ(q.fieldAsInt(QStringLiteral("f")), 1);
    EXPECT_EQ(q.fieldAsDateTime(QStringLiteral("t")), QDateTime(QDate(2024, 3, 15), QTime(13, 45, 30, 500)));
}

TEST_F(TypedResults, ZeroRowsStillNameAndTypeTheColumns) {
    const ResultData r = con.run(QStringLiteral("SELECT s, i FROM typed_cells WHERE id < 0"), true);
    EXPECT_EQ(r.columns, QStringList({"s", "i"}));
    ASSERT_EQ(r.types.size(), 2);
    EXPECT_EQ(r.types[0].id(), QMetaType::QString);
    EXPECT_EQ(r.types[1].id(), QMetaType::Int);
    EXPECT_TRUE(r.rows.isEmpty());
    // Not asked for rows: nothing kept, the statement still ran.
    const ResultData none = con.run(select, false);
    EXPECT_TRUE(none.columns.isEmpty());
    EXPECT_TRUE(none.rows.isEmpty());
}

TEST_F(TypedResults, ABatchOfSeveralResultsGivesTheFirstWithColumnsAndRunsEveryStatement) {
    // The writes go to the registrations, the one table an operator's account may update.
    const ResultData r = con.run(
        QStringLiteral("UPDATE DisciplineForStudent SET kredits = 40 WHERE id_disciplineForStudent = 1\r\n"
                       "SELECT s AS first_s FROM typed_cells WHERE id = 1\r\n"
                       "SELECT id FROM typed_cells\r\n"
                       "UPDATE DisciplineForStudent SET kredits = 41 WHERE id_disciplineForStudent IN (1, 2)\r\n"),
        true);
    EXPECT_EQ(r.columns, QStringList({"first_s"}));
    ASSERT_EQ(r.rows.size(), 1);
    EXPECT_EQ(r.rows[0][0].toString(), QStringLiteral("Ёжик в тумане"));
    EXPECT_EQ(r.rowsAffected, 2);  // of the last statement that reported a count
    EXPECT_EQ(server
                  .sqliteScalar(QStringLiteral("SELECT group_concat(kredits) FROM DisciplineForStudent "
                                               "WHERE id_disciplineForStudent IN (1, 2)"))
                  .toString(),
              QStringLiteral("41,41"));
    // The connection is clean for the next statement.
    EXPECT_EQ(con.run(QStringLiteral("SELECT 5 AS x"), true).rows.value(0).value(0).toInt(), 5);
}

TEST_F(FailingServer, ErrorInTheSecondStatementAfterRowsThrowsTheServersText) {
    for (bool wantRows : {true, false}) {
        try {
            con.run(QStringLiteral("SELECT id_w_s, p42 FROM w_s\r\nSELECT 2 AS FAIL_HERE\r\n"), wantRows);
            FAIL() << "the failing second statement went unnoticed";
        } catch (const DatabaseError& e) {
            EXPECT_FALSE(e.connectionLost());
            EXPECT_TRUE(e.text().startsWith(QStringLiteral("Injected failure"))) << e.text().toStdString();
            EXPECT_FALSE(e.text().contains(QLatin1Char('['))) << e.text().toStdString();
        }
        EXPECT_TRUE(con.isOpen());
    }
    EXPECT_EQ(con.run(QStringLiteral("SELECT 4 AS x"), true).rows.value(0).value(0).toInt(), 4);
}
