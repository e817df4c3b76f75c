// Server errors at every statement of a registering click and of a removing click, and a link
// dropped in the middle of a click: what was written before stays, nothing after it is written,
// the server's text is shown and the window goes on working.
#include "register_helpers.h"

using namespace qtltest::reg;

namespace {

namespace demo = devserver::qtl::demo;

constexpr int kFirst = demo::kStudentEliseeva;
constexpr int kSecond = demo::kStudentZhdanov;

struct Fault {
    const char* name;
    const char* pattern;    // --fail-on: matches exactly one statement of the click
    int written;            // how many of the two ticked students end up registered
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

const Fault kRegisterFaults[] = {
    {"deadline", "V_Date_reg_DFS", 0},
    {"lesson_kind", "id_rrnkKrdt,id_vid_zaniatiy", 0},
    {"faculty", "FROM  dbo\\.RRNK_krdt_kolst", 0},
    {"first_sum", "Sumkredits.*id_student=4 ", 0},
    {"first_insert", "INSERT INTO DisciplineForStudent .*VALUES\\(4,", 0},
    {"second_sum", "Sumkredits.*id_student=6 ", 1},
    {"second_insert", "INSERT INTO DisciplineForStudent .*VALUES\\(6,", 1},
    {"reload_students", "GET_KPV_Students2", 2},
    {"reload_streams", "SELECT g_f\\.id_faculty", 2},
};

class RegisterFault : public RegistrationTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(RegisterFault, EarlierWritesStayLaterOnesAreNotMade) {
    static_assert(kFirst == 4 && kSecond == 6, "the patterns name the students");
    const Fault f = GetParam();
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    tick(kFirst);
    tick(kSecond);
    const int before = count(QStringLiteral("DisciplineForStudent"));
    restartServerWith(QString::fromLatin1(f.pattern));
    boxes.clear();
    clickRegister();

    ASSERT_EQ(boxes.shown().size(), 1) << qPrintable(boxes.texts().join('|'));
    EXPECT_EQ(boxes.shown()[0].icon, qtl::MbIcon::Error);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("Injected failure: ")))
        << qPrintable(boxes.shown()[0].text);
    EXPECT_EQ(count(QStringLiteral("DisciplineForStudent")), before + f.written);
    EXPECT_EQ(registrationId(kFirst, demo::kDisciplineA) > 0, f.written >= 1);
    EXPECT_EQ(registrationId(kSecond, demo::kDisciplineA) > 0, f.written >= 2);

    // The window stays usable: with the server healthy again, picking the group rebuilds the
    // lists from what was written.
    restartServerWith(QString());
    boxes.clear();
    repick(w()->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join('|'));
    ASSERT_EQ(w()->CheckListBox1->count(), demo::kGroupOz0Students);
    EXPECT_EQ(studentItem(lineOfStudent(kFirst))->IsSelected, f.written >= 1);
    EXPECT_EQ(studentItem(lineOfStudent(kSecond))->IsSelected, f.written >= 2);
}

