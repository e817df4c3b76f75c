// The statements of the main window and the transfer frame, byte for byte. Every value of the
// chosen class differs from the others, so a value written into the wrong place shows.
#include "main_u.h"

#include <gtest/gtest.h>

using namespace qtl;

namespace {

ChosenClass chosen() {
    ChosenClass c;
    c.faculty = QStringLiteral("3");
    c.year = QStringLiteral("15");
    c.department = QStringLiteral("7");
    c.teacher = QStringLiteral("42");
    c.termKind = QStringLiteral("1");
    c.termKindRow = QStringLiteral("2");
    c.discipline = QStringLiteral("501");
    c.credits = QStringLiteral("5");
    c.examination = QStringLiteral("4");
    c.group = QStringLiteral("88");
    c.stream = QStringLiteral("6");
    c.insSemesterId = QStringLiteral("31");
    c.descGroupNum = QStringLiteral("12");
    c.isByPlan = QStringLiteral("1");
    return c;
}

}  // namespace

TEST(SelectionChainStatements, EachListAskedWithTheChoicesAboveIt) {
    const ChosenClass c = chosen();
    EXPECT_EQ(statements::teachers(c),
              " SELECT DISTINCT dbo.teacher.id_teacher, dbo.t_fio.t_fio  FROM         dbo.RRNKkrdt "
              "INNER JOIN  dbo.teacher ON dbo.RRNKkrdt.id_teacher = dbo.teacher.id_teacher INNER "
              "JOIN  dbo.t_fio ON dbo.teacher.id_teacher = dbo.t_fio.id_teacher  WHERE     "
              "(dbo.RRNKkrdt.id_a_year = 15) AND (dbo.RRNKkrdt.id_kafedra = 7)  AND prov_reyt>0 "
              "ORDER BY dbo.t_fio.t_fio");
    EXPECT_EQ(statements::termKinds(), "SELECT [id_w_s],[p42],[ws_sort] FROM [QTL].[dbo].[w_s] ORDER BY [ws_sort]");
    EXPECT_EQ(statements::disciplines(c),
              "EXEC SP_Qtl33GetDisciplines @id_a_year =15,@id_w_s =1,@id_kafedra =7,@id_teacher =42");
    // The form-of-control list takes the kind of term from the chosen row, not the selector.
    EXPECT_EQ(statements::examinations(c),
              " SELECT DISTINCT dbo.RRNKkrdt.id_examination, examination.[p30] as examination  "
              "FROM dbo.RRNKkrdt INNER JOIN examination  ON "
              "dbo.RRNKkrdt.id_examination=examination.id_examination  WHERE id_kafedra=7 AND "
              "id_a_year=15 AND id_teacher =42 AND id_discipline =501 AND id_w_s =2 AND "
              "prov_reyt>0  AND ( (id_vid_zaniatiy is not NULL) or (id_vid_zaniatiy in (5,6)) )");
}

TEST(SelectionChainStatements, GroupsOfKindThreeAndOfOtherKinds) {
    const ChosenClass c = chosen();
    EXPECT_EQ(statements::groups(c, true),
              " SELECT     dbo.g_r_y.id_a_year, dbo.[group].id_faculty, dbo.[group].id_group, "
              "dbo.[group].p20 as [group], dbo.[group].o_z, -1 as  descGroupNum FROM         "
              "dbo.g_r_y INNER JOIN  dbo.[group] ON dbo.g_r_y.id_group = dbo.[group].id_group  "
              "WHERE     dbo.g_r_y.id_a_year =15 AND dbo.[group].id_faculty =3 ORDER By [group]");
    EXPECT_EQ(statements::groups(c, false),
              "SELECT   dbo.[group].id_group,  dbo.[group].id_faculty, "
              "dbo.g_r_y.id_a_year,dbo.semester.id_semester, dbo.semester.id_w_s, "
              "dbo.[group].p20 as [group],dbo.[group].o_z FROM         dbo.[group] INNER JOIN "
              "dbo.g_r_y ON dbo.[group].id_group = dbo.g_r_y.id_group INNER JOIN dbo.semester ON "
              "dbo.g_r_y.id_rate = dbo.semester.id_rate WHERE     (dbo.[group].id_faculty = 3) AND "
              "(dbo.g_r_y.id_a_year = 15)  AND (dbo.semester.id_w_s = 1) ORDER By [group]");
}

