#include "Unit10.h"

#include "dm_u.h"
#include "platform/Accessibility.h"
#include "platform/ApplicationTitle.h"
#include "platform/Guard.h"
#include "platform/MessageBoxes.h"
#include "platform/Query.h"
#include "statements/Statements.h"
#include "util/errors.h"
#include "util/util.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSettings>
#include <QTextStream>
#include <QThread>
#include <QWindow>

#include <cstdlib>
#include <memory>

namespace qtl {

TForm8* Form8 = nullptr;

QString TForm8::ProgramFolderOverride;
std::function<void(int)> TForm8::Pause = [](int milliseconds) { QThread::msleep(milliseconds); };
std::function<void()> TForm8::TerminateProgram = [] { std::_Exit(0); };

const QString TForm8::kMismatchText =
    QStringLiteral("Новый пароль подтвержден не верно!!!\rПодтвердите пароль заново.");
const QString TForm8::kShortPasswordText =
    QStringLiteral("Пароль должен состоять не менее чем из 6 символов!!!\rВведите новый пароль заново.");
const QString TForm8::kWrongLoginText = QStringLiteral("Неверно ввели логин или пароль.");
const QString TForm8::kChangePasswordText = QStringLiteral(
    "Вы должны поменять пароль\rЭто делается для безопастности и сохранения данных от "
    "злоумышлеников");
const QString TForm8::kNewVersionText = QStringLiteral("Скачайте новую версию программы с портала QTL");

// ---- ODBC: the driver of this installation (platform/OdbcSettings builds the string) ---------

OdbcDriver ChooseOdbcDriver() {
    return ChooseOdbcDriver(TForm8::ProgramFolder() + QStringLiteral("/Data/driver"), RegisteredOdbcDrivers());
}

void SetOdbcSettings(Connection* connection, const TFirstConnectInfo& info) {
    const OdbcDriver driver = ChooseOdbcDriver();
    connection->setOdbcConnectString(BuildOdbcConnectString(info, driver));
    connection->setOdbcConnectOptions(OdbcConnectOptions(driver));
}

void ApplyConnectionSettings(Connection* connection, const TFirstConnectInfo& info) {
    connection->setConnectionString(BuildConnectionString(info));
    SetOdbcSettings(connection, info);
}

void ConnectWith(Connection* connection, const TFirstConnectInfo& info) {
    connection->close();
    ApplyConnectionSettings(connection, info);
    connection->open();
}

QString RemoveUserName(QString text, const QString& userName) {
    if (!userName.isEmpty()) text.remove(userName, Qt::CaseSensitive);
    return text;
}

QString ComposeMainCaption() {
    return QLatin1String(kProgramTag) + QStringLiteral("  V") + QString::number(kProgramVersion) +
           QStringLiteral(" [ ") + BuildDateText(GetBuildDate()) + QStringLiteral(" ] - ") +
           QStringLiteral("Регистратор студентов");
}

// ---- message label -----------------------------------------------------------------------------

TMessageLabel::TMessageLabel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void TMessageLabel::setText(const QString& text) {
    if (text == m_text) return;
    m_text = text;
    setAccessibleName(displayText());  // what a screen reader reads, and told it changed
    update();
}

QString TMessageLabel::displayText() const {
    QString shown = m_text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

void TMessageLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, displayText());
}

// ---- the window --------------------------------------------------------------------------------

QString TForm8::ProgramFolder() {
    return ProgramFolderOverride.isEmpty() ? QCoreApplication::applicationDirPath() : ProgramFolderOverride;
}

QString TForm8::SettingsFilePath() {
    return ProgramFolder() + QStringLiteral("/Data/QTL");
}

TForm8::TForm8(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("Form8"));
    Form8 = this;
    buildLayout();
    connectHandlers();
    setUpAssistiveAccess();
    guarded(this, [this] { FormCreate(); });
}

TForm8::~TForm8() {
    if (Form8 == this) Form8 = nullptr;
}

void TForm8::buildLayout() {
    setWindowTitle(QStringLiteral("Аутентификация"));
    InitPictures();
    setFont(WindowFont());
    setFixedSize(497, 273);
    buildPicturesAndLabels();
    buildEdits();
    buildButtons();

    for (QWidget* w : {static_cast<QWidget*>(Image1), static_cast<QWidget*>(Image2), static_cast<QWidget*>(RzLabel1)})
        w->installEventFilter(this);

    IdIPWatch1 = new IpWatch(this);

    // Centred on the desktop.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    Login_Edit->setFocus();
}

