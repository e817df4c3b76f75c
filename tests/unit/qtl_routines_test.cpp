// The routines of the QTL database on the small demo data.
#include "qtl/demo_ids.h"
#include "qtl_test_db.h"

using namespace devserver::qtl::demo;
using namespace qtl_test;
using devserver::ColType;

namespace {

std::vector<devserver::qtl::Argument> disciplinesArgs(int teacher, int kafedra = kKafedraA, int ws = kWsAutumn) {
    return {named("@id_a_year", I(kYearCurrent)), named("@id_w_s", I(ws)), named("@id_kafedra", I(kafedra)),
            named("@id_teacher", I(teacher))};
}

std::string descGroupNum(const QtlDb& d, int group, int discipline, int ws = kWsAutumn, int kafedra = kKafedraA) {
    const auto out = d.call(
        "SP_GetDescGroupNumOfDiscipline",
        {named("@id_a_year", I(kYearCurrent)), named("@id_w_s", I(ws)), named("@id_kafedra", I(kafedra)),
         named("@id_group", I(group)), named("@id_discipline", I(discipline)), named("@id_examination", I(kExamA))});
    EXPECT_FALSE(out.failed);
    EXPECT_EQ(out.results.size(), 1u);
    return out.results.empty() || out.results[0].rows.empty() ? "<none>" : cell(out.results[0].rows[0][0]);
}

devserver::StatementOutcome kpvStudents(const QtlDb& d, int group, int discipline, int user, bool byPlan) {
    std::vector<devserver::qtl::Argument> a = {named("@id_group", I(group)), named("@id_discipline", I(discipline)),
                                               named("@id_a_year", I(kYearCurrent))};
    if (byPlan) a.push_back(named("@descGroupNum", I(kDescGroupNumA)));
    a.push_back(named("@id_examination", I(kExamA)));
    a.push_back(named("@id_w_s", I(kWsAutumn)));
    a.push_back(named("@kredits", T("5")));  // the workstation sends Krdt as it read it
    a.push_back(named("@id_user", I(user)));
    return d.call(byPlan ? "GET_KPV_Students2" : "GET_KPV_Students", a);
}

}  // namespace

TEST(QtlRoutines, DisciplinesOfATeacherOneRowPerCredits) {
    QtlDb d;
    auto out = d.call("dbo.SP_Qtl33GetDisciplines", disciplinesArgs(kTeacherA));
    ASSERT_FALSE(out.failed);
    EXPECT_TRUE(out.isProcedure);
    ASSERT_EQ(out.results.size(), 1u);
    const auto& rs = out.results[0];
    ASSERT_EQ(rs.columns.size(), 4u);
    EXPECT_EQ(rs.columns[0].name, "rowNum");
    EXPECT_EQ(rs.columns[3].name, "Krdt");
    EXPECT_EQ(rs.columns[3].type, ColType::Int);
    EXPECT_EQ(table(rs), (Rows{{"1", "Программирование", "1", "5"}, {"2", "Философия науки", "3", "3"}}));

    out = d.call("SP_Qtl33GetDisciplines", disciplinesArgs(kTeacherB));
    EXPECT_EQ(table(out.results.at(0)), (Rows{{"1", "Базы данных", "2", "5"}, {"2", "Базы данных", "2", "6"}}));

    // Other kinds of term and a teacher whose rows carry no rating.
    out = d.call("SP_Qtl33GetDisciplines", disciplinesArgs(kTeacherA, kKafedraA, kWs3));
    EXPECT_EQ(table(out.results.at(0)), (Rows{{"1", "Учебная практика", "4", "2"}}));
    out = d.call("SP_Qtl33GetDisciplines", disciplinesArgs(kTeacherNoRating, kKafedraB));
    EXPECT_TRUE(out.results.at(0).rows.empty());
}

