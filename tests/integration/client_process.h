// Runs a command-line database client (tsql, isql) with its input and collects what it printed.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace clienttest {

struct Output {
    int exitCode = -1;
    QString out, err;
    QString all() const { return out + err; }
};

inline Output runClient(const QString& program, const QStringList& args, const QByteArray& input) {
    Output o;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The clients convert to the locale's charset: make it one that holds Cyrillic.
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        o.err = p.errorString();
        return o;
    }
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(5000);
        o.err = QStringLiteral("timed out");
        return o;
    }
    o.exitCode = p.exitCode();
    o.out = QString::fromUtf8(p.readAllStandardOutput());
    o.err = QString::fromUtf8(p.readAllStandardError());
    return o;
}

}  // namespace clienttest
