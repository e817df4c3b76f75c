// Fault injection by count: for every action, the n-th statement it sends fails (n = 1, 2, ...)
// until a run gets through without meeting the fault. Each run starts from the same database and
// the same window state and checks what the operator must be able to rely on: what ran before
// the fault stays, nothing after it is written, no transaction is left open, exactly one error
// is shown, and the window works on. A statement added to an action later is covered without
// anyone writing a row for it.
#include "frame_helpers.h"
#include "register_helpers.h"
#include "search_helpers.h"

#include "Unit4.h"
#include "Unit5.h"

#include <QFile>
#include <QSet>

using namespace qtltest::reg;

namespace {

namespace demo = devserver::qtl::demo;

// The batch the test sends on the workstation's own connection right before the action; the
// server counts the statements of that session from here.
const QString kMark = QStringLiteral("SELECT 'fault-mark'");
constexpr int kMaxStatements = 60;

enum class Fault { Fail, Drop };

// The rows an action may write, without the insert time stamps (they differ from run to run).
struct Snapshot {
    QSet<QString> rows;
};

struct Change {
    QSet<QString> added, removed;
    bool within(const Change& other) const { return other.added.contains(added) && other.removed.contains(removed); }
    bool empty() const { return added.isEmpty() && removed.isEmpty(); }
};

class FaultLoop : public RegistrationTest {
protected:
    // Everything an action may touch: the registrations and the audit log.
    Snapshot snapshot() const {
        Snapshot s;
        const auto regs = server->sqlite(QStringLiteral(
            "SELECT id_disciplineForStudent, id_student, descGroupNum, id_discipline, id_a_year, id_semester, "
            "id_ins_year, id_ins_semester, id_teacher, id_group, id_examination, subGroup, QTL_user, "
            "id_faculty, id_kafedra, kredits, isByPlan, id_vid_zaniatiy FROM DisciplineForStudent"));
        for (const auto& r : regs) {
            QStringList cells;
            for (const QVariant& v : r) cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
            s.rows.insert(QStringLiteral("DFS|") + cells.join(QLatin1Char('|')));
        }
        const auto log =
            server->sqlite(QStringLiteral("SELECT id_QTL_LOG, \"table\", row_id, descr, QTL_User, comp FROM QTL_LOG"));
        for (const auto& r : log) {
            QStringList cells;
            for (const QVariant& v : r) cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
            s.rows.insert(QStringLiteral("LOG|") + cells.join(QLatin1Char('|')));
        }
        return s;
    }
    static Change diff(const Snapshot& from, const Snapshot& to) {
        Change c;
        c.added = to.rows - from.rows;
        c.removed = from.rows - to.rows;
        return c;
    }

    // The database as the window last read it, kept to start every run from.
    void keepTemplate() {
        server->stop();
        m_template = server->tempDir() + QStringLiteral("/template.sqlite");
        for (const QString& suffix : {QString(), QStringLiteral("-wal")}) {
            QFile::remove(m_template + suffix);
            if (QFile::exists(server->dbPath() + suffix)) {
                ASSERT_TRUE(QFile::copy(server->dbPath() + suffix, m_template + suffix));
            }
        }
    }
    void restoreTemplate() {
        server->stop();
        for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
            QFile::remove(server->dbPath() + suffix);
            if (QFile::exists(m_template + suffix)) {
                ASSERT_TRUE(QFile::copy(m_template + suffix, server->dbPath() + suffix));
            }
        }
    }
    void startServer(Fault fault, int n) {
        qtltest::DevServer::Options o = options;
        o.faultMark = kMark;
        (fault == Fault::Fail ? o.failNth : o.dropNth) = n;
        server->restartWith(o);
        qtl::DM_MB->ADOCon->close();
    }

    // The error boxes shown (the application's general error display).
    QStringList errors() const { return errorTexts(); }

    // The server's view of the session at the next statement after the action, and how many
    // batches the action sent up to the one that met the fault (the cleanup batch aside).
    struct Probe {
        qtltest::LogEntry next;
        int batches = 0;
    };
    Probe probe(int mark) {
        Probe p;
        const int m = int(server->log().size());
        try {
            qtl::DM_MB->ADOCon->run(QStringLiteral("SELECT 1 AS probe"), true);
        } catch (const qtl::DatabaseError&) {
            // The probe itself may be the counted statement; the server logged it all the same.
        }
        const auto log = server->log();
        for (int i = mark; i < m && i < log.size(); ++i)
            if (log[i].kind == QLatin1String("batch") && log[i].text != kMark && log[i].text != kEndTransaction)
                ++p.batches;
        for (int i = m; i < log.size(); ++i)
            if (log[i].kind == QLatin1String("batch") && log[i].text.startsWith(QStringLiteral("SELECT 1 AS probe"))) {
                p.next = log[i];
                return p;
            }
        ADD_FAILURE() << "the probe did not reach the server";
        return p;
    }

