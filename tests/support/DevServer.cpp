#include "DevServer.h"

#include "Broker.h"
#include "dm_u.h"

#include "qtl/demo_ids.h"
#ifndef _WIN32
#include "qtl/qtl.h"
#endif

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>

#ifndef _WIN32
#include <sqlite3.h>
#endif

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

namespace qtltest {

namespace {

#ifndef _WIN32
QString serverBinary() {
    const QString fromEnv = qEnvironmentVariable("QTL_DEVSERVER");
    if (!fromEnv.isEmpty() && QFileInfo(fromEnv).isExecutable()) return fromEnv;
#ifdef QTL_DEVSERVER_PATH
    return QStringLiteral(QTL_DEVSERVER_PATH);
#else
    return fromEnv;
#endif
}
#endif

// The FreeTDS ODBC driver lives in the odbc/ folder of the multiarch library directory; the
// name "FreeTDS" is registered only when the package was told to, so the path is preferred.
QString tdsDriver() {
#ifdef _WIN32
    // Under Wine, ODBC is the host's: the driver is known by the name registered there.
    return QStringLiteral("FreeTDS");
#else
    static const QString found = [] {
        const QString fromEnv = qEnvironmentVariable("QTL_TDSODBC");
        if (!fromEnv.isEmpty() && QFileInfo::exists(fromEnv)) return fromEnv;
        QStringList candidates = {
            QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"),
            QStringLiteral("/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so"),
        };
        const QDir lib(QStringLiteral("/usr/lib"));
        for (const QString& sub : lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            candidates << lib.filePath(sub + QStringLiteral("/odbc/libtdsodbc.so"));
        candidates << QStringLiteral("/usr/lib/odbc/libtdsodbc.so") << QStringLiteral("/usr/local/lib/libtdsodbc.so")
                   << QStringLiteral("/usr/lib64/libtdsodbc.so");
        for (const QString& c : candidates)
            if (QFileInfo::exists(c)) return c;
        return QStringLiteral("FreeTDS");
    }();
    return found;
#endif
}

// ODBC connection string value in braces; a closing brace inside is doubled.
QString braced(const QString& value) {
    QString v = value;
    v.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return QLatin1Char('{') + v + QLatin1Char('}');
}

#ifndef _WIN32
QString readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}
#endif

#ifndef _WIN32
struct SqliteHandle {
    sqlite3* db = nullptr;
    explicit SqliteHandle(const QString& path) {
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            const std::string err = db ? sqlite3_errmsg(db) : "out of memory";
            sqlite3_close(db);
            throw std::runtime_error("cannot open " + path.toStdString() + ": " + err);
        }
        sqlite3_busy_timeout(db, 10000);
        devserver::qtl::registerFunctions(db);
    }
    ~SqliteHandle() { sqlite3_close(db); }
    SqliteHandle(const SqliteHandle&) = delete;
    SqliteHandle& operator=(const SqliteHandle&) = delete;
};
#endif

QString doubledQuotes(QString text) {
    return text.replace(QLatin1Char('\''), QStringLiteral("''"));
}

}  // namespace

DevServer::DevServer() : DevServer(Options{}) {}

DevServer::DevServer(const Options& options) : m_options(options) {
    if (!m_dir.isValid()) throw std::runtime_error("cannot create a temporary directory");
    m_broker = BrokerLink::fromEnvironment();
    if (m_broker) {
        const QJsonObject reply =
            m_broker->call(QStringLiteral("open"), {{QStringLiteral("options"), optionsToJson(options)}});
        m_dbPath = reply.value(QStringLiteral("dbPath")).toString();
        m_logPath = reply.value(QStringLiteral("logPath")).toString();
        return;
    }
#ifdef _WIN32
    throw std::runtime_error(
        "QTL_DEVSERVER_BROKER is not set: on Windows the tests reach qtl-devserver through "
        "qtl-devserver-broker on the Linux side");
#endif
    m_dbPath = options.dbPath.isEmpty() ? m_dir.filePath(QStringLiteral("qtl.db")) : options.dbPath;
    m_logPath = m_dir.filePath(QStringLiteral("requests.log"));
}