// The two background pictures (they carry the captions of the fields), the version label and
// the message label over them.
void TForm8::buildPicturesAndLabels() {
    const auto picture = [this](const char* name, const QString& resource, const QRect& r) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->setGeometry(r);
        label->setPixmap(QPixmap(resource));
        label->setScaledContents(true);
        return label;
    };
    Image1 = picture("Image1", QStringLiteral(":/login_main.png"), QRect(0, 0, 497, 278));
    Image2 = picture("Image2", QStringLiteral(":/login_change.png"), QRect(0, 277, 497, 139));

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(6, 5);
    QFont versionFont(QStringLiteral("MS Sans Serif"));
    versionFont.setPixelSize(13);
    versionFont.setBold(true);
    Label1->setFont(versionFont);
    Label1->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    Label1->setAttribute(Qt::WA_TranslucentBackground);

    RzLabel1 = new TMessageLabel(this);
    RzLabel1->setObjectName(QStringLiteral("RzLabel1"));
    RzLabel1->setGeometry(60, 107, 329, 78);
    QFont messageFont(QStringLiteral("Arial"));
    messageFont.setPixelSize(13);
    messageFont.setBold(true);
    RzLabel1->setFont(messageFont);
    QPalette messagePalette = RzLabel1->palette();
    messagePalette.setColor(QPalette::WindowText, Qt::black);
    RzLabel1->setPalette(messagePalette);
}

void TForm8::buildEdits() {
    const auto edit = [this](const char* name, const QRect& r, bool password) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(r);
        e->setFrame(false);
        QPalette pal = e->palette();
        pal.setColor(QPalette::Base, Qt::white);
        pal.setColor(QPalette::Text, Qt::black);
        e->setPalette(pal);
        if (password) e->setEchoMode(QLineEdit::Password);
        e->installEventFilter(this);
        return e;
    };
    Login_Edit = edit("Login_Edit", QRect(146, 202, 187, 21), false);
    Password_Edit = edit("Password_Edit", QRect(146, 238, 187, 21), true);
    Edit1 = edit("Edit1", QRect(148, 309, 186, 21), true);
    Edit2 = edit("Edit2", QRect(148, 345, 186, 21), true);
    // The key filter stops typing; the validator also stops pasting.
    static const QRegularExpression allowed(QStringLiteral("[0-9A-Za-z_]*"));
    Edit1->setValidator(new QRegularExpressionValidator(allowed, Edit1));
    Edit2->setValidator(new QRegularExpressionValidator(allowed, Edit2));
    setTabOrder(Login_Edit, Password_Edit);
    setTabOrder(Password_Edit, Edit1);
    setTabOrder(Edit1, Edit2);
}

// The buttons are transparent areas over the pictures, which draw them.
void TForm8::buildButtons() {
    const auto button = [this](const char* name, const QRect& r) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(r);
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setCursor(Qt::PointingHandCursor);
        b->setStyleSheet(
            QStringLiteral("QToolButton { background: transparent; border: none; }"
                           "QToolButton:hover { background: rgba(255, 255, 255, 60); }"
                           "QToolButton:pressed { background: rgba(0, 0, 0, 40); }"));
        return b;
    };
    SpeedButton2 = button("SpeedButton2", QRect(349, 200, 55, 20));
    SpeedButton1 = button("SpeedButton1", QRect(418, 199, 67, 22));
    SpeedButton3 = button("SpeedButton3", QRect(346, 236, 139, 22));
}

