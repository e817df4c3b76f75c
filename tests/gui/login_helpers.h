// The login window on a fresh qtl-devserver, driven with real key and mouse events.
#pragma once

#include "DevServer.h"
#include "SignIn.h"

#include "Unit10.h"
#include "dm_u.h"
#include "main_u.h"
#include "util/util.h"

#include "../../devserver/qtl/demo_ids.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <memory>

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace qtltest::login {

namespace demo = devserver::qtl::demo;

inline QString sent(const QString& statement) {
    return statement + QStringLiteral("\r\n");
}

// Uppercase MD5 of the Windows-1251 bytes, computed here from ASCII test passwords.
inline QString md5(const QString& text) {
    return QString::fromLatin1(QCryptographicHash::hash(text.toLatin1(), QCryptographicHash::Md5).toHex().toUpper());
}

inline QString doubled(QString s) {
    return s.replace(QLatin1Char('\''), QStringLiteral("''"));
}

// The GET_USER text written out from its pieces, as the server's log keeps it: the log masks
// both password digests (a digest is as good as the password to whoever reads it), so the
// digests themselves are proven by the server accepting the sign-in, not by the log.
inline QString getUser(const QString& login, const QString& password, const QString& newPassword = QString()) {
    qtl::IpWatch watch;
    const QString masked = QStringLiteral("'********'");
    const QString np = newPassword.isEmpty() ? QStringLiteral("NULL") : "'" + md5(newPassword) + "'";
    Q_UNUSED(password);
    return "EXEC GET_USER '" + doubled(login) + "'," + masked + "," + (newPassword.isEmpty() ? np : masked) +
           ", 'QTL 33', '" + watch.localIP() + "', '" + doubled(watch.hostName()) + "', '" + doubled(login) +
           "','0','" + QString::number(np.size()) + "'";
}

inline QString expectedCaption() {
    return "QTL 33  V13 [ " + qtl::BuildDateText(qtl::GetBuildDate()) + " ] - Регистратор студентов";
}

// Records message boxes and, at the moment each is shown, what the message label held.
class SnapshotRecorder : public MessageRecorder {
public:
    QStringList labelAtBox;
    qtl::MbResult show(QWidget* parent, const QString& text, const QString& caption, qtl::MbIcon icon,
                       qtl::MbButtons buttons) override {
        labelAtBox << (qtl::Form8 ? qtl::Form8->RzLabel1->text() : QString());
        return MessageRecorder::show(parent, text, caption, icon, buttons);
    }
};

class LoginTest : public ::testing::Test {
protected:
    std::unique_ptr<DevServer> server;
    std::unique_ptr<SnapshotRecorder> boxes;
    std::unique_ptr<qtl::TForm8> form;
    int paused = -1;
    int terminated = 0;

    virtual DevServer::Options serverOptions() const { return {}; }

    void SetUp() override {
        server = std::make_unique<DevServer>(serverOptions());
        server->start();
        useServer(*server);
        boxes = std::make_unique<SnapshotRecorder>();
        qtl::g_signIn = qtl::SignIn{};
        // Every test signs in on a fresh data module, as the program does at start; one left by
        // an earlier test in the same process would hold that test's open connection and rows.
        delete qtl::DM_MB;
        qtl::DM_MB = new qtl::TDM_MB();
        qtl::TForm8::Pause = [this](int ms) { paused = ms; };
        qtl::TForm8::TerminateProgram = [this] { ++terminated; };
        form = std::make_unique<qtl::TForm8>();
        form->show();
    }

    void TearDown() override {
        form.reset();
        boxes.reset();
        delete qtl::DM_MB;
        qtl::DM_MB = nullptr;
    }

    void type(QLineEdit* edit, const QString& text) { typeInto(edit, text); }
    void press() { QTest::mouseClick(form->SpeedButton2, Qt::LeftButton); }
    void attempt(const QString& login, const QString& password) {
        form->Login_Edit->clear();
        form->Password_Edit->clear();
        type(form->Login_Edit, login);
        type(form->Password_Edit, password);
        press();
    }
    bool accepted() const { return form->result() == QDialog::Accepted; }
    QString label() const { return form->RzLabel1->text(); }

    // Log entries of kind "login" (database accounts that connected), from a mark.
    QStringList logins(int mark = 0) const {
        QStringList out;
        const auto entries = server->log();
        for (int i = mark; i < entries.size(); ++i)
            // Accepted logins and refused ones (the server logs a refusal under its own kind).
            if (entries[i].kind == QLatin1String("login") ||
                (entries[i].kind == QLatin1String("refused") &&
                 entries[i].text.startsWith(QLatin1String("Login failed"))))
                out << entries[i].user;
        return out;
    }

    void rewriteSettings(const std::function<void(QByteArray&)>& change) {
        const QString path = server->tempDir() + QStringLiteral("/Data/QTL");
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        f.close();
        change(bytes);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
};

}  // namespace qtltest::login