TEST(SelectionChainStatements, GroupStepStatementsAndEmptyKeys) {
    ChosenClass c = chosen();
    // No blank between ")" and "AND".
    EXPECT_EQ(statements::registeringSemester(c),
              "SELECT TOP 1 id_semester FROM dbo.semester INNER JOIN dbo.g_r_y ON "
              "dbo.semester.id_rate = dbo.g_r_y.id_rate WHERE (dbo.g_r_y.id_group = 88)AND "
              "(dbo.g_r_y.id_a_year = 15)AND (dbo.semester.id_w_s = 1)");
    EXPECT_EQ(statements::formOfStudy(88),
              "SELECT dbo.g_s.id_group, dbo.specialityV.p108 FROM dbo.specialityV INNER JOIN "
              "dbo.g_s ON dbo.specialityV.id_speciality = dbo.g_s.id_speciality WHERE  "
              "(dbo.g_s.id_group =88)");
    // A selector without a key leaves its place empty; the server refuses the statement.
    c.group.clear();
    EXPECT_EQ(statements::registeringSemester(c),
              "SELECT TOP 1 id_semester FROM dbo.semester INNER JOIN dbo.g_r_y ON "
              "dbo.semester.id_rate = dbo.g_r_y.id_rate WHERE (dbo.g_r_y.id_group = )AND "
              "(dbo.g_r_y.id_a_year = 15)AND (dbo.semester.id_w_s = 1)");
}

TEST(StudentListStatements, PlanNumberAndBothStudentProcedures) {
    const ChosenClass c = chosen();
    EXPECT_EQ(statements::planNumber(c),
              "Exec SP_GetDescGroupNumOfDiscipline @id_a_year =15,@id_w_s =1,@id_kafedra =7,"
              "@id_group =88,@id_discipline =501,@id_examination =4");
    // Without a plan: one blank after the comma before @kredits and @id_user, two elsewhere.
    EXPECT_EQ(statements::students(c, true, 9),
              " EXEC GET_KPV_Students  @id_group = 88,  @id_discipline = 501,  @id_a_year = 15,  "
              "@id_examination = 4,  @id_w_s = 2, @kredits = 5, @id_user=9");
    EXPECT_EQ(statements::students(c, false, -3),
              " EXEC GET_KPV_Students2  @id_group = 88,  @id_discipline = 501,  @id_a_year = 15,  "
              "@descGroupNum = 12,  @id_examination = 4,  @id_w_s = 2,  @kredits = 5,  "
              "@id_user=-3");
}

TEST(StreamsStatements, ListByKindOrBySemesterAndTheEditorsMove) {
    const ChosenClass c = chosen();
    const QString head =
        "SELECT g_f.id_faculty, dbo.DisciplineForStudent.id_student, "
        "dbo.DisciplineForStudent.id_disciplineForStudent,         "
        "(CAST(DisciplineForStudent.subGroup AS NVARCHAR(10)) + 'п (' + s_g.p20 + ') - '+ "
        "dbo.s_g.s_fio) AS [s_fio]  FROM  dbo.semester INNER JOIN        dbo.DisciplineForStudent "
        "ON dbo.semester.id_semester = dbo.DisciplineForStudent.id_ins_semester INNER JOIN        "
        "dbo.s_g ON dbo.DisciplineForStudent.id_student = dbo.s_g.id_student INNER JOIN        "
        "dbo.g_f ON dbo.s_g.id_group = dbo.g_f.id_group   WHERE "
        "(dbo.DisciplineForStudent.id_ins_year = 15) AND         "
        "(dbo.DisciplineForStudent.id_discipline = 501) AND         "
        "(dbo.DisciplineForStudent.id_examination = 4) AND         "
        "(dbo.DisciplineForStudent.kredits = 5) AND ";
    const QString tail =
        "        (dbo.DisciplineForStudent.id_teacher = 42) GROUP BY "
        "DisciplineForStudent.subGroup, dbo.s_g.p20,  dbo.s_g.s_fio, g_f.id_faculty, "
        "dbo.DisciplineForStudent.id_student, dbo.DisciplineForStudent.id_disciplineForStudent,"
        "         (CAST(DisciplineForStudent.subGroup AS NVARCHAR(10)) + 'п (' + s_g.p20 + ') - "
        "'+ dbo.s_g.s_fio)  ORDER BY DisciplineForStudent.subGroup,dbo.s_g.p20,  dbo.s_g.s_fio";
    EXPECT_EQ(statements::streams(c, statements::termByKind(QStringLiteral("3"))),
              head + "        (dbo.semester.id_w_s = 3) AND " + tail);
    EXPECT_EQ(statements::streams(c, statements::termBySemester(c.insSemesterId)),
              head + "        (dbo.DisciplineForStudent.id_ins_semester = 31) AND " + tail);
    EXPECT_EQ(statements::moveInEditor(QStringLiteral("2"), QStringLiteral("43"), 1234),
              "UPDATE DisciplineForStudent SET subGroup = 2,  id_teacher = 43 WHERE "
              "(id_disciplineForStudent = 1234)");
}