    struct Outcome {
        int statements = -1;  // statements the action sends (after the mark)
        int runs = 0;  // fault runs made, the clean one included
    };

    // `prepare` brings the window to the action's starting state from the database as it is
    // (every run starts from the same database); `act` is the operator's action.
    // `check`, when given, tests what must hold of the database after every run.
    Outcome loop(Fault fault, const std::function<void()>& prepare, const std::function<void()>& act,
                 const std::function<void()>& check = {}) {
        Outcome out;
        const Snapshot base = snapshot();
        keepTemplate();
        if (HasFatalFailure()) return out;

        // A clean run first: what the whole action writes.
        restoreTemplate();
        startServer(fault, 0);
        boxes.clear();
        prepare();
        if (HasFatalFailure()) return out;
        EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join('|'));
        qtl::DM_MB->ADOCon->run(kMark, false);
        boxes.clear();
        act();
        EXPECT_TRUE(errors().isEmpty()) << qPrintable(errors().join('|'));
        const Change whole = diff(base, snapshot());
        EXPECT_FALSE(whole.empty()) << "the action wrote nothing";

        // Within one batch the server's rules decide what a failed statement leaves; between
        // batches, everything an earlier batch wrote must still be there.
        Change previous;
        int previousBatch = 0;
        for (int n = 1; n <= kMaxStatements; ++n) {
            SCOPED_TRACE(::testing::Message() << (fault == Fault::Fail ? "fail" : "drop") << " statement " << n);
            restoreTemplate();
            startServer(fault, n);
            boxes.clear();
            prepare();
            if (HasFatalFailure()) return out;
            // The window works on after the previous run's fault: it rebuilt itself unharmed.
            EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join('|'));
            const int m = int(server->log().size());
            qtl::DM_MB->ADOCon->run(kMark, false);
            boxes.clear();
            act();
            ++out.runs;
            const QStringList shown = errors();
            const Change now = diff(base, snapshot());
            const Probe p = probe(m);
            const qtltest::LogEntry& next = p.next;
            // No transaction outlives the action, and the session keeps its ordinary error rules.
            EXPECT_EQ(next.tranCount, 0);
            EXPECT_EQ(next.xactAbort, 0);
            // What ran before stays; nothing beyond what the clean run writes is written.
            if (p.batches > previousBatch) {
                EXPECT_TRUE(previous.within(now)) << "a write of an earlier batch was lost";
                previous = now;
                previousBatch = p.batches;
            }
            EXPECT_TRUE(now.within(whole)) << "something was written that the clean run does not write";
            if (check) check();
            if (shown.isEmpty()) {
                // The fault was never met: the action sends n - 1 statements.
                EXPECT_EQ(now.added, whole.added);
                EXPECT_EQ(now.removed, whole.removed);
                out.statements = n - 1;
                return out;
            }
            EXPECT_EQ(shown.size(), 1) << qPrintable(shown.join('|'));
            if (fault == Fault::Fail) {
                EXPECT_TRUE(shown[0].startsWith(QStringLiteral("Injected failure: "))) << qPrintable(shown[0]);
            }
        }
        ADD_FAILURE() << "the action still met the fault after " << kMaxStatements << " statements";
        return out;
    }

    void report(const char* action, Fault fault, const Outcome& o) {
        std::printf("[fault loop] %s (%s): %d statements, %d runs\n", action, fault == Fault::Fail ? "fail" : "drop",
                    o.statements, o.runs);
        EXPECT_GT(o.statements, 0);
    }

    // The class of the chain helpers: ИТ-21 in Programming with Абрамов, exam.
    void rebuildLists() {
        repick(w()->DBLookupComboBox4, QStringLiteral("Экзамен"));
        pickInList(w()->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    }

    QString m_template;
};

class FaultEveryStatement : public FaultLoop, public ::testing::WithParamInterface<Fault> {};

TEST_P(FaultEveryStatement, Registering) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const Outcome o = loop(
        GetParam(),
        [&] {
            rebuildLists();
            tick(demo::kStudentEliseeva);
            tick(demo::kStudentZhdanov);
        },
        [&] { clickRegister(); });
    report("register", GetParam(), o);
}

