// qtl-devserver-broker's protocol: what a test under Wine sends and reads back must arrive as it
// left, and a request out of order is refused with a reason instead of crashing the broker.
#include "Broker.h"

#include <gtest/gtest.h>

#include <limits>

using namespace qtltest;

TEST(BrokerProtocol, RowsKeepTheirTypesAndValuesExactly) {
    const QVector<QVector<QVariant>> rows = {
        {QVariant(qlonglong(std::numeric_limits<qint64>::max())), QVariant(qlonglong(-1)), QVariant(0.1)},
        {QVariant(QStringLiteral("Иванов ''И'' \\ \r\n")), QVariant(QByteArray("\0\xff\x01", 3)), QVariant()},
        {},
    };
    const auto back = rowsFromJson(rowsToJson(rows));
    ASSERT_EQ(back.size(), rows.size());
    for (int r = 0; r < rows.size(); ++r) {
        ASSERT_EQ(back[r].size(), rows[r].size()) << "row " << r;
        for (int c = 0; c < rows[r].size(); ++c) {
            SCOPED_TRACE(testing::Message() << "row " << r << " column " << c);
            EXPECT_EQ(back[r][c].typeId(), rows[r][c].typeId());
            EXPECT_EQ(back[r][c], rows[r][c]);
        }
    }
}

TEST(BrokerProtocol, OptionsArriveWhole) {
    DevServer::Options o;
    o.demo = QStringLiteral("none");
    o.failOn = QStringLiteral("INSERT.*'x'");
    o.dropOn = QStringLiteral("DELETE");
    o.dbPath = QStringLiteral("/tmp/a b/qtl.db");
    o.failNth = 3;
    o.dropNth = 4;
    o.faultMark = DevServer::faultMarkText();
    o.stallOn = QStringLiteral("EXEC");
    o.stallLogin = true;
    o.extraArguments = {QStringLiteral("--encryption"), QStringLiteral("off")};
    const DevServer::Options back = optionsFromJson(optionsToJson(o));
    EXPECT_EQ(back.demo, o.demo);
    EXPECT_EQ(back.failOn, o.failOn);
    EXPECT_EQ(back.dropOn, o.dropOn);
    EXPECT_EQ(back.dbPath, o.dbPath);
    EXPECT_EQ(back.failNth, o.failNth);
    EXPECT_EQ(back.dropNth, o.dropNth);
    EXPECT_EQ(back.faultMark, o.faultMark);
    EXPECT_EQ(back.stallOn, o.stallOn);
    EXPECT_EQ(back.stallLogin, o.stallLogin);
    EXPECT_EQ(back.extraArguments, o.extraArguments);
}

TEST(BrokerProtocol, RequestsOutOfOrderAreRefusedWithTheReason) {
    std::unique_ptr<DevServer> none;
    const struct {
        const char* op;
        const char* reason;
    } cases[] = {
        {"start", "\"open\" comes first"},
        {"log", "\"open\" comes first"},
        {"sqlite", "\"open\" comes first"},
        {"", "\"open\" comes first"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.op);
        const QJsonObject reply =
            answerBrokerRequest(none, QJsonObject{{QStringLiteral("op"), QString::fromLatin1(c.op)}});
        EXPECT_FALSE(reply.value(QStringLiteral("ok")).toBool());
        EXPECT_TRUE(reply.value(QStringLiteral("error")).toString().contains(QString::fromLatin1(c.reason)));
    }
    // An unknown request to a server that exists: refused, and the server is not touched.
    std::unique_ptr<DevServer> server;
    ASSERT_TRUE(answerBrokerRequest(server, QJsonObject{{QStringLiteral("op"), QStringLiteral("open")}})
                    .value(QStringLiteral("ok"))
                    .toBool());
    ASSERT_NE(server, nullptr);
    const QJsonObject reply =
        answerBrokerRequest(server, QJsonObject{{QStringLiteral("op"), QStringLiteral("format")}});
    EXPECT_FALSE(reply.value(QStringLiteral("ok")).toBool());
    EXPECT_EQ(reply.value(QStringLiteral("error")).toString(), QStringLiteral("unknown request \"format\""));
    EXPECT_EQ(server->port(), 0);
}
