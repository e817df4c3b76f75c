// The login window and the connection settings it signs in with.
#pragma once

#include "platform/Connection.h"
#include "platform/Look.h"
#include "platform/OdbcSettings.h"
#include "platform/SettingsFile.h"

#include <QByteArray>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QToolButton>
#include <QWidget>

#include <functional>

namespace qtl {

class IpWatch;

// ---- connecting with the settings file (platform/SettingsFile) -------------------------------

// The driver for this installation: ChooseOdbcDriver(site file "Data/driver" in the program
// folder, the registered drivers); see platform/OdbcSettings.h.
OdbcDriver ChooseOdbcDriver();
// Gives the connection the ODBC string and connect options for that driver.
void SetOdbcSettings(Connection* connection, const TFirstConnectInfo& info);

// Closes the connection, gives it both forms of the settings and opens it.
void ConnectWith(Connection* connection, const TFirstConnectInfo& info);
// Only sets both forms (the connection stays as it is).
void ApplyConnectionSettings(Connection* connection, const TFirstConnectInfo& info);

// The error text with every occurrence of the user name taken out (nothing for an empty name).
QString RemoveUserName(QString text, const QString& userName);

// The title of the main window and of the application after a login attempt.
QString ComposeMainCaption();

// ---- the window ----------------------------------------------------------------------------

// A label whose text may hold CR (character 13) as its line break; text() is the text as set.
class TMessageLabel : public QWidget {
    Q_OBJECT
public:
    explicit TMessageLabel(QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const { return m_text; }
    QString displayText() const;  // CR shown as a line break

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};

class TForm8 : public QDialog {
    Q_OBJECT
public:
    explicit TForm8(QWidget* parent = nullptr);
    ~TForm8() override;

    // The folder the program looks in for "Data/QTL", "Data/driver" and "QTL 32.bat";
    // empty: the folder of the executable. Tests point it at their server's folder.
    static QString ProgramFolderOverride;
    static QString ProgramFolder();
    static QString SettingsFilePath();

    // The pause and the immediate end of the version stop; tests replace them.
    static std::function<void(int milliseconds)> Pause;
    static std::function<void()> TerminateProgram;

    QLabel* Image1;
    QLabel* Label1;  // version label
    TMessageLabel* RzLabel1;  // messages
    QLineEdit* Login_Edit;
    QLineEdit* Password_Edit;
    QToolButton* SpeedButton2;  // login
    QToolButton* SpeedButton1;  // exit
    QToolButton* SpeedButton3;  // password-change area
    QLabel* Image2;
    QLineEdit* Edit1;  // new password
    QLineEdit* Edit2;  // new password again
    IpWatch* IdIPWatch1;  // local address and computer name

    quint8 LoginPressCount = 0;
    bool ChangePasswordMode = false;
    TFirstConnectInfo FirstConnectInfo;
    // The main window's caption as the last attempt composed it; the program start builds the
    // main window with it once the operator is signed in.
    QString MainCaption;

    void FormCreate();
    void SpeedButton2Click();
    void SpeedButton1Click();
    void SpeedButton3Click();

    bool TryLogin(Connection* connection, const QString& newPassword);

    // Texts of the message label.
    static const QString kMismatchText;
    static const QString kShortPasswordText;
    static const QString kWrongLoginText;
    static const QString kChangePasswordText;
    static const QString kNewVersionText;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPoint m_dragOffset;
    bool m_manualDrag = false;

    // What the login procedure answered.
    struct LoginAnswer {
        QString storedUser, storedPassword, message;
        int userId = 0, passwordState = 0, newestVersion = 0;
    };

    void buildLayout();
    void buildPicturesAndLabels();
    void buildEdits();
    void buildButtons();
    void ConnectWithSettingsFile(Connection* connection);
    void ShowBaseCaption();
    bool AskLoginProcedure(Connection* connection, const QString& newPassword, LoginAnswer& answer);
    bool MayGoOn(Connection* connection, const LoginAnswer& answer);
    bool ReconnectAsOperator(Connection* connection, const LoginAnswer& answer);
    void connectHandlers();
    bool EditAllKeyDown(QKeyEvent* event);
    bool Edit1KeyPress(QKeyEvent* event);
    void Image1MouseDown(QMouseEvent* event);
    // Names for assistive technology (the captions are in the pictures) and the keyboard's way
    // through the window.
    void setUpAssistiveAccess();
    // The new-password fields are shown, and reached by Tab, only while their area is open.
    void showChangeFieldsWithTheArea();
};

extern TForm8* Form8;  // the login window while it exists

}  // namespace qtl