TEST(QtlRoutines, DescGroupNumFromTheGroupsPlan) {
    QtlDb d;
    EXPECT_EQ(descGroupNum(d, kGroupOz0, kDisciplineA), std::to_string(kDescGroupNumA));
    EXPECT_EQ(descGroupNum(d, kGroupOz0, kDisciplineNotInPlan), "-1");
    EXPECT_EQ(descGroupNum(d, kGroupNoGs, kDisciplineA), "-1");  // no speciality, no plan
    EXPECT_EQ(descGroupNum(d, kGroupOz0, kDisciplineA, kWsSpring), "-1");
    EXPECT_EQ(descGroupNum(d, kGroupOz0, kDisciplineSummer, kWs3), std::to_string(kDescGroupNumSummer));
    EXPECT_EQ(descGroupNum(d, kGroupB, kDisciplineCalculus, kWsAutumn, kKafedraB), "3");
    EXPECT_EQ(descGroupNum(d, kGroupOz0, kDisciplineCalculus, kWsAutumn, kKafedraA), "-1");  // other department
}

TEST(QtlRoutines, KpvStudentsFlagRegistrationsAndTheirOperator) {
    QtlDb d;
    for (bool byPlan : {false, true}) {
        auto out = kpvStudents(d, kGroupOz0, kDisciplineA, kUserOperator, byPlan);
        ASSERT_FALSE(out.failed) << (out.messages.empty() ? "" : out.messages[0].text);
        const auto& rs = out.results.at(0);
        ASSERT_EQ(rs.columns.size(), 4u);
        EXPECT_EQ(rs.columns[1].name, "IsSelected");
        EXPECT_EQ(rs.columns[1].type, ColType::Bit);
        EXPECT_EQ(rs.columns[3].name, "s_fio");
        EXPECT_EQ(table(rs), (Rows{{"1", "1", "1", "Абдуллаев Тимур Русланович"},
                                   {"2", "1", "1", "Белова Анастасия Игоревна"},
                                   {"3", "1", "1", "Волков Артём Денисович"},
                                   {"4", "0", "0", "Елисеева Дарья Андреевна"},
                                   {"5", "0", "0", "Ёлкина Мария Петровна"},
                                   {"6", "0", "0", "Жданов Кирилл Олегович"},
                                   {"7", "0", "0", "Петров Пётр Петрович"},
                                   {"8", "1", "0", "Смирнова Алина Викторовна"},
                                   {"9", "0", "0", "Тихонов Максим Сергеевич"},
                                   {"10", "0", "0", "Яковлева Софья Романовна"}}))
            << (byPlan ? "GET_KPV_Students2" : "GET_KPV_Students");
    }
    // Seen by operator2, the flags of who registered swap.
    const auto other = table(kpvStudents(d, kGroupOz0, kDisciplineA, kUserOperator2, false).results.at(0));
    EXPECT_EQ(other[0][2], "0");
    EXPECT_EQ(other[7][2], "1");
    // A registration of another year or kind of term does not count.
    d.exec("UPDATE DisciplineForStudent SET id_ins_semester = 5 WHERE id_student = 2 AND id_discipline = 1");
    EXPECT_EQ(table(kpvStudents(d, kGroupOz0, kDisciplineA, kUserOperator, false).results.at(0))[1][1], "0");
    EXPECT_TRUE(kpvStudents(d, kGroupEmpty, kDisciplineA, kUserOperator, false).results.at(0).rows.empty());
}