INSTANTIATE_TEST_SUITE_P(EveryStatement, RegisterFault, ::testing::ValuesIn(kRegisterFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- removing: Абдуллаев's and Белова's lines of stream 1; Белова's (lower) is visited first

struct RemoveFault {
    const char* name;
    int at;        // 0 deadline, 1/2 DELETE/INSERT of the first line visited, 3/4 of the second,
                   // 5 the reload
    int removed;   // lines removed (with their audit rows), in visiting order
};

void PrintTo(const RemoveFault& f, std::ostream* os) { *os << f.name; }

const RemoveFault kRemoveFaults[] = {
    {"deadline", 0, 0},      {"first_delete", 1, 0},  {"first_audit", 2, 0},
    {"second_delete", 3, 1}, {"second_audit", 4, 1}, {"reload", 5, 2},
};

class RemoveFaultTest : public RegistrationTest, public ::testing::WithParamInterface<RemoveFault> {};

TEST_P(RemoveFaultTest, EachRemovalIsWholeOrNotAtAll) {
    const RemoveFault f = GetParam();
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const int upperRow = registrationId(demo::kStudentAbdullaev, demo::kDisciplineA, 1);
    const int lowerRow = registrationId(demo::kStudentBelova, demo::kDisciplineA, 1);
    const int visited[2] = {lowerRow, upperRow};
    const QString patterns[] = {
        QStringLiteral("V_Date_reg_DFS"),
        "DELETE FROM DisciplineForStudent WHERE \\(id_disciplineForStudent = " + num(visited[0]) + "\\)",
        "INSERT INTO QTL_LOG.*id_disciplineForStudent\\[" + num(visited[0]) + "\\]",
        "DELETE FROM DisciplineForStudent WHERE \\(id_disciplineForStudent = " + num(visited[1]) + "\\)",
        "INSERT INTO QTL_LOG.*id_disciplineForStudent\\[" + num(visited[1]) + "\\]",
        QStringLiteral("GET_KPV_Students2"),
    };
    const int upper = lineOfRegistration(upperRow), lower = lineOfRegistration(lowerRow);
    ASSERT_GE(upper, 0);
    ASSERT_GT(lower, upper);
    selectStreamLines({upper, lower});
    const int logBefore = count(QStringLiteral("QTL_LOG"));
    restartServerWith(patterns[f.at]);
    boxes.clear();
    clickRemove();

    const QStringList texts = errorTexts();
    ASSERT_EQ(texts.size(), 1) << qPrintable(boxes.texts().join('|'));
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("Injected failure: "))) << qPrintable(texts[0]);
    for (int i = 0; i < 2; ++i) {
        const bool gone = i < f.removed;
        EXPECT_EQ(count(QStringLiteral("DisciplineForStudent"), "id_disciplineForStudent = " + num(visited[i])),
                  gone ? 0 : 1)
            << "line " << i;
        EXPECT_EQ(count(QStringLiteral("QTL_LOG"), "row_id = " + num(visited[i])), gone ? 1 : 0) << "line " << i;
    }
    EXPECT_EQ(count(QStringLiteral("QTL_LOG")), logBefore + f.removed);

    restartServerWith(QString());
    boxes.clear();
    repick(w()->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join('|'));
    // The group step rebuilds the check list (the streams list belongs to earlier steps).
    ASSERT_EQ(w()->CheckListBox1->count(), demo::kGroupOz0Students);
    EXPECT_EQ(studentItem(lineOfStudent(demo::kStudentBelova))->IsSelected, f.removed < 1);
    EXPECT_EQ(studentItem(lineOfStudent(demo::kStudentAbdullaev))->IsSelected, f.removed < 2);
}

INSTANTIATE_TEST_SUITE_P(EveryStatement, RemoveFaultTest, ::testing::ValuesIn(kRemoveFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- a link dropped in the middle of a click

class DroppedLink : public RegistrationTest {};

TEST_F(DroppedLink, RegisteringStopsWhereTheLinkBrokeAndTheNextActionWorks) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    tick(kFirst);
    tick(kSecond);
    restartServerWith(QString(), QStringLiteral("Sumkredits.*id_student=6 "));
    const int before = count(QStringLiteral("DisciplineForStudent"));
    boxes.clear();
    clickRegister();
    ASSERT_EQ(errorTexts().size(), 1) << qPrintable(boxes.texts().join('|'));
    EXPECT_GT(registrationId(kFirst, demo::kDisciplineA), 0);
    EXPECT_EQ(registrationId(kSecond, demo::kDisciplineA), 0);
    EXPECT_EQ(count(QStringLiteral("DisciplineForStudent")), before + 1);

    // Same server, same drop rule: the next action reconnects and works.
    boxes.clear();
    repick(w()->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join('|'));
    ASSERT_EQ(w()->CheckListBox1->count(), demo::kGroupOz0Students);
    EXPECT_TRUE(studentItem(lineOfStudent(kFirst))->IsSelected);
    EXPECT_FALSE(studentItem(lineOfStudent(kSecond))->IsSelected);
}

TEST_F(DroppedLink, RemovingBatchDroppedUnrunKeepsRowAndLog) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    const int row = registrationId(demo::kStudentBelova, demo::kDisciplineA, 1);
    selectStreamLines({lineOfRegistration(row)});
    restartServerWith(QString(), QStringLiteral("BEGIN TRAN"));
    const int logBefore = count(QStringLiteral("QTL_LOG"));
    boxes.clear();
    clickRemove();
    ASSERT_EQ(errorTexts().size(), 1) << qPrintable(boxes.texts().join('|'));
    EXPECT_EQ(registrationId(demo::kStudentBelova, demo::kDisciplineA, 1), row);
    EXPECT_EQ(count(QStringLiteral("QTL_LOG")), logBefore);

    boxes.clear();
    repick(w()->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    EXPECT_TRUE(boxes.shown().isEmpty()) << qPrintable(boxes.texts().join('|'));
    ASSERT_EQ(w()->CheckListBox1->count(), demo::kGroupOz0Students);
    EXPECT_TRUE(studentItem(lineOfStudent(demo::kStudentBelova))->IsSelected);
}

}  // namespace
