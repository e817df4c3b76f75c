// Signing in: the statements of a plain login, quotes in the login, the titles, reconnection.
#include "login_helpers.h"

#include "platform/ApplicationTitle.h"

#include <QKeyEvent>

using namespace qtltest::login;

TEST_F(LoginTest, PlainLoginSendsGetUserThenWorksUnderTheReturnedAccount) {
    const int mark = server->logMark();
    attempt("operator", "operator");
    ASSERT_TRUE(accepted()) << label().toStdString() << " / " << boxes->texts().join("|").toStdString();
    EXPECT_EQ(label(), "");
    EXPECT_TRUE(boxes->shown().isEmpty());

    const QStringList batches = server->batchesSince(mark);
    const QString faculties =
        "SELECT faculty.id_faculty, faculty.[p23-2] AS [faculty] FROM  faculty INNER JOIN "
        "user_faculty ON faculty.id_faculty = user_faculty.faculty WHERE user_faculty.id_login = " +
        QString::number(demo::kUserOperator) + "Order by [p23-2]";
    const QStringList expected = {
        sent(getUser("operator", "operator")),
        sent(faculties),
        sent("SELECT * FROM w_s"),
        sent("SELECT [id_field]  FROM [QTL].[dbo].[VuzDefaults]  WHERE id_vuz_defaults=26"),
        sent("SELECT [id_field]  FROM [QTL].[dbo].[VuzDefaults] WHERE id_vuz_defaults=27"),
    };
    int at = -1;
    for (const QString& statement : expected) {
        const int found = int(batches.indexOf(statement, at + 1));
        ASSERT_GT(found, at) << "not sent in order: " << statement.toStdString();
        at = found;
    }
    const int dateFormat = int(batches.indexOf(sent("SET DATEFORMAT dmy")));
    EXPECT_GT(dateFormat, at);

    // First the settings-file account, then the one GET_USER handed out.
    const QStringList accounts = logins(mark);
    ASSERT_GE(accounts.size(), 2);
    EXPECT_EQ(accounts.first(), demo::kSettingsUser);
    EXPECT_EQ(accounts.last(), "qtl_op");

    EXPECT_EQ(qtl::g_signIn.CurrentLogin, "operator");
    EXPECT_EQ(qtl::g_signIn.CurrentUserId, demo::kUserOperator);
    EXPECT_EQ(qtl::g_signIn.CreditLimitForOz0, demo::kCreditLimitOz0);
    EXPECT_EQ(qtl::g_signIn.CreditLimitForOz1, demo::kCreditLimitOz1);
    EXPECT_FALSE(qtl::g_signIn.ComputerName.isEmpty());
    EXPECT_TRUE(qtl::DM_MB->ADOQ_Faculty->isOpen());
    EXPECT_EQ(qtl::DM_MB->ADOQ_Faculty->recordCount(), 2);
    EXPECT_TRUE(qtl::DM_MB->ADOQ_Year2->isOpen());
    EXPECT_TRUE(qtl::DM_MB->ADOQ_Exec->isOpen());
    EXPECT_TRUE(qtl::DM_MB->ADOCon->isOpen());

    EXPECT_EQ(form->MainCaption, expectedCaption());
    EXPECT_TRUE(form->MainCaption.startsWith("QTL 33  V13 [ "));
    // The application title follows the caption, but only the task bar shows it: Qt's display
    // name would be appended to every window's title.
    EXPECT_EQ(qtl::applicationTitle(), expectedCaption());
    EXPECT_FALSE(QGuiApplication::applicationDisplayName().contains(QStringLiteral("QTL 33")));
    // The composed string keeps its own form too.
    EXPECT_TRUE(qtl::DM_MB->ADOCon->connectionString().startsWith(
        "Provider=SQLOLEDB.1;Password=op_pw_33;Persist Security Info=True;User ID=qtl_op;"));
    EXPECT_FALSE(server->anyRpc());
}

