// Test fixture pieces: a qtl-devserver child process with a fresh database, its request log,
// and a message-box recorder with scripted answers.
//
// Where QTL_DEVSERVER_BROKER names a broker (host:port of qtl-devserver-broker), the server is
// started and read there instead: that is how the Windows build's tests, under Wine, reach a
// qtl-devserver and its database on the Linux side. Where QTL_STATEMENT_DUMP names a folder,
// each server writes the batches and calls it received to <folder>/<Suite.Test>.log at its
// end, the computer's name and address made neutral, for comparing two builds' statements.
#pragma once

#include "platform/MessageBoxes.h"

#include <QJsonObject>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <deque>
#include <memory>

namespace qtltest {

struct LogEntry {
    int session = 0;
    QString kind;  // login, batch, rpc, attention, other
    QString user;
    QString text;  // the batch exactly as received
    // Batches of a logged-in session: its state when the batch started (what the previous batch
    // left); -1 when the record has none.
    int tranCount = -1;
    int xactAbort = -1;  // 0 or 1
};

class BrokerLink;

class DevServer {
public:
    struct Options {
        QString demo = QStringLiteral("small");
        QString failOn;  // --fail-on REGEX when not empty
        QString dropOn;  // --drop-on REGEX when not empty
        QString dbPath;  // reuse this database file (default: a fresh one in the temp dir)
        int failNth = 0;  // --fail-nth N when > 0: the N-th counted statement fails (error 50000)
        int dropNth = 0;  // --drop-nth N when > 0: the N-th counted statement drops the connection
        QString faultMark;  // --fault-mark TEXT: counting (re)starts after a batch of exactly TEXT
        QString stallOn;  // --stall-on REGEX: a matching statement waits for ATTENTION
        bool stallLogin = false;  // --stall-login: connections are accepted, never answered
        QStringList extraArguments;  // passed as they are (e.g. --encryption off)
    };
    // A harmless batch to use as the fault mark: Options::faultMark = faultMarkText(), then run
    // this batch on a connection to start counting its statements from the next batch on.
    static QString faultMarkText() { return QStringLiteral("SELECT 'fault-mark'"); }
    DevServer();
    explicit DevServer(const Options& options);
    ~DevServer();

    // Starts the server on a free port and waits for "listening on"; throws std::runtime_error.
    void start();
    void stop();  // SIGTERM and wait
    void restart();  // same port, same database file, same options
    void restartWith(const Options& options);  // same port and database, other options

    int port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1"); }
    QString dbPath() const { return m_dbPath; }
    QString logPath() const { return m_logPath; }
    QString tempDir() const { return m_dir.path(); }

    // The ODBC string for the FreeTDS driver to this server with the given account.
    QString odbcString(const QString& user, const QString& password) const;
    // The database account the settings file names (user, password).
    QPair<QString, QString> settingsAccount() const;
    // The ODBC string with the settings-file account: it may only sign in and call GET_USER.
    QString odbcString() const;
    // The ODBC string with the operator account GET_USER hands to "operator" (qtl_op): the one to
    // run the workstation's statements with.
    QString operatorOdbcString() const;
    // The settings-file account and writing the 84-byte settings file (Data/QTL) under `folder`.
    void writeSettingsFile(const QString& path) const;

    // Requests logged so far (waits briefly until the log is flushed).
    QVector<LogEntry> log() const;
    // The log file as it is once complete (waits briefly until the server has flushed it).
    QByteArray logBytes() const;
    QStringList batches() const;  // texts of kind "batch", in order
    // Batches after a mark: int m = server.logMark(); ...; server.batchesSince(m)
    int logMark() const { return int(log().size()); }
    QStringList batchesSince(int mark) const;
    bool anyRpc() const;

    // Runs a query directly on the server's SQLite file (database state checks).
    QVector<QVector<QVariant>> sqlite(const QString& sql) const;
    QVariant sqliteScalar(const QString& sql) const;
    void sqliteExec(const QString& sql) const;

    // The batches and calls of log(), one a line, CR and LF escaped, with this computer's name
    // and address replaced by <computer> and <address>.
    static QString neutralStatements(const QVector<LogEntry>& entries);

private:
    Options m_options;
    QTemporaryDir m_dir;
    QString m_dbPath, m_logPath, m_serverDir;
    int m_port = 0;
    std::unique_ptr<QProcess> m_proc;
    std::unique_ptr<BrokerLink> m_broker;
    void launch(int port);
    void fetchSettingsFile();
    void dumpStatements() const;
};

// Records every message box and answers from a script (default: OK / Yes).
class MessageRecorder : public qtl::MessageBoxes {
public:
    struct Shown {
        QString text;
        QString caption;
        qtl::MbIcon icon;
        qtl::MbButtons buttons;
    };
    MessageRecorder();  // installs itself
    ~MessageRecorder() override;  // restores the real boxes
    qtl::MbResult show(QWidget* parent, const QString& text, const QString& caption, qtl::MbIcon icon,
                       qtl::MbButtons buttons) override;
    void answerNext(qtl::MbResult result) { m_script.push_back(result); }
    const QVector<Shown>& shown() const { return m_shown; }
    QStringList texts() const;
    void clear() { m_shown.clear(); }

private:
    std::deque<qtl::MbResult> m_script;
    QVector<Shown> m_shown;
};

}  // namespace qtltest
