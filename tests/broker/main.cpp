// qtl-devserver-broker: starts and reads qtl-devservers for test programs that cannot do it
// themselves (the Windows build's tests under Wine can start a Linux program but neither wait
// for it nor stop it, nor open its SQLite file). Each connection gets one server, which ends
// with the connection.
//
//   qtl-devserver-broker [--port N]      prints "listening on 127.0.0.1:<port>"; ends on SIGTERM
#include "Broker.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// One client: its requests a line each, its server.
class Client : public QObject {
public:
    Client(QTcpSocket* socket, QObject* parent) : QObject(parent), m_socket(socket) {
        connect(socket, &QTcpSocket::readyRead, this, &Client::readRequests);
        connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        socket->setParent(this);
    }

private:
    QTcpSocket* m_socket;
    QByteArray m_pending;
    std::unique_ptr<qtltest::DevServer> m_server;

    void readRequests() {
        m_pending += m_socket->readAll();
        int newline;
        while ((newline = int(m_pending.indexOf('\n'))) >= 0) {
            const QByteArray line = m_pending.left(newline);
            m_pending.remove(0, newline + 1);
            QJsonParseError error{};
            const QJsonDocument request = QJsonDocument::fromJson(line, &error);
            const QJsonObject reply = request.isObject()
                                          ? qtltest::answerBrokerRequest(m_server, request.object())
                                          : QJsonObject{{QStringLiteral("ok"), false},
                                                        {QStringLiteral("error"),
                                                         QStringLiteral("not a JSON object: ") + error.errorString()}};
            m_socket->write(QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n');
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    quint16 port = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            port = quint16(std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: qtl-devserver-broker [--port N]\n");
            return 2;
        }
    }
    if (::pipe(g_signalPipe) != 0) return 1;
    QSocketNotifier terminate(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&terminate, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGTERM, onTerminate);
    std::signal(SIGINT, onTerminate);

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, port)) {
        std::fprintf(stderr, "qtl-devserver-broker: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    QObject::connect(&server, &QTcpServer::newConnection, [&server] {
        while (QTcpSocket* socket = server.nextPendingConnection()) new Client(socket, &server);
    });
    std::printf("listening on 127.0.0.1:%u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    return QCoreApplication::exec();  // the clients, and with them their servers, end with `server`
}