void TForm8::connectHandlers() {
    onEvent(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    onEvent(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    onEvent(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
}

void TForm8::FormCreate() {
    // A leftover of the previous program's updater.
    QFile::remove(ProgramFolder() + QStringLiteral("/QTL 32.bat"));
    Label1->setText(QStringLiteral("V.") + QString::number(kProgramVersion) + QStringLiteral("   [ ") +
                    BuildDateText(GetBuildDate()) + QStringLiteral(" ]"));
    Label1->adjustSize();
    LoginPressCount = 0;
    ChangePasswordMode = false;
}

void TForm8::SpeedButton1Click() {
    reject();
}

void TForm8::SpeedButton3Click() {
    ChangePasswordMode = !ChangePasswordMode;
    setFixedHeight(ChangePasswordMode ? 416 : 275);
    showChangeFieldsWithTheArea();
}

void TForm8::SpeedButton2Click() {
    ++LoginPressCount;
    bool loggedIn = false;
    if (!ChangePasswordMode) {
        loggedIn = TryLogin(DM_MB->ADOCon, QStringLiteral("NULL"));
    } else {
        if (Edit1->text() != Edit2->text()) {
            Edit1->clear();
            Edit2->clear();
            RzLabel1->setText(kMismatchText);
            return;
        }
        if (Edit1->text().size() < 6) {
            Edit1->clear();
            Edit2->clear();
            RzLabel1->setText(kShortPasswordText);
            return;
        }
        loggedIn = TryLogin(DM_MB->ADOCon, Edit1->text());
    }
    if (!loggedIn) return;
    {
        Query dateFormat(DM_MB->ADOCon, QStringLiteral("ADOQuery2"));
        dateFormat.setSql(statements::dateFormat());
        dateFormat.execute();
    }
    // A connection reopened later (after a lost link) must read dates the same way.
    DM_MB->ADOCon->setSessionSetup({statements::dateFormat()});
    accept();
}

namespace {

int intColumn(const QVariant& v) {
    if (v.isNull() || !v.isValid()) return 0;
    bool ok = false;
    const int n = v.toInt(&ok);
    if (ok) return n;
    return StrToInt(v.toString());
}

QString textColumn(const QVariant& v) {
    return v.isNull() ? QString() : v.toString();
}

QString errorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const AppError& e) {
        return e.text();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

}  // namespace

bool TForm8::TryLogin(Connection* connection, const QString& newPassword) {
    ConnectWithSettingsFile(connection);
    ShowBaseCaption();
    LoginAnswer answer;
    if (!AskLoginProcedure(connection, newPassword, answer)) return false;
    g_signIn.CurrentUserId = answer.userId;
    if (!MayGoOn(connection, answer)) return false;
    return ReconnectAsOperator(connection, answer);
}

void TForm8::ConnectWithSettingsFile(Connection* connection) {
    // The settings file is read at every attempt; its errors are not caught here: the attempt
    // stops before any connection is touched.
    FirstConnectInfo = ReadSettingsFile(SettingsFilePath());
    // A failed connection is only shown: the login procedure below runs into the same fault
    // and reports it in the operator's terms.
    try {
        ConnectWith(connection, FirstConnectInfo);
    } catch (...) {
        RzLabel1->setText(RemoveUserName(errorText(std::current_exception()), FirstConnectInfo.UserID));
    }
}

void TForm8::ShowBaseCaption() {
    // Titles, from the base caption every time, so a failed attempt leaves no stale caption.
    const QString caption = ComposeMainCaption();
    MainCaption = caption;
    setApplicationTitle(caption);
}

bool TForm8::AskLoginProcedure(Connection* connection, const QString& newPassword, LoginAnswer& answer) {
    // The login procedure learns who asks and from which computer.
    auto query = std::make_unique<Query>(connection, QStringLiteral("ADOQuery1"));
    g_signIn.ComputerName = IdIPWatch1->hostName();
    const QString statement = statements::signIn(Login_Edit->text(), Password_Edit->text(), newPassword,
                                                 IdIPWatch1->localIP(), g_signIn.ComputerName);
    g_signIn.CurrentLogin = Login_Edit->text();

    // A failure of the login procedure is shown, and the operator is told that his login or
    // password is wrong; the connection is dropped so that the next press starts clean.
    try {
        query->setSql(statement);
        query->open();
        answer.storedUser = textColumn(query->fieldValue(0));
        answer.storedPassword = textColumn(query->fieldValue(1));
        answer.userId = intColumn(query->fieldValue(2));
        answer.passwordState = intColumn(query->fieldValue(3));
        answer.message = textColumn(query->fieldValue(4));
        answer.newestVersion = intColumn(query->fieldValue(5));
    } catch (...) {
        MessageBoxes::showError(this, errorText(std::current_exception()));
        RzLabel1->setText(kWrongLoginText);
        query.reset();
        connection->close();
        return false;
    }
    return true;
}

bool TForm8::MayGoOn(Connection* connection, const LoginAnswer& answer) {
    // A newer program exists: say so, let it be read, and end.
    if (answer.newestVersion > kProgramVersion) {
        Label1->setText(kNewVersionText);
        Label1->adjustSize();
        repaint();
        Pause(5000);
        TerminateProgram();
        return false;
    }
    // The server refused the operator with a text of its own.
    if (!answer.message.isEmpty()) {
        RzLabel1->setText(answer.message);
        return false;
    }
    // The password must be changed before the operator may go on.
    if (answer.passwordState < 0) {
        connection->close();
        RzLabel1->setText(kChangePasswordText);
        SpeedButton3Click();
        SpeedButton3->setEnabled(false);
        return false;
    }
    // A change is asked for at the first press only; a second press goes on without it.
    if (LoginPressCount == 1 && !answer.storedUser.isEmpty() && answer.passwordState < 20) {
        connection->close();
        RzLabel1->setText(kChangePasswordText);
        SpeedButton3Click();
        return false;
    }
    return true;
}

bool TForm8::ReconnectAsOperator(Connection* connection, const LoginAnswer& answer) {
    // From here on the program works with the operator's own database account.
    FirstConnectInfo.UserID = FromCp1251(DecodeStoredText(ToCp1251(answer.storedUser)));
    FirstConnectInfo.Password = FromCp1251(DecodeStoredText(ToCp1251(answer.storedPassword)));
    connection->close();
    connection->setConnectionString(BuildConnectionString(FirstConnectInfo));

    // Reconnect with it; a failure here leaves the login window open for another attempt.
    try {
        SetOdbcSettings(connection, FirstConnectInfo);
        connection->open();
        DM_MB->LoadForMainWindow();
    } catch (...) {
        MessageBoxes::showError(this, errorText(std::current_exception()));
        RzLabel1->setText(QString());
        connection->close();
        return false;
    }
    return true;
}

// ---- input ---------------------------------------------------------------------------------

bool TForm8::EditAllKeyDown(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) return false;
    guarded(this, [this] { SpeedButton2Click(); });
    return true;
}

bool TForm8::Edit1KeyPress(QKeyEvent* event) {
    const QString text = event->text();
    if (text.isEmpty()) return false;
    switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:  // navigation and editing keys, not characters
        return false;
    default: break;
    }
    for (const QChar c : text) {
        const bool ok =
            c == QLatin1Char('\b') || c == QLatin1Char('_') || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
            (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
        if (!ok) return true;
    }
    return false;
}

void TForm8::Image1MouseDown(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (QWindow* w = windowHandle(); w && w->startSystemMove()) return;
    // The platform cannot move it for us: follow the mouse ourselves.
    m_manualDrag = true;
    m_dragOffset = event->globalPosition().toPoint() - pos();
}

bool TForm8::eventFilter(QObject* watched, QEvent* event) {
    const bool isEdit = watched == Login_Edit || watched == Password_Edit || watched == Edit1 || watched == Edit2;
    const bool isDragArea = watched == Image1 || watched == Image2 || watched == RzLabel1;
    switch (event->type()) {
    case QEvent::KeyPress:
        if (isEdit) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (EditAllKeyDown(key)) return true;
            if ((watched == Edit1 || watched == Edit2) && Edit1KeyPress(key)) return true;
        }
        break;
    case QEvent::MouseButtonPress:
        if (isDragArea) {
            Image1MouseDown(static_cast<QMouseEvent*>(event));
            return true;
        }
        break;
    case QEvent::MouseMove:
        if (isDragArea && m_manualDrag) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->buttons() & Qt::LeftButton)
                move(mouse->globalPosition().toPoint() - m_dragOffset);
            else
                m_manualDrag = false;
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        if (isDragArea && m_manualDrag) {
            m_manualDrag = false;
            return true;
        }
        break;
    default: break;
    }
    return QDialog::eventFilter(watched, event);
}