DevServer::~DevServer() {
    dumpStatements();
    try {
        stop();
    } catch (const std::exception& e) {
        qWarning("stopping qtl-devserver: %s", e.what());
    }
}

void DevServer::start() {
    if (m_broker) {
        m_port = m_broker->call(QStringLiteral("start")).value(QStringLiteral("port")).toInt();
        fetchSettingsFile();
        return;
    }
    if (m_proc && m_proc->state() != QProcess::NotRunning) return;
    launch(0);
}

// The broker's server wrote its settings file on the Linux side; the workstation under test
// reads it from its own folder.
void DevServer::fetchSettingsFile() {
    const QJsonObject reply = m_broker->call(QStringLiteral("settingsFile"));
    QDir(m_dir.path()).mkpath(QStringLiteral("Data"));
    QFile f(m_dir.filePath(QStringLiteral("Data/QTL")));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(QByteArray::fromBase64(reply.value(QStringLiteral("bytes")).toString().toLatin1())) < 0)
        throw std::runtime_error("cannot write " + f.fileName().toStdString());
#ifdef _WIN32
    QFile driver(m_dir.filePath(QStringLiteral("Data/driver")));
    if (!driver.open(QIODevice::WriteOnly | QIODevice::Truncate) || driver.write(tdsDriver().toLatin1() + "\n") < 0)
        throw std::runtime_error("cannot write " + driver.fileName().toStdString());
#endif
}

void DevServer::stop() {
    if (m_broker) {
        m_broker->call(QStringLiteral("stop"));
        return;
    }
    if (!m_proc) return;
    if (m_proc->state() != QProcess::NotRunning) {
        m_proc->terminate();
        if (!m_proc->waitForFinished(10000)) {
            m_proc->kill();
            m_proc->waitForFinished(5000);
        }
    }
    m_proc.reset();
}

void DevServer::restart() {
    if (m_broker) {
        m_broker->call(QStringLiteral("restart"));
        fetchSettingsFile();
        return;
    }
    stop();
    launch(m_port);
}

void DevServer::restartWith(const Options& options) {
    if (m_broker) {
        m_options = options;
        m_broker->call(QStringLiteral("restartWith"), {{QStringLiteral("options"), optionsToJson(options)}});
        fetchSettingsFile();
        return;
    }
    stop();
    const QString db = m_dbPath;
    m_options = options;
    m_options.dbPath = db;
    launch(m_port);
}

