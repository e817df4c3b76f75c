#include "DevServer.h"

#include "qtl/qtl.h"
#include "qtl/demo_ids.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>

#include <sqlite3.h>

#include <stdexcept>

namespace qtltest {

namespace {

QString serverBinary() {
    const QString fromEnv = qEnvironmentVariable("QTL_DEVSERVER");
    if (!fromEnv.isEmpty() && QFileInfo(fromEnv).isExecutable()) return fromEnv;
#ifdef QTL_DEVSERVER_PATH
    return QStringLiteral(QTL_DEVSERVER_PATH);
#else
    return fromEnv;
#endif
}

// The FreeTDS ODBC driver lives in the odbc/ folder of the multiarch library directory; the
// name "FreeTDS" is registered only when the package was told to, so the path is preferred.
QString tdsDriver() {
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
}

// ODBC connection string value in braces; a closing brace inside is doubled.
QString braced(const QString& value) {
    QString v = value;
    v.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return QLatin1Char('{') + v + QLatin1Char('}');
}

QString readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

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

}  // namespace

DevServer::DevServer() : DevServer(Options{}) {}

DevServer::DevServer(const Options& options) : m_options(options) {
    if (!m_dir.isValid()) throw std::runtime_error("cannot create a temporary directory");
    m_dbPath = options.dbPath.isEmpty() ? m_dir.filePath(QStringLiteral("qtl.db")) : options.dbPath;
    m_logPath = m_dir.filePath(QStringLiteral("requests.log"));
}

DevServer::~DevServer() {
    stop();
}

void DevServer::start() {
    if (m_proc && m_proc->state() != QProcess::NotRunning) return;
    launch(0);
}

void DevServer::stop() {
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
    stop();
    launch(m_port);
}

void DevServer::restartWith(const Options& options) {
    stop();
    const QString db = m_dbPath;
    m_options = options;
    m_options.dbPath = db;
    launch(m_port);
}

void DevServer::launch(int port) {
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
}

QString DevServer::odbcString(const QString& user, const QString& password) const {
    return QStringLiteral(
               "Driver=%1;Server=%2;Port=%3;Database=QTL;UID=%4;PWD=%5;"
               "TDS_Version=7.4;ClientCharset=UTF-8")
        .arg(braced(tdsDriver()), host(), QString::number(m_port), braced(user), braced(password));
}

QPair<QString, QString> DevServer::settingsAccount() const {
    SqliteHandle h(m_dbPath);
    const auto account = devserver::qtl::settingsAccount(h.db);
    return {QString::fromStdString(account.first), QString::fromStdString(account.second)};
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
    SqliteHandle h(m_dbPath);
    const auto account = devserver::qtl::settingsAccount(h.db);
    devserver::qtl::writeSettingsFile(path.toStdString(), account.first, account.second,
                                      "127.0.0.1," + std::to_string(m_port), "QTL");
}

QVector<LogEntry> DevServer::log() const {
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

QVector<QVector<QVariant>> DevServer::sqlite(const QString& sql) const {
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
}

QVariant DevServer::sqliteScalar(const QString& sql) const {
    const auto rows = sqlite(sql);
    if (rows.isEmpty() || rows.first().isEmpty()) return {};
    return rows.first().first();
}

void DevServer::sqliteExec(const QString& sql) const {
    SqliteHandle h(m_dbPath);
    char* err = nullptr;
    if (sqlite3_exec(h.db, sql.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK) {
        const std::string msg = err ? err : "error";
        sqlite3_free(err);
        throw std::runtime_error("sqlite: " + msg);
    }
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
