// A connection to a fresh qtl-devserver for the platform tests; no test may cause an RPC.
#pragma once

#include "DevServer.h"
#include "platform/Connection.h"
#include "platform/Query.h"

#include <gtest/gtest.h>

#include <memory>

class LiveServer : public ::testing::Test {
protected:
    explicit LiveServer(qtltest::DevServer::Options options = {}) : server(options) {}

    void SetUp() override {
        server.start();
        con.setOdbcConnectString(server.operatorOdbcString());
    }
    void TearDown() override { EXPECT_FALSE(server.anyRpc()) << "the workstation sent an RPC"; }

    // How many batches since `mark` were exactly `text`.
    int sentCount(int mark, const QString& text) const {
        int n = 0;
        for (const QString& b : server.batchesSince(mark))
            if (b == text) ++n;
        return n;
    }

    qtltest::DevServer server;
    qtl::Connection con;
};
