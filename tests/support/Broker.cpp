#include "Broker.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonValue>

#include <stdexcept>

namespace qtltest {

namespace {

// Starting a server with the large demo database takes minutes on a loaded machine.
constexpr int kReplyTimeoutMs = 600000;

QJsonArray stringList(const QStringList& list) {
    QJsonArray out;
    for (const QString& s : list) out.append(s);
    return out;
}

}  // namespace

QJsonObject optionsToJson(const DevServer::Options& o) {
    return QJsonObject{{QStringLiteral("demo"), o.demo},
                       {QStringLiteral("failOn"), o.failOn},
                       {QStringLiteral("dropOn"), o.dropOn},
                       {QStringLiteral("dbPath"), o.dbPath},
                       {QStringLiteral("failNth"), o.failNth},
                       {QStringLiteral("dropNth"), o.dropNth},
                       {QStringLiteral("faultMark"), o.faultMark},
                       {QStringLiteral("stallOn"), o.stallOn},
                       {QStringLiteral("stallLogin"), o.stallLogin},
                       {QStringLiteral("extraArguments"), stringList(o.extraArguments)}};
}

DevServer::Options optionsFromJson(const QJsonObject& j) {
    DevServer::Options o;
    o.demo = j.value(QStringLiteral("demo")).toString(o.demo);
    o.failOn = j.value(QStringLiteral("failOn")).toString();
    o.dropOn = j.value(QStringLiteral("dropOn")).toString();
    o.dbPath = j.value(QStringLiteral("dbPath")).toString();
    o.failNth = j.value(QStringLiteral("failNth")).toInt();
    o.dropNth = j.value(QStringLiteral("dropNth")).toInt();
    o.faultMark = j.value(QStringLiteral("faultMark")).toString();
    o.stallOn = j.value(QStringLiteral("stallOn")).toString();
    o.stallLogin = j.value(QStringLiteral("stallLogin")).toBool();
    for (const QJsonValue& v : j.value(QStringLiteral("extraArguments")).toArray()) o.extraArguments << v.toString();
    return o;
}

QJsonArray rowsToJson(const QVector<QVector<QVariant>>& rows) {
    QJsonArray out;
    for (const QVector<QVariant>& row : rows) {
        QJsonArray values;
        for (const QVariant& v : row) {
            switch (v.typeId()) {
            case QMetaType::LongLong:
                values.append(QJsonObject{{QStringLiteral("i"), QString::number(v.toLongLong())}});
                break;
            case QMetaType::Double: values.append(QJsonObject{{QStringLiteral("f"), v.toDouble()}}); break;
            case QMetaType::QString: values.append(QJsonObject{{QStringLiteral("s"), v.toString()}}); break;
            case QMetaType::QByteArray:
                values.append(QJsonObject{{QStringLiteral("b"), QString::fromLatin1(v.toByteArray().toBase64())}});
                break;
            default: values.append(QJsonValue::Null); break;
            }
        }
        out.append(values);
    }
    return out;
}

QVector<QVector<QVariant>> rowsFromJson(const QJsonArray& rows) {
    QVector<QVector<QVariant>> out;
    for (const QJsonValue& row : rows) {
        QVector<QVariant> values;
        for (const QJsonValue& cell : row.toArray()) {
            const QJsonObject v = cell.toObject();
            if (v.contains(QStringLiteral("i")))
                values << QVariant(v.value(QStringLiteral("i")).toString().toLongLong());
            else if (v.contains(QStringLiteral("f")))
                values << QVariant(v.value(QStringLiteral("f")).toDouble());
            else if (v.contains(QStringLiteral("s")))
                values << QVariant(v.value(QStringLiteral("s")).toString());
            else if (v.contains(QStringLiteral("b")))
                values << QVariant(QByteArray::fromBase64(v.value(QStringLiteral("b")).toString().toLatin1()));
            else
                values << QVariant();
        }
        out << values;
    }
    return out;
}

std::unique_ptr<BrokerLink> BrokerLink::fromEnvironment() {
    const QString address = qEnvironmentVariable("QTL_DEVSERVER_BROKER");
    if (address.isEmpty()) return nullptr;
    const int colon = int(address.lastIndexOf(QLatin1Char(':')));
    bool ok = false;
    const uint port = colon > 0 ? address.mid(colon + 1).toUInt(&ok) : 0;
    if (!ok || port == 0 || port > 65535)
        throw std::runtime_error("QTL_DEVSERVER_BROKER is not host:port: " + address.toStdString());
    return std::make_unique<BrokerLink>(address.left(colon), quint16(port));
}

BrokerLink::BrokerLink(const QString& host, quint16 port) {
    m_socket.connectToHost(host, port);
    if (!m_socket.waitForConnected(30000))
        throw std::runtime_error("cannot reach qtl-devserver-broker at " + host.toStdString() + ":" +
                                 std::to_string(port) + ": " + m_socket.errorString().toStdString());
}

QJsonObject BrokerLink::call(const QString& op, QJsonObject arguments) {
    arguments.insert(QStringLiteral("op"), op);
    m_socket.write(QJsonDocument(arguments).toJson(QJsonDocument::Compact) + '\n');
    int newline;
    while ((newline = int(m_pending.indexOf('\n'))) < 0) {
        if (m_socket.bytesToWrite() > 0) m_socket.waitForBytesWritten(kReplyTimeoutMs);
        if (!m_socket.waitForReadyRead(kReplyTimeoutMs))
            throw std::runtime_error("qtl-devserver-broker gave no answer to " + op.toStdString() + ": " +
                                     m_socket.errorString().toStdString());
        m_pending += m_socket.readAll();
    }
    const QByteArray line = m_pending.left(newline);
    m_pending.remove(0, newline + 1);
    const QJsonObject reply = QJsonDocument::fromJson(line).object();
    if (!reply.value(QStringLiteral("ok")).toBool())
        throw std::runtime_error("qtl-devserver-broker refused " + op.toStdString() + ": " +
                                 reply.value(QStringLiteral("error")).toString().toStdString());
    return reply;
}

#ifndef _WIN32
QJsonObject answerBrokerRequest(std::unique_ptr<DevServer>& server, const QJsonObject& request) {
    const QString op = request.value(QStringLiteral("op")).toString();
    QJsonObject reply{{QStringLiteral("ok"), true}};
    try {
        if (op == QLatin1String("open")) {
            server = std::make_unique<DevServer>(optionsFromJson(request.value(QStringLiteral("options")).toObject()));
        } else if (!server) {
            throw std::runtime_error("no server: \"open\" comes first");
        } else if (op == QLatin1String("start")) {
            server->start();
        } else if (op == QLatin1String("stop")) {
            server->stop();
        } else if (op == QLatin1String("restart")) {
            server->restart();
        } else if (op == QLatin1String("restartWith")) {
            server->restartWith(optionsFromJson(request.value(QStringLiteral("options")).toObject()));
        } else if (op == QLatin1String("settingsAccount")) {
            const auto account = server->settingsAccount();
            reply.insert(QStringLiteral("user"), account.first);
            reply.insert(QStringLiteral("password"), account.second);
        } else if (op == QLatin1String("settingsFile")) {
            QFile f(server->tempDir() + QStringLiteral("/Data/QTL"));
            if (!f.open(QIODevice::ReadOnly)) throw std::runtime_error("the server wrote no settings file");
            reply.insert(QStringLiteral("bytes"), QString::fromLatin1(f.readAll().toBase64()));
        } else if (op == QLatin1String("log")) {
            reply.insert(QStringLiteral("bytes"), QString::fromLatin1(server->logBytes().toBase64()));
        } else if (op == QLatin1String("sqlite")) {
            reply.insert(QStringLiteral("rows"),
                         rowsToJson(server->sqlite(request.value(QStringLiteral("sql")).toString())));
        } else if (op == QLatin1String("sqliteExec")) {
            server->sqliteExec(request.value(QStringLiteral("sql")).toString());
        } else {
            throw std::runtime_error("unknown request \"" + op.toStdString() + "\"");
        }
        reply.insert(QStringLiteral("port"), server->port());
        reply.insert(QStringLiteral("dbPath"), server->dbPath());
        reply.insert(QStringLiteral("logPath"), server->logPath());
    } catch (const std::exception& e) {
        return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), QString::fromStdString(e.what())}};
    }
    return reply;
}
#endif

}  // namespace qtltest