TEST(QtlRoutines, StudentInfoOfARegistration) {
    QtlDb d;
    auto info = [&](int student, int discipline, devserver::Value kredits) {
        return d.call(
            "GetKPVStudentInfo",
            {named("@id_student", I(student)), named("@id_semester", I(kSemesterCourse2Autumn)),
             named("@id_a_year", I(kYearCurrent)), named("@id_discipline", I(discipline)),
             named("@id_group", I(kGroupOz0)), named("@descGroupNum", I(kDescGroupNumA)), named("@kredits", kredits)});
    };
    auto out = info(kStudentVolkov, kDisciplineA, T("5"));
    ASSERT_FALSE(out.failed);
    const auto& rs = out.results.at(0);
    ASSERT_EQ(rs.columns.size(), 8u);
    EXPECT_EQ(rs.columns[4].name, "discipline");
    EXPECT_EQ(rs.columns[7].name, "subGroup");
    EXPECT_EQ(table(rs), (Rows{{"1", "1", "1", "1", "Программирование", "15", "4", "2"}}));

    EXPECT_TRUE(info(kStudentEliseeva, kDisciplineA, T("5")).results.at(0).rows.empty());
    EXPECT_TRUE(info(kStudentVolkov, kDisciplineNotInPlan, T("3")).results.at(0).rows.empty());

    // A moved registration shows where it went, found by its registering semester.
    d.exec("UPDATE DisciplineForStudent SET id_teacher = 3, subGroup = 7, id_semester = 6 WHERE id_student = 3");
    EXPECT_EQ(table(info(kStudentVolkov, kDisciplineA, I(5)).results.at(0)),
              (Rows{{"1", "3", "1", "1", "Программирование", "15", "6", "7"}}));
}

TEST(QtlRoutines, ArgumentsMatchedLikeTheServer) {
    QtlDb d;
    // Positional, and named in another order, give the same rows.
    const auto positional = d.call("SP_Qtl33GetDisciplines",
                                   {pos(I(kYearCurrent)), pos(I(kWsAutumn)), pos(I(kKafedraA)), pos(I(kTeacherB))});
    const auto shuffled =
        d.call("sp_qtl33getdisciplines", {named("@id_teacher", I(kTeacherB)), named("@ID_KAFEDRA", I(kKafedraA)),
                                          named("@id_w_s", T(" 1 ")), named("@id_a_year", I(kYearCurrent))});
    ASSERT_FALSE(positional.failed);
    ASSERT_FALSE(shuffled.failed);
    EXPECT_EQ(table(positional.results.at(0)), table(shuffled.results.at(0)));
    EXPECT_EQ(positional.results.at(0).rows.size(), 2u);

    auto missing = d.call("SP_Qtl33GetDisciplines",
                          {named("@id_a_year", I(15)), named("@id_w_s", I(1)), named("@id_kafedra", I(1))});
    EXPECT_TRUE(missing.failed);
    EXPECT_TRUE(missing.results.empty());
    ASSERT_EQ(missing.messages.size(), 1u);
    EXPECT_EQ(missing.messages[0].number, 201);
    EXPECT_EQ(missing.messages[0].severity, 16);
    EXPECT_EQ(
        missing.messages[0].text,
        "Procedure or function 'SP_Qtl33GetDisciplines' expects parameter '@id_teacher', which was not supplied.");

    auto tooMany = d.call("SP_Qtl33GetDisciplines", {pos(I(1)), pos(I(1)), pos(I(1)), pos(I(1)), pos(I(1))});
    EXPECT_TRUE(tooMany.failed);
    EXPECT_EQ(tooMany.messages.at(0).number, 8144);
    EXPECT_EQ(tooMany.messages.at(0).text,
              "Procedure or function SP_Qtl33GetDisciplines has too many arguments specified.");

    auto unknown = d.call("SP_Qtl33GetDisciplines", {named("@id_a_year", I(15)), named("@nope", I(1))});
    EXPECT_EQ(unknown.messages.at(0).number, 8145);
    auto twice = d.call("SP_Qtl33GetDisciplines", {pos(I(15)), named("@id_a_year", I(15))});
    EXPECT_EQ(twice.messages.at(0).number, 8143);
    auto badInt = d.call("SP_Qtl33GetDisciplines", {pos(T("abc")), pos(I(1)), pos(I(1)), pos(I(1))});
    EXPECT_TRUE(badInt.failed);
    EXPECT_EQ(badInt.messages.at(0).number, 8114);
    auto noSuch = d.call("SP_DoesNotExist", {});
    EXPECT_TRUE(noSuch.failed);
    EXPECT_EQ(noSuch.messages.at(0).number, 2812);

    // NULL arguments compare with nothing.
    auto nulls = d.call("SP_Qtl33GetDisciplines", {pos({}), pos(I(1)), pos(I(1)), pos(I(1))});
    EXPECT_FALSE(nulls.failed);
    EXPECT_TRUE(nulls.results.at(0).rows.empty());

    EXPECT_TRUE(devserver::qtl::isRoutine("[QTL].[dbo].[GET_USER]"));
    EXPECT_TRUE(devserver::qtl::isRoutine("dbo.get_kpv_students2"));
    EXPECT_FALSE(devserver::qtl::isRoutine("GetTFIO_with_pps"));
    EXPECT_FALSE(devserver::qtl::isRoutine("xp_cmdshell"));
}