void DevServer::launch(int port) {
#ifdef _WIN32
    Q_UNUSED(port);
    throw std::runtime_error("qtl-devserver cannot run here: set QTL_DEVSERVER_BROKER");
#else
    const QString program = serverBinary();
    if (program.isEmpty() || !QFileInfo(program).isExecutable())
        throw std::runtime_error("qtl-devserver not found: " + program.toStdString());

    QDir(m_dir.path()).mkpath(QStringLiteral("Data"));
    const QString outPath = m_dir.filePath(QStringLiteral("server.out"));
    const QString errPath = m_dir.filePath(QStringLiteral("server.err"));

    // The same port may still be held for a moment after a stop; try again briefly.
    for (int attempt = 0;; ++attempt) {
        const qint64 outStart = QFileInfo(outPath).exists() ? QFileInfo(outPath).size() : 0;
        QStringList args = {QStringLiteral("--port"),
                            QString::number(port),
                            QStringLiteral("--db"),
                            m_dbPath,
                            QStringLiteral("--demo"),
                            m_options.demo,
                            QStringLiteral("--log"),
                            m_logPath,
                            QStringLiteral("--write-settings"),
                            m_dir.filePath(QStringLiteral("Data/QTL"))};
        if (!m_options.failOn.isEmpty()) args << QStringLiteral("--fail-on") << m_options.failOn;
        if (!m_options.dropOn.isEmpty()) args << QStringLiteral("--drop-on") << m_options.dropOn;
        if (m_options.failNth > 0) args << QStringLiteral("--fail-nth") << QString::number(m_options.failNth);
        if (m_options.dropNth > 0) args << QStringLiteral("--drop-nth") << QString::number(m_options.dropNth);
        if (!m_options.faultMark.isEmpty()) args << QStringLiteral("--fault-mark") << m_options.faultMark;
        if (!m_options.stallOn.isEmpty()) args << QStringLiteral("--stall-on") << m_options.stallOn;
        if (m_options.stallLogin) args << QStringLiteral("--stall-login");
        args << m_options.extraArguments;

        m_proc = std::make_unique<QProcess>();
        // Output goes to files: a pipe nobody drains (no event loop in a test) could fill up
        // and stall the server.
        m_proc->setStandardOutputFile(outPath, QIODevice::Append);
        m_proc->setStandardErrorFile(errPath, QIODevice::Append);
        m_proc->setProgram(program);
        m_proc->setArguments(args);
        m_proc->start();
        if (!m_proc->waitForStarted(10000))
            throw std::runtime_error("cannot start qtl-devserver: " + m_proc->errorString().toStdString());

        static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        QDeadlineTimer deadline(m_options.demo == QLatin1String("large") ? 300000 : 60000);
        int found = 0;
        while (!deadline.hasExpired()) {
            QFile out(outPath);
            if (out.open(QIODevice::ReadOnly) && out.seek(outStart)) {
                const auto m = listening.match(QString::fromUtf8(out.readAll()));
                if (m.hasMatch()) {
                    found = m.captured(1).toInt();
                    break;
                }
            }
            if (m_proc->state() == QProcess::NotRunning) break;
            m_proc->waitForFinished(20);
        }
        if (found > 0) {
            m_port = found;
            return;
        }
        const bool exited = m_proc->state() == QProcess::NotRunning;
        if (!exited) {
            m_proc->kill();
            m_proc->waitForFinished(5000);
        }
        m_proc.reset();
        if (exited && port != 0 && attempt < 50) {
            QThread::msleep(100);
            continue;
        }
        throw std::runtime_error("qtl-devserver did not start listening: " +
                                 readAll(errPath).right(2000).toStdString());
    }
#endif
}

QString DevServer::odbcString(const QString& user, const QString& password) const {
    return QStringLiteral(
               "Driver=%1;Server=%2;Port=%3;Database=QTL;UID=%4;PWD=%5;"
               "TDS_Version=7.4;ClientCharset=UTF-8")
        .arg(braced(tdsDriver()), host(), QString::number(m_port), braced(user), braced(password));
}

QPair<QString, QString> DevServer::settingsAccount() const {
    if (m_broker) {
        const QJsonObject reply = m_broker->call(QStringLiteral("settingsAccount"));
        return {reply.value(QStringLiteral("user")).toString(), reply.value(QStringLiteral("password")).toString()};
    }
#ifdef _WIN32
    return {};
#else
    SqliteHandle h(m_dbPath);
    const auto account = devserver::qtl::settingsAccount(h.db);
    return {QString::fromStdString(account.first), QString::fromStdString(account.second)};
#endif
}

QString DevServer::odbcString() const {
    const auto account = settingsAccount();
    return odbcString(account.first, account.second);
}

QString DevServer::operatorOdbcString() const {
    return odbcString(QString::fromLatin1(devserver::qtl::demo::kOperatorDbUser),
                      QString::fromLatin1(devserver::qtl::demo::kOperatorDbPassword));
}

