// Password change, the server's answers (password state, refusal, version) and the key filters.
#include "login_helpers.h"

#include <QElapsedTimer>
#include <QProcess>

using namespace qtltest::login;

TEST_F(LoginTest, NewPasswordChecksLocallyThenSendsItsDigest) {
    QTest::mouseClick(form->SpeedButton3, Qt::LeftButton);
    EXPECT_TRUE(form->ChangePasswordMode);
    EXPECT_EQ(form->height(), 416);

    type(form->Login_Edit, "operator");
    type(form->Password_Edit, "operator");
    const int mark = server->logMark();
    type(form->Edit1, "abc123");
    type(form->Edit2, "abc124");
    press();
    EXPECT_EQ(label(), "Новый пароль подтвержден не верно!!!\rПодтвердите пароль заново.");
    EXPECT_EQ(form->Edit1->text(), "");
    EXPECT_EQ(form->Edit2->text(), "");

    type(form->Edit1, "abc12");
    type(form->Edit2, "abc12");
    press();
    EXPECT_EQ(label(), "Пароль должен состоять не менее чем из 6 символов!!!\rВведите новый пароль заново.");
    EXPECT_EQ(form->Edit1->text(), "");
    EXPECT_EQ(server->logMark(), mark) << "no server contact for refused new passwords";
    EXPECT_FALSE(accepted());

    type(form->Edit1, "new_pw7");
    type(form->Edit2, "new_pw7");
    press();
    ASSERT_TRUE(accepted()) << label().toStdString();
    const QStringList batches = server->batchesSince(mark);
    ASSERT_FALSE(batches.isEmpty());
    EXPECT_EQ(batches.first(), sent(getUser("operator", "operator", "new_pw7")));
    EXPECT_TRUE(batches.first().endsWith("','0','34'\r\n"));
    EXPECT_EQ(server->sqliteScalar("SELECT password_md5 FROM QTL_User WHERE QTL_login = 'operator'").toString(),
              md5("new_pw7"));
}

TEST_F(LoginTest, KeyFiltersOfTheFourFields) {
    type(form->Edit1, "Пароль, x_1!Z9 ");
    EXPECT_EQ(form->Edit1->text(), "x_1Z9");
    type(form->Edit2, "ab-cd.ЁЖ");
    EXPECT_EQ(form->Edit2->text(), "abcd");
    QTest::keyClick(form->Edit2, Qt::Key_Backspace);
    EXPECT_EQ(form->Edit2->text(), "abc");
    type(form->Login_Edit, "Иван, ok!");
    EXPECT_EQ(form->Login_Edit->text(), "Иван, ok!");
    type(form->Password_Edit, "пар оль;");
    EXPECT_EQ(form->Password_Edit->text(), "пар оль;");

    // Enter in any field is a press of the login button and inserts nothing. The area is
    // open with differing new passwords, so each press stops at the local check.
    QTest::mouseClick(form->SpeedButton3, Qt::LeftButton);
    const int mark = server->logMark();
    int presses = form->LoginPressCount;
    for (QLineEdit* edit : {form->Login_Edit, form->Password_Edit, form->Edit1, form->Edit2}) {
        form->Edit1->setText("aaaaaa");
        form->Edit2->setText("bbbbbb");
        const QString before = edit->text();
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_EQ(form->LoginPressCount, ++presses) << edit->objectName().toStdString();
        EXPECT_EQ(label(), qtl::TForm8::kMismatchText);
        if (edit == form->Login_Edit || edit == form->Password_Edit) {
            EXPECT_EQ(edit->text(), before);
        }
        form->RzLabel1->setText(QString());
    }
    QTest::keyClick(form->Login_Edit, Qt::Key_Enter);
    EXPECT_EQ(form->LoginPressCount, ++presses);
    EXPECT_EQ(server->logMark(), mark);
    // Escape does not end the login.
    QTest::keyClick(form->Login_Edit, Qt::Key_Escape);
    EXPECT_TRUE(form->isVisible());
}

TEST_F(LoginTest, ForcedChangeClosesTheConnectionAndLocksTheAreaOpen) {
    const int mark = server->logMark();
    attempt("newbie", "newbie1");
    EXPECT_FALSE(accepted());
    EXPECT_EQ(label(),
              "Вы должны поменять пароль\rЭто делается для безопастности и сохранения "
              "данных от злоумышлеников");
    EXPECT_TRUE(form->ChangePasswordMode);
    EXPECT_EQ(form->height(), 416);
    EXPECT_FALSE(form->SpeedButton3->isEnabled());
    EXPECT_FALSE(qtl::DM_MB->ADOCon->isOpen());
    EXPECT_EQ(server->batchesSince(mark).value(0), sent(getUser("newbie", "newbie1")));

    type(form->Edit1, "fresh_1");
    type(form->Edit2, "fresh_1");
    press();
    ASSERT_TRUE(accepted()) << label().toStdString();
    EXPECT_EQ(qtl::g_signIn.CurrentUserId, demo::kUserForced);
}

