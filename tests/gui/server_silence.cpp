// A server that stops answering never freezes the window for good: the sign-in, a chain step
// and a removal each end with an error after the timeout, and the next action works. And a
// removal batch that the server ends with its transaction open is closed by the workstation.
#include "login_helpers.h"
#include "register_helpers.h"

#include <QElapsedTimer>

namespace {

namespace demo = devserver::qtl::demo;

// Short timeouts keep the tests quick; the program's own are 30 s for a statement and 15 s for
// a connection. QTL_SILENCE_SECONDS=0 runs these tests with the program's own (for a measurement
// by hand).
int shortTimeout(int programs) {
    bool set = false;
    const int seconds = qEnvironmentVariableIntValue("QTL_SILENCE_SECONDS", &set);
    if (!set) return 3;
    return seconds > 0 ? seconds : programs;
}
const int kQueryTimeout = shortTimeout(qtl::Connection::kDefaultQueryTimeout);
const int kLoginTimeout = shortTimeout(qtl::Connection::kDefaultLoginTimeout);

// The longest an action that waits `waits` times for a shortened timeout may take. What it does
// besides waiting (connecting, cancelling, showing the error) slows down with the machine's
// load, so no margin over the waits is asserted; the bound is where one of them would have run
// to the program's own timeout instead, the fault worth catching.
qint64 limitMs(int waits, int shortened, int programs) {
    if (shortened >= programs) return 2000LL * waits * shortened;  // measured by hand at full length
    return 1000LL * ((waits - 1) * shortened + programs);
}

// The program's own timeouts back for what follows a timeout: the action that must work then
// runs at the machine's pace, which under load can come near the shortened ones.
void restoreTimeouts() {
    qtl::DM_MB->ADOCon->setQueryTimeout(qtl::Connection::kDefaultQueryTimeout);
    qtl::DM_MB->ADOCon->setLoginTimeout(qtl::Connection::kDefaultLoginTimeout);
}

// The server's view of the workstation's session at its next statement.
qtltest::LogEntry probe(const qtltest::DevServer& server) {
    const int m = int(server.log().size());
    qtl::DM_MB->ADOCon->run(QStringLiteral("SELECT 2 AS probe"), true);
    const auto log = server.log();
    for (int i = m; i < log.size(); ++i)
        if (log[i].text.startsWith(QStringLiteral("SELECT 2 AS probe"))) return log[i];
    ADD_FAILURE() << "the probe did not reach the server";
    return {};
}

// ---- sign-in

class SilentSignIn : public qtltest::login::LoginTest {
protected:
    qtltest::DevServer::Options serverOptions() const override {
        qtltest::DevServer::Options o;
        o.stallOn = QStringLiteral("GET_USER");
        return o;
    }
    void shorten() {
        qtl::DM_MB->ADOCon->setQueryTimeout(kQueryTimeout);
        qtl::DM_MB->ADOCon->setLoginTimeout(kLoginTimeout);
    }
};

TEST_F(SilentSignIn, ProgramTimeoutsAreThirtyAndFifteenSeconds) {
    EXPECT_EQ(qtl::DM_MB->ADOCon->queryTimeout(), 30);
    EXPECT_EQ(qtl::DM_MB->ADOCon->loginTimeout(), 15);
}

TEST_F(SilentSignIn, UnansweredLoginProcedureEndsInAnErrorAndTheNextPressWorks) {
    // Only the statement times out here; a shortened login timeout could end the press while a
    // loaded machine is still connecting, before the procedure was ever sent.
    qtl::DM_MB->ADOCon->setQueryTimeout(kQueryTimeout);
    QElapsedTimer t;
    t.start();
    attempt(QStringLiteral("operator"), QStringLiteral("operator"));
    const qint64 ms = t.elapsed();
    std::printf("[timeout] GET_USER unanswered: the press ended after %.1f s\n", ms / 1000.0);
    EXPECT_FALSE(accepted());
    EXPECT_GE(ms, kQueryTimeout * 1000 - 200);
    EXPECT_LT(ms, limitMs(1, kQueryTimeout, qtl::Connection::kDefaultQueryTimeout));
    const QString shown = label() + boxes->texts().join(QLatin1Char('|'));
    EXPECT_TRUE(shown.contains(QStringLiteral("Timeout expired"), Qt::CaseInsensitive)) << qPrintable(shown);
    EXPECT_FALSE(shown.contains(QStringLiteral("Login timeout"), Qt::CaseInsensitive)) << qPrintable(shown);
    // The wait was for the procedure, which reached the server.
    EXPECT_EQ(server->batches().filter(QStringLiteral("EXEC GET_USER")).size(), 1);

    server->restartWith({});
    restoreTimeouts();
    attempt(QStringLiteral("operator"), QStringLiteral("operator"));
    EXPECT_TRUE(accepted()) << qPrintable(label());
}

class DeafServer : public SilentSignIn {
protected:
    qtltest::DevServer::Options serverOptions() const override {
        qtltest::DevServer::Options o;
        o.stallLogin = true;
        return o;
    }
};

TEST_F(DeafServer, ConnectionAttemptGivesUpAfterTheLoginTimeout) {
    shorten();
    QElapsedTimer t;
    t.start();
    attempt(QStringLiteral("operator"), QStringLiteral("operator"));
    const qint64 ms = t.elapsed();
    std::printf("[timeout] server that never answers: the press ended after %.1f s\n", ms / 1000.0);
    EXPECT_FALSE(accepted());
    // The press tries twice: the settings-file connection, then again for the login procedure.
    EXPECT_GE(ms, kLoginTimeout * 1000 - 200);
    EXPECT_LT(ms, limitMs(2, kLoginTimeout, qtl::Connection::kDefaultLoginTimeout));
    EXPECT_FALSE(label().isEmpty() && boxes->texts().isEmpty());

    server->restartWith({});
    restoreTimeouts();
    attempt(QStringLiteral("operator"), QStringLiteral("operator"));
    EXPECT_TRUE(accepted()) << qPrintable(label());
}

// ---- the main window

using namespace qtltest::reg;

class SilentServer : public RegistrationTest {
protected:
    void restartStalling(const QString& pattern) {
        qtltest::DevServer::Options o = options;
        o.stallOn = pattern;
        server->restartWith(o);
        qtl::DM_MB->ADOCon->close();
        qtl::DM_MB->ADOCon->setQueryTimeout(kQueryTimeout);
    }
    void restartHealthy() {
        server->restartWith(options);
        qtl::DM_MB->ADOCon->close();
        restoreTimeouts();
    }
};

TEST_F(SilentServer, ChainStepEndsInAnErrorAfterTheTimeoutAndTheNextPickWorks) {
    signIn();
    chainTo();
    restartStalling(QStringLiteral("GET_KPV_Students"));
    boxes.clear();
    QElapsedTimer t;
    t.start();
    pickInList(w()->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    const qint64 ms = t.elapsed();
    std::printf("[timeout] group step unanswered: the pick ended after %.1f s\n", ms / 1000.0);
    ASSERT_EQ(errorTexts().size(), 1) << qPrintable(boxes.texts().join('|'));
    EXPECT_TRUE(errorTexts()[0].contains(QStringLiteral("Timeout expired"), Qt::CaseInsensitive))
        << qPrintable(errorTexts()[0]);
    EXPECT_GE(ms, kQueryTimeout * 1000 - 200);
    EXPECT_LT(ms, limitMs(1, kQueryTimeout, qtl::Connection::kDefaultQueryTimeout));

    restartHealthy();
    boxes.clear();
    repick(w()->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join('|'));
    EXPECT_EQ(w()->CheckListBox1->count(), demo::kGroupOz0Students);
}

TEST_F(SilentServer, RemovalThatTimesOutKeepsTheRegistrationAndLeavesNoTransaction) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const int row = registrationId(demo::kStudentBelova, demo::kDisciplineA, 1);
    restartStalling(QStringLiteral("INSERT INTO QTL_LOG"));
    // The same session from here on: the probe must see what the removal left.
    qtl::DM_MB->ADOCon->open();
    selectStreamLines({lineOfRegistration(row)});
    const int logRows = count(QStringLiteral("QTL_LOG"));
    boxes.clear();
    const int m = mark();
    QElapsedTimer t;
    t.start();
    clickRemove();
    std::printf("[timeout] removal unanswered: the click ended after %.1f s\n", t.elapsed() / 1000.0);
    ASSERT_EQ(errorTexts().size(), 1) << qPrintable(boxes.texts().join('|'));
    EXPECT_TRUE(errorTexts()[0].contains(QStringLiteral("Timeout expired"), Qt::CaseInsensitive))
        << qPrintable(errorTexts()[0]);
    EXPECT_EQ(since(m).value(2), kEndTransaction);
    restoreTimeouts();  // the same session: only the statements' limit changes
    const qtltest::LogEntry next = probe(*server);
    EXPECT_EQ(next.tranCount, 0);
    EXPECT_EQ(next.xactAbort, 0);
    EXPECT_EQ(registrationId(demo::kStudentBelova, demo::kDisciplineA, 1), row);
    EXPECT_EQ(count(QStringLiteral("QTL_LOG")), logRows);
}

// ---- a batch the server ends with its transaction still open

class MissingAuditTable : public RegistrationTest {};

// On the server an object that is missing is found missing only when its statement is reached:
// the DELETE has run, the batch stops there and its transaction stays open, XACT_ABORT or not.
TEST_F(MissingAuditTable, RemovalIsUndoneAndTheSessionGoesOnOutsideAnyTransaction) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const int row = registrationId(demo::kStudentBelova, demo::kDisciplineA, 1);
    server->stop();
    server->sqliteExec(QStringLiteral("ALTER TABLE QTL_LOG RENAME TO QTL_LOG_moved"));
    server->restart();
    qtl::DM_MB->ADOCon->close();
    qtl::DM_MB->ADOCon->open();
    selectStreamLines({lineOfRegistration(row)});
    boxes.clear();
    const int m = mark();
    clickRemove();

