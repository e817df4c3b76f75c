// Results of bounded columns are fetched in blocks of rows into bound buffers. What that could
// break: the last, partial block; a value that fills its buffer exactly; NULLs in bound columns;
// wide results that fetch fewer rows at a time; and the results of the batch after the bound one.
#include "platform_fixture.h"

using namespace qtl;

namespace {

QString nameOf(int i) {
    return QStringLiteral("Студент №%1 Ёё").arg(i);
}

}  // namespace

class BlockFetch : public LiveServer {
protected:
    void SetUp() override {
        LiveServer::SetUp();
        server.stop();
        // 1000 rows: several blocks and a partial last one whatever the block size; every 7th
        // row has NULLs in the bound columns.
        server.sqliteExec(
            QStringLiteral("CREATE TABLE many_rows (id INT PRIMARY KEY, name NVARCHAR(40), code INT, "
                           "ratio FLOAT, born DATETIME);"
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000) "
                           "INSERT INTO many_rows SELECT i, "
                           "CASE WHEN i % 7 = 0 THEN NULL ELSE 'Студент №' || i || ' Ёё' END, "
                           "CASE WHEN i % 7 = 0 THEN NULL ELSE i * 3 END, "
                           "CASE WHEN i % 7 = 0 THEN NULL ELSE i / 4.0 END, "
                           "CASE WHEN i % 7 = 0 THEN NULL ELSE '2001-01-01 10:00:00' END FROM n;"
                           // Texts at their columns' declared sizes, in a result too wide for many rows a block.
                           "CREATE TABLE wide_rows (id INT PRIMARY KEY, a NVARCHAR(4000), b NVARCHAR(4000), "
                           "c NVARCHAR(4000), d NVARCHAR(4000), e NVARCHAR(4000), f NVARCHAR(4000), "
                           "g NVARCHAR(4000), h NVARCHAR(4000), short NVARCHAR(3));"));
        full = QString(4000, QChar(0x0416));
        for (int i = 1; i <= 25; ++i)
            server.sqliteExec(
                QStringLiteral("INSERT INTO wide_rows VALUES (%1, '%2', '%2', '%2', "
                               "'%2', '%2', '%2', '%2', %3, 'ЖЖЖ')")
                    .arg(i)
                    .arg(full)
                    .arg(i % 5 == 0 ? QStringLiteral("NULL") : QStringLiteral("'") + full + QLatin1Char('\'')));
        server.restart();
    }
    QString full;
};

TEST_F(BlockFetch, EveryRowOfSeveralBlocksAndThePartialLastOneArrivesInOrder) {
    const ResultData r = con.run(QStringLiteral("SELECT id, name, code, ratio, born FROM many_rows ORDER BY id"), true);
    ASSERT_EQ(r.rows.size(), 1000);
    for (int i = 1; i <= 1000; ++i) {
        const QVector<QVariant>& row = r.rows[i - 1];
        ASSERT_EQ(row.size(), 5);
        ASSERT_EQ(row[0], QVariant(i));
        if (i % 7 == 0) {
            for (int c = 1; c < 5; ++c) EXPECT_TRUE(row[c].isNull()) << i << " " << c;
            // A null keeps its column's type nowhere but in the result's types.
            continue;
        }
        EXPECT_EQ(row[1], QVariant(nameOf(i))) << i;
        EXPECT_EQ(row[2], QVariant(i * 3)) << i;
        EXPECT_EQ(row[3], QVariant(i / 4.0)) << i;
        EXPECT_EQ(row[4].toDateTime(), QDateTime(QDate(2001, 1, 1), QTime(10, 0))) << i;
    }
    EXPECT_EQ(r.types[1].id(), QMetaType::QString);
    EXPECT_EQ(r.types[4].id(), QMetaType::QDateTime);
}

TEST_F(BlockFetch, RowCountsAroundTheBlockSizeAllComeWhole) {
    // Whatever the block size, one of these ends exactly on a block and the others do not.
    for (int n : {0, 1, 2, 127, 128, 129, 255, 256, 257, 511, 512, 513}) {
        const ResultData r =
            con.run(QStringLiteral("SELECT id, code FROM many_rows WHERE id <= %1 ORDER BY id").arg(n), true);
        ASSERT_EQ(r.rows.size(), n) << n;
        if (n > 0) {
            EXPECT_EQ(r.rows.last()[0], QVariant(n)) << n;
        }
    }
}

TEST_F(BlockFetch, TextsFillingTheirDeclaredSizeComeWholeInAWideResult) {
    Query q(&con, QStringLiteral("ADOQ_Exec"));
    q.setSql(QStringLiteral("SELECT id, a, b, c, d, e, f, g, h, short FROM wide_rows ORDER BY id"));
    q.open();
    ASSERT_EQ(q.recordCount(), 25);
    for (int i = 1; i <= 25; ++i, q.next()) {
        ASSERT_EQ(q.fieldAsInt(QStringLiteral("id")), i);
        for (const char* c : {"a", "b", "c", "d", "e", "f", "g"})
            EXPECT_EQ(q.fieldAsString(QLatin1String(c)), full) << i << c;
        EXPECT_EQ(q.fieldValue(QStringLiteral("h")).isNull(), i % 5 == 0) << i;
        if (i % 5 != 0) {
            EXPECT_EQ(q.fieldAsString(QStringLiteral("h")), full) << i;
        }
        EXPECT_EQ(q.fieldAsString(QStringLiteral("short")), QStringLiteral("ЖЖЖ")) << i;
    }
}

TEST_F(BlockFetch, ResultsAfterABlockReadResultAreStillReadAndCounted) {
    // The first result is bound and read in blocks; the second is fetched with nothing bound (it
    // would write into freed buffers otherwise), the UPDATE's count still arrives.
    const ResultData r =
        con.run(QStringLiteral("SELECT id, name FROM many_rows ORDER BY id\r\n"
                               "SELECT id, name, code FROM many_rows ORDER BY id DESC\r\n"
                               "UPDATE DisciplineForStudent SET kredits = 42 WHERE id_disciplineForStudent = 1\r\n"),
                true);
    EXPECT_EQ(r.columns, QStringList({"id", "name"}));
    ASSERT_EQ(r.rows.size(), 1000);
    EXPECT_EQ(r.rows[999][1], QVariant(nameOf(1000)));
    EXPECT_EQ(r.rowsAffected, 1);
    // And the statement after it on the same connection reads in blocks again.
    const ResultData again = con.run(QStringLiteral("SELECT code FROM many_rows WHERE id > 990 ORDER BY id"), true);
    ASSERT_EQ(again.rows.size(), 10);
    EXPECT_EQ(again.rows[0][0], QVariant(991 * 3));
}