void DevServer::writeSettingsFile(const QString& path) const {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString written = m_dir.filePath(QStringLiteral("Data/QTL"));
    if (QFileInfo::exists(written)) {
        QFile::remove(path);
        if (!QFile::copy(written, path)) throw std::runtime_error("cannot write " + path.toStdString());
        return;
    }
#ifdef _WIN32
    throw std::runtime_error("no settings file: the server was not started");
#else
    SqliteHandle h(m_dbPath);
    const auto account = devserver::qtl::settingsAccount(h.db);
    devserver::qtl::writeSettingsFile(path.toStdString(), account.first, account.second,
                                      "127.0.0.1," + std::to_string(m_port), "QTL");
#endif
}

QByteArray DevServer::logBytes() const {
    if (m_broker)
        return QByteArray::fromBase64(
            m_broker->call(QStringLiteral("log")).value(QStringLiteral("bytes")).toString().toLatin1());
    // The server appends a line per request; wait until the file stops growing and every line
    // is complete.
    QByteArray data;
    for (int i = 0; i < 50; ++i) {
        QFile f(m_logPath);
        QByteArray now;
        if (f.open(QIODevice::ReadOnly)) now = f.readAll();
        const bool complete = now.isEmpty() || now.endsWith('\n');
        if (complete && i > 0 && now == data) break;
        data = now;
        QThread::msleep(20);
    }
    return data;
}

QVector<LogEntry> DevServer::log() const {
    const QByteArray data = logBytes();
    QVector<LogEntry> entries;
    for (const QByteArray& line : data.split('\n')) {
        if (line.trimmed().isEmpty()) continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.isEmpty()) continue;
        LogEntry e;
        e.session = o.value(QStringLiteral("session")).toInt();
        e.kind = o.value(QStringLiteral("kind")).toString();
        e.user = o.value(QStringLiteral("user")).toString();
        e.text = o.value(QStringLiteral("text")).toString();
        const QJsonValue tranCount = o.value(QStringLiteral("trancount"));
        if (tranCount.isDouble()) e.tranCount = tranCount.toInt();
        const QJsonValue xactAbort = o.value(QStringLiteral("xact_abort"));
        if (xactAbort.isBool()) e.xactAbort = xactAbort.toBool() ? 1 : 0;
        entries.push_back(e);
    }
    return entries;
}

QStringList DevServer::batches() const {
    return batchesSince(0);
}

QStringList DevServer::batchesSince(int mark) const {
    const QVector<LogEntry> entries = log();
    QStringList out;
    for (int i = qMax(0, mark); i < entries.size(); ++i)
        if (entries[i].kind == QLatin1String("batch")) out << entries[i].text;
    return out;
}

bool DevServer::anyRpc() const {
    for (const LogEntry& e : log())
        if (e.kind == QLatin1String("rpc")) return true;
    return false;
}

QString DevServer::neutralStatements(const QVector<LogEntry>& entries) {
    const qtl::IpWatch watch;
    const QString computer = doubledQuotes(watch.hostName()), address = watch.localIP();
    QString out;
    for (const LogEntry& e : entries) {
        if (e.kind != QLatin1String("batch") && e.kind != QLatin1String("rpc")) continue;
        QString text = e.text;
        text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
            .replace(QLatin1Char('\r'), QStringLiteral("\\r"))
            .replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        // The audit's "computer\\address" (its backslash escaped above) and GET_USER's arguments.
        if (!computer.isEmpty() && !address.isEmpty())
            text.replace(computer + QStringLiteral("\\\\") + address, QStringLiteral("<computer>\\\\<address>"));
        if (!computer.isEmpty()) text.replace("'" + computer + "'", QStringLiteral("'<computer>'"));
        if (!address.isEmpty()) text.replace("'" + address + "'", QStringLiteral("'<address>'"));
        out += e.kind + QStringLiteral(": ") + text + QLatin1Char('\n');
    }
    return out;
}