    ASSERT_EQ(errorTexts().size(), 1) << qPrintable(boxes.texts().join('|'));
    EXPECT_EQ(errorTexts()[0], QStringLiteral("Invalid object name 'QTL_LOG'."));
    const QStringList got = since(m);
    ASSERT_EQ(got.size(), 3) << qPrintable(got.join('|'));
    EXPECT_EQ(got[1],
              removalBatch({demo::kFacultyA, demo::kYearCurrent, demo::kKafedraA, demo::kTeacherA, demo::kWsAutumn,
                            demo::kDisciplineA, demo::kCreditsA, demo::kExamA, demo::kGroupOz0, demo::kStreamNamed},
                           demo::kStudentBelova, row, qtl::g_signIn.CurrentLogin, comp()));
    EXPECT_EQ(got[2], kEndTransaction);
    // The cleanup ran on a session whose transaction the failed batch had left open.
    const auto log = server->log();
    for (const auto& e : log) {
        if (e.text == kEndTransaction) {
            EXPECT_EQ(e.tranCount, 1);
        }
    }
    const qtltest::LogEntry next = probe(*server);
    EXPECT_EQ(next.tranCount, 0);
    EXPECT_EQ(next.xactAbort, 0);
    EXPECT_EQ(registrationId(demo::kStudentBelova, demo::kDisciplineA, 1), row);

    // What the operator does next in this session is kept when the workstation disconnects.
    repick(w()->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    tick(demo::kStudentZhdanov);
    boxes.clear();
    clickRegister();
    EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join('|'));
    qtl::DM_MB->ADOCon->close();
    server->stop();
    EXPECT_GT(registrationId(demo::kStudentZhdanov, demo::kDisciplineA), 0);
}

// A removal that succeeds leaves the session's error rules as they were.
TEST_F(MissingAuditTable, SuccessfulRemovalLeavesXactAbortOff) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const int row = registrationId(demo::kStudentBelova, demo::kDisciplineA, 1);
    selectStreamLines({lineOfRegistration(row)});
    boxes.clear();
    clickRemove();
    EXPECT_TRUE(errorTexts().isEmpty()) << qPrintable(boxes.texts().join('|'));
    EXPECT_EQ(registrationId(demo::kStudentBelova, demo::kDisciplineA, 1), 0);
    const qtltest::LogEntry next = probe(*server);
    EXPECT_EQ(next.tranCount, 0);
    EXPECT_EQ(next.xactAbort, 0);
}

}  // namespace