TEST_P(FaultEveryStatement, Removing) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const int upperRow = registrationId(demo::kStudentAbdullaev, demo::kDisciplineA, 1);
    const int lowerRow = registrationId(demo::kStudentBelova, demo::kDisciplineA, 1);
    const Outcome o = loop(
        GetParam(),
        [&] {
            rebuildLists();
            const int upper = lineOfRegistration(upperRow), lower = lineOfRegistration(lowerRow);
            ASSERT_GE(upper, 0);
            ASSERT_GE(lower, 0);
            selectStreamLines({upper, lower});
        },
        [&] { clickRemove(); },
        [&] {
            // A registration is gone exactly when its audit row is there.
            for (int row : {upperRow, lowerRow})
                EXPECT_EQ(count(QStringLiteral("DisciplineForStudent"), "id_disciplineForStudent = " + num(row)),
                          1 - count(QStringLiteral("QTL_LOG"), "row_id = " + num(row)))
                    << "registration " << row;
        });
    report("remove", GetParam(), o);
}

TEST_P(FaultEveryStatement, FrameApply) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const Outcome o = loop(
        GetParam(),
        [&] {
            rebuildLists();
            selectStudentLine(lineOfStudent(demo::kStudentAbdullaev));
            ASSERT_EQ(w()->Frame11->StudentId, demo::kStudentAbdullaev);
            qtltest::frame::pick(w()->Frame11->DBLookupComboBox9, demo::kTeacherB);
            ASSERT_TRUE(w()->Frame11->BitBtn1->isEnabled());
        },
        [&] {
            QTest::mouseClick(w()->Frame11->BitBtn1, Qt::LeftButton);
            QApplication::processEvents();
        });
    report("apply", GetParam(), o);
}

TEST_P(FaultEveryStatement, FrameCopy) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const Outcome o = loop(
        GetParam(),
        [&] {
            rebuildLists();
            selectStudentLine(lineOfStudent(demo::kStudentAbdullaev));
            ASSERT_EQ(w()->Frame11->StudentId, demo::kStudentAbdullaev);
            w()->DBLookupComboBox11->setKeyValue(demo::kStreamExtramural);
            ASSERT_FALSE(w()->DBLookupComboBox11->shownText().isEmpty());
        },
        [&] {
            QTest::mouseClick(w()->Frame11->BitBtn2, Qt::LeftButton);
            QApplication::processEvents();
        });
    report("copy", GetParam(), o);
}

TEST_P(FaultEveryStatement, StreamEditor) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    auto* f = w();
    const Outcome o = loop(
        GetParam(),
        [&] {
            rebuildLists();
            ASSERT_GE(f->ListBox1->count(), 4);
            selectStreamLines({0, 1, 3});
            QTest::mouseClick(f->ListBox1->viewport(), Qt::RightButton, Qt::NoModifier,
                              f->ListBox1->visualItemRect(f->ListBox1->item(0)).center());
            QApplication::processEvents();
            ASSERT_TRUE(f->Panel4->isVisible());
            openAndPick(f->DBLookupComboBox12, QStringLiteral("4"));
            ASSERT_TRUE(f->BitBtn1->isEnabled());
        },
        [&] {
            QTest::mouseClick(f->BitBtn1, Qt::LeftButton);
            QApplication::processEvents();
        });
    report("stream editor", GetParam(), o);
}

TEST_P(FaultEveryStatement, RegistrationsWindowDelete) {
    signIn();
    std::unique_ptr<qtl::TForm4> search;
    std::unique_ptr<qtl::TForm5> regs;
    const Outcome o = loop(
        GetParam(),
        [&] {
            regs.reset();
            search = std::make_unique<qtl::TForm4>(w());
            search->show();
            qtltest::lookup::typeText(search->RzEdit1, QStringLiteral("Петров П"));
            const int row = qtl::DM_MB->ADOQ_SGM->findRow(QStringLiteral("id_student"), demo::kStudentFullCredits);
            ASSERT_GE(row, 0);
            const QRect cell = search->DBGridEh1->visualRect(search->DBGridEh1->model()->index(row, 0));
            QTest::mouseClick(search->DBGridEh1->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
            regs = std::make_unique<qtl::TForm5>(search.get());
            regs->show();
            QApplication::processEvents();
            ASSERT_GE(qtl::DM_MB->ADOQ_V_DFS->recordCount(), 2);
            const QRect second = regs->DBGridEh1->visualRect(regs->DBGridEh1->model()->index(1, 1));
            QTest::mouseClick(regs->DBGridEh1->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
            ASSERT_EQ(qtl::DM_MB->ADOQ_V_DFS->currentRow(), 1);
        },
        [&] {
            regs->RzBitBtn1->click();
            QApplication::processEvents();
        });
    regs.reset();
    search.reset();
    report("registrations window delete", GetParam(), o);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultEveryStatement, ::testing::Values(Fault::Fail, Fault::Drop),
                         [](const auto& info) { return std::string(info.param == Fault::Fail ? "Fail" : "Drop"); });

}  // namespace
