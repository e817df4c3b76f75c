// qtl-devserver-broker's protocol: one JSON object a line each way over TCP. A connection owns
// one DevServer on the broker's side, made by "open" and ended with the connection; every other
// request is one of DevServer's own operations. Replies carry "ok", and "error" when not ok.
#pragma once

#include "DevServer.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QTcpSocket>

#include <memory>

namespace qtltest {

QJsonObject optionsToJson(const DevServer::Options& options);
DevServer::Options optionsFromJson(const QJsonObject& json);
// Rows of DevServer::sqlite, each value typed: {"i": "<int64>"}, {"f": <double>}, {"s": "<text>"},
// {"b": "<base64>"} or null.
QJsonArray rowsToJson(const QVector<QVector<QVariant>>& rows);
QVector<QVector<QVariant>> rowsFromJson(const QJsonArray& rows);

// The client's end: a connection to the broker, one request at a time. Throws
// std::runtime_error for a refused request or a lost broker.
class BrokerLink {
public:
    // The broker QTL_DEVSERVER_BROKER names ("host:port"), or nullptr when it names none.
    static std::unique_ptr<BrokerLink> fromEnvironment();
    BrokerLink(const QString& host, quint16 port);
    QJsonObject call(const QString& op, QJsonObject arguments = {});

private:
    QTcpSocket m_socket;
    QByteArray m_pending;
};

#ifndef _WIN32
// The broker's end: answers one request for the connection's server (made by "open").
QJsonObject answerBrokerRequest(std::unique_ptr<DevServer>& server, const QJsonObject& request);
#endif

}  // namespace qtltest