TEST_F(LoginTest, StateNineteenAsksAtTheFirstPressOnly) {
    attempt("aged", "aged12");
    EXPECT_FALSE(accepted());
    EXPECT_EQ(label(), qtl::TForm8::kChangePasswordText);
    EXPECT_TRUE(form->ChangePasswordMode);
    EXPECT_TRUE(form->SpeedButton3->isEnabled());
    EXPECT_FALSE(qtl::DM_MB->ADOCon->isOpen());

    QTest::mouseClick(form->SpeedButton3, Qt::LeftButton);
    EXPECT_FALSE(form->ChangePasswordMode);
    EXPECT_EQ(form->height(), 275);
    press();
    ASSERT_TRUE(accepted()) << label().toStdString();
    EXPECT_EQ(form->LoginPressCount, 2);
}

TEST_F(LoginTest, StateTwentyNeverAsks) {
    server->sqliteExec("UPDATE QTL_User SET password_state = 20 WHERE QTL_login = 'aged'");
    attempt("aged", "aged12");
    EXPECT_TRUE(accepted()) << label().toStdString();
    EXPECT_FALSE(form->ChangePasswordMode);
}

TEST_F(LoginTest, EmptyAccountWithStateFiveFailsAtTheSecondConnection) {
    server->sqliteExec("UPDATE QTL_User SET password_state = 5, db_login = NULL WHERE QTL_login = 'aged'");
    const int mark = server->logMark();
    attempt("aged", "aged12");
    EXPECT_FALSE(accepted());
    EXPECT_FALSE(form->ChangePasswordMode);  // no change demanded
    EXPECT_EQ(label(), "");
    ASSERT_EQ(boxes->shown().size(), 1);
    EXPECT_FALSE(boxes->texts().first().isEmpty());
    EXPECT_FALSE(qtl::DM_MB->ADOCon->isOpen());
    // Only the settings-file account ever got in.
    EXPECT_EQ(logins(mark).filter("qtl_").join(","), demo::kSettingsUser);
}

TEST_F(LoginTest, RefusalTextsAreShownEvenASingleBlank) {
    attempt("blocked", "blocked1");
    EXPECT_FALSE(accepted());
    EXPECT_EQ(label(), demo::kBlockedText);

    server->sqliteExec("UPDATE QTL_User SET refusal = ' ' WHERE QTL_login = 'operator'");
    attempt("operator", "operator");
    EXPECT_FALSE(accepted());
    EXPECT_EQ(label(), " ");
    EXPECT_TRUE(form->isVisible());
}

TEST_F(LoginTest, NewerVersionStopsAfterThePause) {
    server->sqliteExec("UPDATE QTL_Program SET version = 14 WHERE tag = 'QTL 33'");
    attempt("operator", "operator");
    EXPECT_EQ(form->Label1->text(), "Скачайте новую версию программы с портала QTL");
    EXPECT_EQ(paused, 5000);
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(accepted());
    EXPECT_EQ(label(), "");
}

// The real stop, in a child process: it must end by itself, after the pause, with no main
// window.
namespace qtltest {
int runVersionStopChild(const QString& folder, const QString& login, const QString& password) {
    qtl::TForm8::ProgramFolderOverride = folder;
    qtl::DM_MB = new qtl::TDM_MB();
    MessageRecorder boxes;
    qtl::TForm8 form;
    form.show();
    typeInto(form.Login_Edit, login);
    typeInto(form.Password_Edit, password);
    QTest::mouseClick(form.SpeedButton2, Qt::LeftButton);
    std::fputs("NOT STOPPED\n", stdout);
    return 3;
}
}  // namespace qtltest

TEST(LoginVersionStop, ProcessEndsAfterFiveSeconds) {
    qtltest::DevServer server;
    server.start();
    server.sqliteExec("UPDATE QTL_Program SET version = 14 WHERE tag = 'QTL 33'");
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({"--version-stop-child", server.tempDir(), "operator", "operator"});
    QElapsedTimer timer;
    timer.start();
    child.start();
    ASSERT_TRUE(child.waitForFinished(60000));
    const qint64 elapsed = timer.elapsed();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_GE(elapsed, 5000);
    EXPECT_FALSE(child.readAllStandardOutput().contains("NOT STOPPED"));

    // Version 13 does not stop.
    server.sqliteExec("UPDATE QTL_Program SET version = 13 WHERE tag = 'QTL 33'");
    child.start();
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitCode(), 3);
}