TEST(RegisteringStatements, DeadlineLookupsCreditsAndInsert) {
    const ChosenClass c = chosen();
    EXPECT_EQ(statements::registrationDeadline(15, 1, 88),
              "Select id_a_year, id_w_s, id_f_educ, endDate, id_group FROM  dbo.V_Date_reg_DFS "
              "GROUP BY id_a_year, id_w_s, id_f_educ, endDate, id_group HAVING (id_a_year =15) "
              "AND (id_w_s =1) AND (id_group = 88)");
    EXPECT_EQ(statements::lessonKind(c),
              "SELECT subgroup,id_rrnkKrdt,id_vid_zaniatiy,id_ebe_var FROM dbo.RRNKkrdt WHERE "
              "(id_w_s =         2) AND   (id_discipline =  501) AND   (id_teacher =     42) AND   "
              "(id_a_year =      15) AND   (id_kafedra =     7) AND   (id_examination = 4) AND   "
              "(subgroup =       6) AND   (id_vid_zaniatiy is not NULL) ORDER BY subgroup");
    EXPECT_EQ(statements::streamFaculty(c),
              "SELECT id_faculty  FROM  dbo.RRNK_krdt_kolst WHERE (id_a_year = 15) AND (id_w_s = "
              "2) AND (id_kafedra = 7) AND (id_teacher = 42) AND (id_discipline = 501) AND "
              "(id_examination = 4) AND (subgroup = 6)");
    EXPECT_EQ(statements::creditSum(1001, c),
              "SELECT  Sum([kredits]) as Sumkredits FROM [QTL].[dbo].[DisciplineForStudent] where "
              "id_student=1001 and id_semester=31 and id_group=88 and id_a_year=15");
    // The year and the registering semester each stand twice; the login's quote is doubled.
    EXPECT_EQ(statements::registration(1001, c, QStringLiteral("o'neil"), QStringLiteral("3"), QStringLiteral("1")),
              "INSERT INTO DisciplineForStudent  (id_student, descGroupNum, id_discipline, "
              "id_a_year, id_semester, id_ins_year, id_ins_semester, id_teacher, id_group,  "
              "id_examination, subGroup, QTL_user, id_faculty, id_kafedra, kredits, isByPlan, "
              "id_vid_zaniatiy) VALUES(1001, 12, 501,15,31,15,31,42,88,4,6, 'o''neil',3,7,5,1,1)");
    // Lookups that found no row leave their places empty.
    EXPECT_TRUE(statements::registration(1001, c, QStringLiteral("op"), QString(), QString())
                    .endsWith(QStringLiteral(", 'op',,7,5,1,)")));
}

TEST(RemovalStatements, DeleteAndTheTwelveAuditPairs) {
    EXPECT_EQ(statements::removal(1234), "DELETE FROM DisciplineForStudent WHERE (id_disciplineForStudent = 1234)");
    // The pairs describe the window's selection (the selector's kind of term, not the row's),
    // then the deleted row's own keys.
    EXPECT_EQ(TDM_MB::DescribePairs(statements::removalAudit(chosen(), 1001, 1234)),
              "id_faculty[3], id_a_year[15], id_kafedra[7], id_teacher[42], id_w_s[1], "
              "id_discipline[501], Krdt[5], id_examination[4], id_group[88], subgroup[6], "
              "id_student[1001], id_disciplineForStudent[1234]");
}