TEST_F(LoginTest, WindowLayoutAndVersionLabel) {
    EXPECT_EQ(form->size(), QSize(497, 273));
    EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form->Login_Edit->geometry(), QRect(146, 202, 187, 21));
    EXPECT_EQ(form->Password_Edit->geometry(), QRect(146, 238, 187, 21));
    EXPECT_EQ(form->SpeedButton2->geometry(), QRect(349, 200, 55, 20));
    EXPECT_EQ(form->SpeedButton1->geometry(), QRect(418, 199, 67, 22));
    EXPECT_EQ(form->SpeedButton3->geometry(), QRect(346, 236, 139, 22));
    EXPECT_EQ(form->RzLabel1->geometry(), QRect(60, 107, 329, 78));
    EXPECT_EQ(form->Edit1->geometry(), QRect(148, 309, 186, 21));
    EXPECT_EQ(form->Password_Edit->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(form->Image1->pixmap().isNull());
    EXPECT_FALSE(form->Image2->pixmap().isNull());
    EXPECT_EQ(form->Label1->text(), "V.13   [ " + qtl::BuildDateText(qtl::GetBuildDate()) + " ]");
    EXPECT_EQ(label(), "");
    EXPECT_EQ(form->LoginPressCount, 0);

    // Exit ends the window with Cancel and nothing reaches the server.
    const int mark = server->logMark();
    QTest::mouseClick(form->SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(server->batchesSince(mark).isEmpty());
}

TEST_F(LoginTest, DraggingTheBackgroundMovesTheWindow) {
    const QPoint before = form->pos();
    const QPoint at(20, 20);
    QMouseEvent press(QEvent::MouseButtonPress, at, form->Image1->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(form->Image1, &press);
    const QPoint to = at + QPoint(30, 15);
    QMouseEvent move(QEvent::MouseMove, to, form->Image1->mapToGlobal(at) + QPoint(30, 15), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->Image1, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, to, form->Image1->mapToGlobal(to), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(form->Image1, &release);
    EXPECT_EQ(form->pos(), before + QPoint(30, 15));

    // The right button does nothing.
    const QPoint after = form->pos();
    QMouseEvent right(QEvent::MouseButtonPress, at, form->RzLabel1->mapToGlobal(at), Qt::RightButton, Qt::RightButton,
                      Qt::NoModifier);
    QApplication::sendEvent(form->RzLabel1, &right);
    QMouseEvent rightMove(QEvent::MouseMove, to, form->RzLabel1->mapToGlobal(to), Qt::NoButton, Qt::RightButton,
                          Qt::NoModifier);
    QApplication::sendEvent(form->RzLabel1, &rightMove);
    EXPECT_EQ(form->pos(), after);
}

TEST_F(LoginTest, QuoteInLoginIsDoubledAndCaptionStaysTheSameOverAttempts) {
    server->sqliteExec(
        "INSERT INTO QTL_User (id_QTL_user, QTL_login, user_name, password_md5, password_state, "
        "db_login) VALUES (77, 'o''neil', 'Tester', '" +
        md5("pw_77") + "', 90, 'qtl_op')");
    server->sqliteExec("INSERT INTO user_faculty (id_login, faculty) VALUES (77, 1)");

    attempt("o'neil", "wrong1");
    EXPECT_FALSE(accepted());
    EXPECT_EQ(label(), demo::kWrongPasswordText);
    const QString first = form->MainCaption;
    EXPECT_EQ(first, expectedCaption());
    attempt("o'neil", "wrong2");
    EXPECT_EQ(form->MainCaption, first);

    const int mark = server->logMark();
    attempt("o'neil", "pw_77");
    ASSERT_TRUE(accepted()) << label().toStdString();
    EXPECT_EQ(form->MainCaption, first);
    EXPECT_EQ(qtl::applicationTitle(), first);
    const QStringList batches = server->batchesSince(mark);
    ASSERT_FALSE(batches.isEmpty());
    EXPECT_EQ(batches.first(), sent(getUser("o'neil", "pw_77")));
    EXPECT_TRUE(batches.first().startsWith("EXEC GET_USER 'o''neil','"));
    EXPECT_TRUE(batches.first().contains(", 'o''neil','0','4'"));
    EXPECT_EQ(qtl::g_signIn.CurrentLogin, "o'neil");
    EXPECT_EQ(qtl::g_signIn.CurrentUserId, 77);
}

TEST_F(LoginTest, PasswordWithSemicolonAndBraceReachesTheServerIntact) {
    // Both accounts carry characters that would end or add ODBC attributes if written bare.
    server->sqliteExec("UPDATE QTL_DbAccount SET password = 'e;n}t{r' WHERE name = 'qtl_entry'");
    server->sqliteExec("UPDATE QTL_DbAccount SET password = 'op;UID=sa}' WHERE name = 'qtl_op'");
    rewriteSettings([](QByteArray& b) {
        const QByteArray pw = "e;n}t{r";
        for (int i = 0; i < pw.size(); ++i) b[20 + i] = char(quint8(pw[i]) - 1);
        b[41] = char(pw.size());
    });
    const int mark = server->logMark();
    attempt("operator", "operator");
    ASSERT_TRUE(accepted()) << label().toStdString() << " / " << boxes->texts().join("|").toStdString();
    const QStringList accounts = logins(mark);
    EXPECT_EQ(accounts.first(), demo::kSettingsUser);
    EXPECT_EQ(accounts.last(), "qtl_op");
}

TEST_F(LoginTest, ComputerNameGoesThroughQuoteDoubling) {
    // The computer name comes from the system; whatever it holds, it stays one literal.
    const QString statement = qtl::statements::signIn("operator", "operator", "NULL", "1.2.3.4", "it's-pc");
    EXPECT_TRUE(statement.contains("'1.2.3.4', 'it''s-pc', 'operator'"));
}

// Reconnection: the platform drops a broken link; the next statement reopens it with the
// operator's account and sends the date format first.
TEST(LoginReconnect, RestartedServerCostsOneErrorThenWorkResumes) {
    qtltest::DevServer server;
    server.start();
    qtltest::MessageRecorder boxes;
    auto window = qtltest::openMainWindow(server, "operator", "operator");
    ASSERT_TRUE(window);

    server.restart();
    const int before = int(server.log().size());

    auto* faculty = window->DBLookupComboBox1;
    faculty->setFocus();
    QTest::keyClick(faculty, Qt::Key_Down);  // first pick: meets the dead link
    QApplication::processEvents();
    ASSERT_EQ(boxes.shown().size(), 1) << boxes.texts().join("|").toStdString();
    boxes.clear();

    QTest::keyClick(faculty, Qt::Key_Down);  // the next one reopens and works
    QApplication::processEvents();
    EXPECT_TRUE(boxes.shown().isEmpty()) << boxes.texts().join("|").toStdString();
    EXPECT_TRUE(window->DBLookupComboBox2->isEnabled());

    const auto entries = server.log();
    int loginAt = -1;
    for (int i = before; i < entries.size(); ++i)
        if (entries[i].kind == "login") loginAt = i;
    ASSERT_GE(loginAt, 0) << "no new session after the restart";
    EXPECT_EQ(entries[loginAt].user, "qtl_op");
    QStringList sessionBatches;
    for (int i = loginAt + 1; i < entries.size(); ++i)
        if (entries[i].kind == "batch" && entries[i].session == entries[loginAt].session)
            sessionBatches << entries[i].text;
    const int dateFormat = int(sessionBatches.indexOf("SET DATEFORMAT dmy"));
    ASSERT_GE(dateFormat, 0) << sessionBatches.join("|").toStdString();
    int firstWork = -1;
    for (int i = 0; i < sessionBatches.size(); ++i)
        if (sessionBatches[i].endsWith("\r\n")) {
            firstWork = i;
            break;
        }
    ASSERT_GE(firstWork, 0);
    EXPECT_LT(dateFormat, firstWork);
}
