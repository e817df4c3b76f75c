#include "SignIn.h"

#include "Unit10.h"
#include "dm_u.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>

#include <gtest/gtest.h>

namespace qtltest {

namespace {
QString g_report;
}

void typeInto(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        const QChar upper = c.toUpper();
        const int key =
            upper.unicode() < 0x80 && upper.isLetterOrNumber() ? int(upper.unicode()) : int(Qt::Key_unknown);
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

void useServer(DevServer& server) {
    qtl::TForm8::ProgramFolderOverride = server.tempDir();
}

bool signInThroughLoginWindow(const QString& login, const QString& password, QString* caption) {
    // Without a recorder a failure would open a real modal box and stall the test.
    std::unique_ptr<MessageRecorder> own;
    auto* recorder = dynamic_cast<MessageRecorder*>(&qtl::MessageBoxes::instance());
    if (!recorder) {
        own = std::make_unique<MessageRecorder>();
        recorder = own.get();
    }
    const int shownBefore = int(recorder->shown().size());

    qtl::TForm8 form;
    form.show();
    typeInto(form.Login_Edit, login);
    typeInto(form.Password_Edit, password);
    QTest::mouseClick(form.SpeedButton2, Qt::LeftButton);
    const bool accepted = form.result() == QDialog::Accepted;
    if (caption) *caption = form.MainCaption;

    g_report = QStringLiteral("label: \"%1\"").arg(form.RzLabel1->text());
    const QStringList texts = recorder->texts();
    for (int i = shownBefore; i < texts.size(); ++i) g_report += QStringLiteral("; message box: \"%1\"").arg(texts[i]);
    return accepted;
}

QString lastAutoLoginReport() {
    return g_report;
}

std::unique_ptr<qtl::TForm1> openMainWindow(DevServer& server, const QString& login, const QString& password) {
    useServer(server);
    if (!qtl::DM_MB) qtl::DM_MB = new qtl::TDM_MB();
    g_report.clear();
    QString caption;
    if (!signInThroughLoginWindow(login, password, &caption)) {
        ADD_FAILURE() << "sign-in as " << login.toStdString() << " failed: " << g_report.toStdString();
        return nullptr;
    }
    auto window = std::make_unique<qtl::TForm1>(caption);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get(), 20000)) {  // a loaded X server may take a while
        ADD_FAILURE() << "the main window was not exposed";
        return nullptr;
    }
    return window;
}

}  // namespace qtltest