void DevServer::dumpStatements() const {
    const QString folder = qEnvironmentVariable("QTL_STATEMENT_DUMP");
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (folder.isEmpty() || !test || m_port == 0) return;
    QString name = QString::fromLatin1(test->test_suite_name()) + QLatin1Char('.') + QString::fromLatin1(test->name());
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    static std::map<QString, int> servers;  // a test with a second server gets a second file
    if (const int n = ++servers[name]; n > 1) name += QLatin1Char('.') + QString::number(n);
    QString text;
    try {
        text = neutralStatements(log());
    } catch (const std::exception& e) {
        text = QStringLiteral("no log: ") + QString::fromStdString(e.what()) + QLatin1Char('\n');
    }
    QDir().mkpath(folder);
    QFile f(QDir(folder).filePath(name + QStringLiteral(".log")));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text.toUtf8()) < 0)
        qWarning("cannot write %s", qPrintable(f.fileName()));
}

QVector<QVector<QVariant>> DevServer::sqlite(const QString& sql) const {
    if (m_broker)
        return rowsFromJson(m_broker->call(QStringLiteral("sqlite"), {{QStringLiteral("sql"), sql}})
                                .value(QStringLiteral("rows"))
                                .toArray());
#ifdef _WIN32
    return {};
#else
    SqliteHandle h(m_dbPath);
    sqlite3_stmt* stmt = nullptr;
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(h.db, text.constData(), int(text.size()), &stmt, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(h.db));
    QVector<QVector<QVariant>> rows;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        QVector<QVariant> row;
        const int n = sqlite3_column_count(stmt);
        for (int c = 0; c < n; ++c) {
            switch (sqlite3_column_type(stmt, c)) {
            case SQLITE_INTEGER: row << QVariant(qlonglong(sqlite3_column_int64(stmt, c))); break;
            case SQLITE_FLOAT: row << QVariant(sqlite3_column_double(stmt, c)); break;
            case SQLITE_TEXT:
                row << QVariant(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)),
                                                  sqlite3_column_bytes(stmt, c)));
                break;
            case SQLITE_BLOB:
                row << QVariant(
                    QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, c)), sqlite3_column_bytes(stmt, c)));
                break;
            default: row << QVariant(); break;
            }
        }
        rows << row;
    }
    const std::string err = sqlite3_errmsg(h.db);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) throw std::runtime_error("sqlite: " + err);
    return rows;
#endif
}

QVariant DevServer::sqliteScalar(const QString& sql) const {
    const auto rows = sqlite(sql);
    if (rows.isEmpty() || rows.first().isEmpty()) return {};
    return rows.first().first();
}

void DevServer::sqliteExec(const QString& sql) const {
    if (m_broker) {
        m_broker->call(QStringLiteral("sqliteExec"), {{QStringLiteral("sql"), sql}});
        return;
    }
#ifndef _WIN32
    SqliteHandle h(m_dbPath);
    char* err = nullptr;
    if (sqlite3_exec(h.db, sql.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK) {
        const std::string msg = err ? err : "error";
        sqlite3_free(err);
        throw std::runtime_error("sqlite: " + msg);
    }
#endif
}

// ---------------------------------------------------------------------------------------------

MessageRecorder::MessageRecorder() {
    qtl::MessageBoxes::install(this);
}

MessageRecorder::~MessageRecorder() {
    qtl::MessageBoxes::install(nullptr);
}

qtl::MbResult MessageRecorder::show(QWidget*, const QString& text, const QString& caption, qtl::MbIcon icon,
                                    qtl::MbButtons buttons) {
    m_shown.push_back({text, caption, icon, buttons});
    if (!m_script.empty()) {
        const qtl::MbResult r = m_script.front();
        m_script.pop_front();
        return r;
    }
    return buttons == qtl::MbButtons::YesNo ? qtl::MbResult::Yes : qtl::MbResult::Ok;
}

QStringList MessageRecorder::texts() const {
    QStringList out;
    for (const Shown& s : m_shown) out << s.text;
    return out;
}

}  // namespace qtltest