TEST(TransferFrameStatements, RegistrationTeachersApplyAndCopy) {
    EXPECT_EQ(statements::studentRegistration(1001, 31, 15, 501, 88, -1, QStringLiteral("5")),
              "EXEC GetKPVStudentInfo   @id_student = 1001 ,@id_semester = 31 ,@id_a_year = 15 "
              ",@id_discipline = 501 ,@id_group =  88 ,@descGroupNum =  -1 ,@kredits =  5");
    EXPECT_EQ(statements::frameTeachers(QStringLiteral("7")),
              "SELECT id_teacher, t_fio FROM dbo.GetTFIO_with_pps(4, 7)");

    ShownRegistration shown;
    shown.studentId = 1001;
    shown.insYearId = 14;
    shown.examinationId = 9;
    shown.insSemesterId = 30;
    shown.disciplineId = 502;
    EXPECT_EQ(statements::moveRegistration(QStringLiteral("43"), QStringLiteral("2"), QStringLiteral("16"),
                                           QStringLiteral("33"), shown, QStringLiteral("12")),
              "UPDATE DisciplineForStudent SET id_teacher = 43, subGroup = 2, id_a_year = 16, "
              "id_semester = 33 WHERE   id_student = 1001 AND id_ins_year = 14 AND "
              "id_examination = 9 AND id_ins_semester = 30 AND descGroupNum = 12 AND "
              "id_discipline = 502");

    const QString copyHead =
        "UPDATE DisciplineForStudent SET id_teacher = 42, subGroup = 6, id_semester = 31, "
        "id_discipline = 501, id_a_year = 15, id_examination = 4, descGroupNum = 12, "
        "id_ins_year = 15, kredits = 5, id_ins_semester = 31 WHERE   id_student = 1001 AND "
        "id_ins_year = 14 AND id_ins_semester = 30 AND descGroupNum = 12";
    // No condition on the form of control; the discipline of the registration found decides.
    EXPECT_EQ(statements::copyRegistration(chosen(), shown), copyHead + " AND id_discipline = 502");
    // When no registration was found, only the chosen discipline's row may be rewritten, never
    // every registration of the student in that year and semester.
    shown.disciplineId = 0;
    EXPECT_EQ(statements::copyRegistration(chosen(), shown), copyHead + " AND id_discipline = 501");
}

TEST(CreditRule, LimitPlusFiveIsTheHighestTotalForFormsZeroAndOne) {
    // A limit of 30: 30 held and 5 more make 35, which is allowed; 6 more are not.
    EXPECT_FALSE(checkCredits(30, QStringLiteral("5"), 0, 30, 99).overLimit);
    const CreditVerdict over = checkCredits(30, QStringLiteral("6"), 0, 30, 99);
    EXPECT_TRUE(over.overLimit);
    EXPECT_EQ(over.held, 30);
    EXPECT_EQ(over.credits, 6);
    EXPECT_EQ(over.limit, 35);
    // Form 1 has its own limit.
    EXPECT_FALSE(checkCredits(30, QStringLiteral("6"), 1, 10, 31).overLimit);
    EXPECT_TRUE(checkCredits(31, QStringLiteral("6"), 1, 99, 31).overLimit);
    EXPECT_FALSE(checkCredits(0, QStringLiteral("5"), 1, 0, 0).overLimit);
}

TEST(CreditRule, OtherFormsAreNeverLimitedAndHugeValuesDoNotOverflow) {
    const CreditVerdict free = checkCredits(1000, QStringLiteral("not a number"), 2, 0, 0);
    EXPECT_FALSE(free.overLimit);  // the credits are not even read
    EXPECT_FALSE(checkCredits(0, QString(), -1, 0, 0).overLimit);
    // The credits must be a number where a limit applies.
    EXPECT_THROW(checkCredits(0, QStringLiteral("5.5"), 0, 30, 30), ConversionError);
    EXPECT_THROW(checkCredits(0, QString(), 1, 30, 30), ConversionError);
    // An int limit near its maximum plus 5 does not wrap round to a negative limit.
    EXPECT_FALSE(checkCredits(2147483647LL, QStringLiteral("5"), 0, 2147483647, 0).overLimit);
    EXPECT_TRUE(checkCredits(2147483647LL, QStringLiteral("6"), 0, 2147483647, 0).overLimit);
}

TEST(RefusalNotice, LinesBetweenQuotesCommasThenAFullStop) {
    EXPECT_EQ(refusalNotice({QStringLiteral("B")}),
              QStringLiteral("Вы не имеете право удалять данных студентов:\r\"B\".\r\n"));
    // Two refused lines, the lower one B first: B ends in a comma, A in a full stop.
    EXPECT_EQ(refusalNotice({QStringLiteral("1п (ИС-21) - Борисов"), QStringLiteral("A")}),
              QStringLiteral("Вы не имеете право удалять данных студентов:\r"
                             "\"1п (ИС-21) - Борисов\",\r\n\"A\".\r\n"));
}