TEST(QtlRoutines, StaffFunctionOfADepartment) {
    QtlDb d;
    const auto sql = devserver::qtl::tableFunctionSql("dbo.GetTFIO_with_pps", {"4", std::to_string(kKafedraA)});
    ASSERT_FALSE(sql.empty());
    EXPECT_EQ(d.rows("SELECT id_teacher, t_fio FROM " + sql),
              (Rows{{"1", "Абрамов А.В."}, {"2", "Борисова Е.Н."}, {"11", "Васильева Т.М."}}));
    // The guest teacher teaches in department A but is staff of department B.
    EXPECT_EQ(d.rows("SELECT t_fio FROM " + devserver::qtl::tableFunctionSql("GetTFIO_with_pps", {"4", "(2)"})).size(),
              5u);
    EXPECT_TRUE(d.rows("SELECT * FROM " + devserver::qtl::tableFunctionSql("GetTFIO_with_pps", {"4", "NULL"})).empty());
    EXPECT_EQ(devserver::qtl::tableFunctionSql("teacher", {"1"}), "");
    EXPECT_THROW(devserver::qtl::tableFunctionSql("GetTFIO_with_pps", {"4"}), std::runtime_error);
    EXPECT_THROW(devserver::qtl::tableFunctionSql("GetTFIO_with_pps", {"4", "1); DROP TABLE teacher; --"}),
                 std::runtime_error);

    // The column types reach the engine through the sub-select.
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(d.db, ("SELECT id_teacher, t_fio FROM " + sql).c_str(), -1, &st, nullptr), SQLITE_OK);
    EXPECT_STREQ(sqlite3_column_decltype(st, 0), "INTEGER");
    EXPECT_STREQ(sqlite3_column_decltype(st, 1), "NVARCHAR(100)");
    sqlite3_finalize(st);
}

// Every name of the routine table reaches its own body (told apart by the columns it answers
// with); a name that is none of them, however close, is 2812 and runs nothing.
TEST(QtlRoutines, EachNameRunsItsOwnRoutineAndNoOther) {
    QtlDb d;
    const struct {
        const char* name;
        int arguments;
        const char* firstColumn;  // nullptr: no such routine
    } cases[] = {
        {"SP_Qtl33GetDisciplines", 4, "rowNum"},
        {"dbo.SP_GetDescGroupNumOfDiscipline", 6, "descGroupNum"},
        {"[QTL].[dbo].[GET_KPV_Students]", 7, "id_student"},
        {"get_kpv_students2", 8, "id_student"},
        {"GetKPVStudentInfo", 7, "id_kafedra"},
        {"GET_KPV_Students3", 8, nullptr},
        {"GetKPVStudentInfo2", 7, nullptr},
        {"GetTFIO_with_pps", 2, nullptr},  // a table-valued function, not a procedure
        {"", 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<devserver::qtl::Argument> args(static_cast<std::size_t>(c.arguments), pos(I(1)));
        const auto out = d.call(c.name, args);
        if (!c.firstColumn) {
            ASSERT_TRUE(out.failed);
            ASSERT_EQ(out.messages.size(), 1u);
            EXPECT_EQ(out.messages[0].number, 2812);
            EXPECT_TRUE(out.results.empty());
            continue;
        }
        ASSERT_FALSE(out.failed) << (out.messages.empty() ? "" : out.messages[0].text);
        ASSERT_EQ(out.results.size(), 1u);
        EXPECT_EQ(out.results[0].columns.at(0).name, c.firstColumn);
    }
}