void TForm8::keyPressEvent(QKeyEvent* event) {
    // Escape does not end the login; only the exit button or the platform's close does.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- assistive technology and the keyboard ---------------------------------------------------

void TForm8::setUpAssistiveAccess() {
    // The captions of the fields and of the buttons are painted in the background pictures.
    Login_Edit->setAccessibleName(QStringLiteral("Пользователь"));
    Password_Edit->setAccessibleName(QStringLiteral("Пароль"));
    Edit1->setAccessibleName(QStringLiteral("Новый пароль"));
    Edit2->setAccessibleName(QStringLiteral("Подтверждение"));
    SpeedButton2->setAccessibleName(QStringLiteral("Вход"));
    SpeedButton1->setAccessibleName(QStringLiteral("Отмена"));
    SpeedButton3->setAccessibleName(QStringLiteral("Дополнительно"));
    SetAccessibleRole(RzLabel1, QAccessible::StaticText);

    // Tab reaches the buttons after the fields; a click still leaves the focus where it was. The
    // focused button is framed in navy against the light button face, and Enter presses it.
    for (QToolButton* b : {SpeedButton2, SpeedButton1, SpeedButton3}) {
        b->setFocusPolicy(Qt::TabFocus);
        b->setStyleSheet(b->styleSheet() + QStringLiteral("QToolButton:focus { border: 2px solid rgb(0, 0, 128); }"));
    }
    setTabOrder(Edit2, SpeedButton2);
    setTabOrder(SpeedButton2, SpeedButton1);
    setTabOrder(SpeedButton1, SpeedButton3);
    PressFocusedButtonsOnEnter(this);
    showChangeFieldsWithTheArea();
}

void TForm8::showChangeFieldsWithTheArea() {
    // Below the window's edge while the area is closed: out of sight, so out of the Tab order
    // and of what a screen reader lists.
    Edit1->setVisible(ChangePasswordMode);
    Edit2->setVisible(ChangePasswordMode);
}

}  // namespace qtl
