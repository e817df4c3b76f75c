// Every statement text of the workstation, byte for byte, one row a statement. Every value of the
// chosen class differs from the others, so a value written into the wrong place shows; texts
// built from lines are compared as the server receives them, each line ended by CR LF.
#include "statements/Statements.h"

#include "chosen_class_example.h"
#include "util/errors.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

using namespace qtl;

namespace {

ChosenClass chosen() {
    return qtltest::exampleChosenClass();
}

ShownRegistration shownRegistration(int disciplineId) {
    ShownRegistration shown;
    shown.studentId = 1001;
    shown.insYearId = 14;
    shown.examinationId = 9;
    shown.insSemesterId = 30;
    shown.disciplineId = disciplineId;
    return shown;
}

QString sent(const QStringList& lines) {
    QString text;
    for (const QString& line : lines) text += line + QStringLiteral("\r\n");
    return text;
}

QString md5(const char* text) {
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex().toUpper());
}

struct Case {
    const char* name;
    QString built;
    QString expected;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

const QString kStreamsHead = QStringLiteral(
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
    "(dbo.DisciplineForStudent.kredits = 5) AND ");
const QString kStreamsTail = QStringLiteral(
    "        (dbo.DisciplineForStudent.id_teacher = 42) GROUP BY "
    "DisciplineForStudent.subGroup, dbo.s_g.p20,  dbo.s_g.s_fio, g_f.id_faculty, "
    "dbo.DisciplineForStudent.id_student, dbo.DisciplineForStudent.id_disciplineForStudent,"
    "         (CAST(DisciplineForStudent.subGroup AS NVARCHAR(10)) + 'п (' + s_g.p20 + ') - "
    "'+ dbo.s_g.s_fio)  ORDER BY DisciplineForStudent.subGroup,dbo.s_g.p20,  dbo.s_g.s_fio");
const QString kCopyHead = QStringLiteral(
    "UPDATE DisciplineForStudent SET id_teacher = 42, subGroup = 6, id_semester = 31, "
    "id_discipline = 501, id_a_year = 15, id_examination = 4, descGroupNum = 12, "
    "id_ins_year = 15, kredits = 5, id_ins_semester = 31 WHERE   id_student = 1001 AND "
    "id_ins_year = 14 AND id_ins_semester = 30 AND descGroupNum = 12");
const QString kDeletion = QStringLiteral("DELETE FROM DisciplineForStudent WHERE (id_disciplineForStudent = 1234)");
const QString kAuditInsert = QStringLiteral(
    "INSERT INTO QTL_LOG([table], [row_id], [descr], [QTL_User], [comp]) "
    "VALUES('DisciplineForStudent', 1234, 'Запись с уникальным номером - "
    "''1234'' была удалена - (id_student[15], "
    "id_disciplineForStudent[1234]).', 'operator', 'PC7\\10.0.0.5')");

std::vector<Case> sessionCases() {
    return {
        {"SignInQuotesDoubled", statements::signIn("o'neil", "secret", "NULL", "10.0.0.5", "PC'1"),
         "EXEC GET_USER 'o''neil','" + md5("secret") + "',NULL, 'QTL 33', '10.0.0.5', 'PC''1', 'o''neil','0','4'"},
        // The last argument is the length of the new password's argument, quotes included.
        {"SignInWithNewPassword", statements::signIn("op", "secret", "newpass1", "10.0.0.5", "pc"),
         "EXEC GET_USER 'op','" + md5("secret") + "','" + md5("newpass1") +
             "', 'QTL 33', '10.0.0.5', 'pc', 'op','0','34'"},
        {"DateFormat", statements::dateFormat(), "SET DATEFORMAT dmy"},
        // No blank before "Order".
        {"Faculties", statements::faculties(7),
         "SELECT faculty.id_faculty, faculty.[p23-2] AS [faculty] FROM  faculty INNER JOIN user_faculty ON "
         "faculty.id_faculty = user_faculty.faculty WHERE user_faculty.id_login = 7Order by [p23-2]"},
        {"CreditLimitOz0", statements::creditLimitOz0(),
         "SELECT [id_field]  FROM [QTL].[dbo].[VuzDefaults]  WHERE id_vuz_defaults=26"},
        {"CreditLimitOz1", statements::creditLimitOz1(),
         "SELECT [id_field]  FROM [QTL].[dbo].[VuzDefaults] WHERE id_vuz_defaults=27"},
        {"AllTermKinds", statements::allTermKinds(), "SELECT * FROM w_s"},
        {"DepartmentsOfYear", sent(statements::departmentsOfYear()),
         "SELECT     dbo.kafedra.f1 AS kafedra, dbo.kafedra.id_kafedra, dbo.RRNKkrdt.id_a_year\r\n"
         "FROM         dbo.kafedra INNER JOIN\r\n"
         "                      dbo.RRNKkrdt ON dbo.kafedra.id_kafedra = dbo.RRNKkrdt.id_kafedra\r\n"
         "GROUP BY dbo.kafedra.f1, dbo.kafedra.id_kafedra, dbo.RRNKkrdt.id_a_year\r\n"
         "HAVING      (dbo.RRNKkrdt.id_a_year = :id_a_year)\r\nORDER BY kafedra\r\n"},
        {"Years", sent(statements::years()),
         "SELECT DISTINCT [id_a_year], [year]\r\n  FROM VSelForKPV\r\nwhere id_a_year>10\r\nORDER BY [year]\r\n"},
        {"RegistrationYears", sent(statements::registrationYears()),
         "SELECT DISTINCT educ_sh.id_a_year, a_year.p32\r\n  FROM educ_sh, a_year\r\nWHERE educ_sh.id_a_year = "
         "a_year.id_a_year\r\nORDER BY a_year.p32\r\n"},
        {"SemestersOfGroup", sent(statements::semestersOfGroup()),
         "select id_semester, p43 as semester , id_w_s\r\nFROM semester\r\nwhere id_w_s = 3\r\nunion \r\n"
         "SELECT Semester.id_semester, Semester.p43 as semester, Semester.id_w_s\r\nFROM Semester, g_r_y\r\n"
         "WHERE Semester.id_rate = g_r_y.id_rate AND\r\n      g_r_y.id_a_year=:id_a_year AND\r\n"
         "      g_r_y.id_group=:id_group\r\nORDER BY p43\r\n"},
        {"NamedStreams", sent(statements::namedStreams()),
         "SELECT DISTINCT subgroup,cast(subgroup as varchar) +' - ['+dop_potokname+']' as subgroupAndName\r\n"
         " FROM dbo.RRNKkrdt LEFT OUTER JOIN\r\n"
         "                      dbo.educ_sh ON dbo.RRNKkrdt.id_a_year = dbo.educ_sh.id_a_year AND "
         "dbo.RRNKkrdt.id_discipline = dbo.educ_sh.id_discipline AND \r\n"
         "                      dbo.RRNKkrdt.id_kafedra = dbo.educ_sh.id_kafedra\r\n"
         " WHERE RRNKkrdt.id_a_year=:id_a_year AND\r\n       RRNKkrdt.id_kafedra=:id_kafedra AND\r\n"
         "       RRNKkrdt.id_teacher=:id_teacher AND\r\n       RRNKkrdt.id_discipline=:id_discipline AND\r\n"
         "       RRNKkrdt.id_examination=:id_examination AND\r\n       RRNKkrdt.kredit=:kredit AND\r\n"
         "       RRNKkrdt.id_w_s=:id_w_s AND\r\n       RRNKkrdt.prov_reyt>0 AND\r\n       (\r\n"
         "          ((RRNKkrdt.id_vid_zaniatiy = 1) ) OR\r\n"
         "          ((RRNKkrdt.id_vid_zaniatiy = 2) AND (educ_sh.p53 > 0)) OR\r\n"
         "          ((RRNKkrdt.id_vid_zaniatiy = 3) AND (educ_sh.p52 > 0)) OR\r\n"
         "          ((RRNKkrdt.id_vid_zaniatiy = 4) AND (educ_sh.srs > 0))   OR\r\n"
         "          (RRNKkrdt.id_vid_zaniatiy = 5) OR\r\n          (RRNKkrdt.id_vid_zaniatiy = 6)\r\n       )\r\n"},
        {"StreamNumbers", sent(statements::streamNumbers()),
         "SELECT DISTINCT subgroup\r\n  FROM dbo.RRNKkrdt\r\n WHERE id_a_year=:id_a_year AND\r\n"
         "       id_kafedra=:id_kafedra AND\r\n       id_teacher=:id_teacher AND\r\n"
         "       id_discipline=:id_discipline AND\r\n       id_examination=:id_examination AND\r\n"
         "       id_o_z=:id_o_z AND\r\n       id_w_s=:id_w_s\r\n"},
    };
}

std::vector<Case> mainWindowCases() {
    const ChosenClass c = chosen();
    ChosenClass noGroup = c;
    noGroup.group.clear();
    return {
        {"RemovalRight", statements::removalRight(QStringLiteral("o'k")),
         "SELECT TOP (1) id_QTL_user, visible, QTL_login, canRemoveDFSFromExStudent FROM QTL_User WHERE "
         "(canRemoveDFSFromExStudent = 1)  AND (QTL_login ='o''k')"},
        {"Teachers", statements::teachers(c),
         " SELECT DISTINCT dbo.teacher.id_teacher, dbo.t_fio.t_fio  FROM         dbo.RRNKkrdt "
         "INNER JOIN  dbo.teacher ON dbo.RRNKkrdt.id_teacher = dbo.teacher.id_teacher INNER "
         "JOIN  dbo.t_fio ON dbo.teacher.id_teacher = dbo.t_fio.id_teacher  WHERE     "
         "(dbo.RRNKkrdt.id_a_year = 15) AND (dbo.RRNKkrdt.id_kafedra = 7)  AND prov_reyt>0 "
         "ORDER BY dbo.t_fio.t_fio"},
        {"TermKinds", statements::termKinds(),
         "SELECT [id_w_s],[p42],[ws_sort] FROM [QTL].[dbo].[w_s] ORDER BY [ws_sort]"},
        {"Disciplines", statements::disciplines(c),
         "EXEC SP_Qtl33GetDisciplines @id_a_year =15,@id_w_s =1,@id_kafedra =7,@id_teacher =42"},
        // The form-of-control list takes the kind of term from the chosen row, not the selector.
        {"Examinations", statements::examinations(c),
         " SELECT DISTINCT dbo.RRNKkrdt.id_examination, examination.[p30] as examination  "
         "FROM dbo.RRNKkrdt INNER JOIN examination  ON "
         "dbo.RRNKkrdt.id_examination=examination.id_examination  WHERE id_kafedra=7 AND "
         "id_a_year=15 AND id_teacher =42 AND id_discipline =501 AND id_w_s =2 AND "
         "prov_reyt>0  AND ( (id_vid_zaniatiy is not NULL) or (id_vid_zaniatiy in (5,6)) )"},
        {"GroupsOfTheYear", statements::groups(c, true),
         " SELECT     dbo.g_r_y.id_a_year, dbo.[group].id_faculty, dbo.[group].id_group, "
         "dbo.[group].p20 as [group], dbo.[group].o_z, -1 as  descGroupNum FROM         "
         "dbo.g_r_y INNER JOIN  dbo.[group] ON dbo.g_r_y.id_group = dbo.[group].id_group  "
         "WHERE     dbo.g_r_y.id_a_year =15 AND dbo.[group].id_faculty =3 ORDER By [group]"},
        {"GroupsOfTheKind", statements::groups(c, false),
         "SELECT   dbo.[group].id_group,  dbo.[group].id_faculty, "
         "dbo.g_r_y.id_a_year,dbo.semester.id_semester, dbo.semester.id_w_s, "
         "dbo.[group].p20 as [group],dbo.[group].o_z FROM         dbo.[group] INNER JOIN "
         "dbo.g_r_y ON dbo.[group].id_group = dbo.g_r_y.id_group INNER JOIN dbo.semester ON "
         "dbo.g_r_y.id_rate = dbo.semester.id_rate WHERE     (dbo.[group].id_faculty = 3) AND "
         "(dbo.g_r_y.id_a_year = 15)  AND (dbo.semester.id_w_s = 1) ORDER By [group]"},
        // No blank between ")" and "AND".
        {"RegisteringSemester", statements::registeringSemester(c),
         "SELECT TOP 1 id_semester FROM dbo.semester INNER JOIN dbo.g_r_y ON "
         "dbo.semester.id_rate = dbo.g_r_y.id_rate WHERE (dbo.g_r_y.id_group = 88)AND "
         "(dbo.g_r_y.id_a_year = 15)AND (dbo.semester.id_w_s = 1)"},
        // A selector without a key leaves its place empty; the server refuses the statement.
        {"RegisteringSemesterWithoutGroup", statements::registeringSemester(noGroup),
         "SELECT TOP 1 id_semester FROM dbo.semester INNER JOIN dbo.g_r_y ON "
         "dbo.semester.id_rate = dbo.g_r_y.id_rate WHERE (dbo.g_r_y.id_group = )AND "
         "(dbo.g_r_y.id_a_year = 15)AND (dbo.semester.id_w_s = 1)"},
        {"FormOfStudy", statements::formOfStudy(88),
         "SELECT dbo.g_s.id_group, dbo.specialityV.p108 FROM dbo.specialityV INNER JOIN "
         "dbo.g_s ON dbo.specialityV.id_speciality = dbo.g_s.id_speciality WHERE  "
         "(dbo.g_s.id_group =88)"},
        {"PlanNumber", statements::planNumber(c),
         "Exec SP_GetDescGroupNumOfDiscipline @id_a_year =15,@id_w_s =1,@id_kafedra =7,"
         "@id_group =88,@id_discipline =501,@id_examination =4"},
        // Without a plan: one blank after the comma before @kredits and @id_user, two elsewhere.
        {"StudentsWithoutPlan", statements::students(c, true, 9),
         " EXEC GET_KPV_Students  @id_group = 88,  @id_discipline = 501,  @id_a_year = 15,  "
         "@id_examination = 4,  @id_w_s = 2, @kredits = 5, @id_user=9"},
        {"StudentsByPlan", statements::students(c, false, -3),
         " EXEC GET_KPV_Students2  @id_group = 88,  @id_discipline = 501,  @id_a_year = 15,  "
         "@descGroupNum = 12,  @id_examination = 4,  @id_w_s = 2,  @kredits = 5,  @id_user=-3"},
        {"StreamsByKind", statements::streams(c, statements::termByKind(QStringLiteral("3"))),
         kStreamsHead + "        (dbo.semester.id_w_s = 3) AND " + kStreamsTail},
        {"StreamsBySemester", statements::streams(c, statements::termBySemester(c.insSemesterId)),
         kStreamsHead + "        (dbo.DisciplineForStudent.id_ins_semester = 31) AND " + kStreamsTail},
        {"MoveInEditor", statements::moveInEditor(QStringLiteral("2"), QStringLiteral("43"), 1234),
         "UPDATE DisciplineForStudent SET subGroup = 2,  id_teacher = 43 WHERE (id_disciplineForStudent = 1234)"},
        {"RegistrationDeadline", statements::registrationDeadline(15, 1, 88),
         "Select id_a_year, id_w_s, id_f_educ, endDate, id_group FROM  dbo.V_Date_reg_DFS "
         "GROUP BY id_a_year, id_w_s, id_f_educ, endDate, id_group HAVING (id_a_year =15) "
         "AND (id_w_s =1) AND (id_group = 88)"},
        {"LessonKind", statements::lessonKind(c),
         "SELECT subgroup,id_rrnkKrdt,id_vid_zaniatiy,id_ebe_var FROM dbo.RRNKkrdt WHERE "
         "(id_w_s =         2) AND   (id_discipline =  501) AND   (id_teacher =     42) AND   "
         "(id_a_year =      15) AND   (id_kafedra =     7) AND   (id_examination = 4) AND   "
         "(subgroup =       6) AND   (id_vid_zaniatiy is not NULL) ORDER BY subgroup"},
        {"StreamFaculty", statements::streamFaculty(c),
         "SELECT id_faculty  FROM  dbo.RRNK_krdt_kolst WHERE (id_a_year = 15) AND (id_w_s = "
         "2) AND (id_kafedra = 7) AND (id_teacher = 42) AND (id_discipline = 501) AND "
         "(id_examination = 4) AND (subgroup = 6)"},
        {"CreditSum", statements::creditSum(1001, c),
         "SELECT  Sum([kredits]) as Sumkredits FROM [QTL].[dbo].[DisciplineForStudent] where "
         "id_student=1001 and id_semester=31 and id_group=88 and id_a_year=15"},
        // The year and the registering semester each stand twice; the login's quote is doubled.
        {"Registration",
         statements::registration(1001, c, QStringLiteral("o'neil"), QStringLiteral("3"), QStringLiteral("1")),
         "INSERT INTO DisciplineForStudent  (id_student, descGroupNum, id_discipline, "
         "id_a_year, id_semester, id_ins_year, id_ins_semester, id_teacher, id_group,  "
         "id_examination, subGroup, QTL_user, id_faculty, id_kafedra, kredits, isByPlan, "
         "id_vid_zaniatiy) VALUES(1001, 12, 501,15,31,15,31,42,88,4,6, 'o''neil',3,7,5,1,1)"},
        // Lookups that found no row leave their places empty.
        {"RegistrationWithoutStreamFacts",
         statements::registration(1001, c, QStringLiteral("op"), QString(), QString()),
         "INSERT INTO DisciplineForStudent  (id_student, descGroupNum, id_discipline, "
         "id_a_year, id_semester, id_ins_year, id_ins_semester, id_teacher, id_group,  "
         "id_examination, subGroup, QTL_user, id_faculty, id_kafedra, kredits, isByPlan, "
         "id_vid_zaniatiy) VALUES(1001, 12, 501,15,31,15,31,42,88,4,6, 'op',,7,5,1,)"},
        {"Removal", statements::removal(1234), kDeletion},
    };
}

std::vector<Case> windowCases() {
    return {
        {"StudentRegistration", statements::studentRegistration(1001, 31, 15, 501, 88, -1, QStringLiteral("5")),
         "EXEC GetKPVStudentInfo   @id_student = 1001 ,@id_semester = 31 ,@id_a_year = 15 "
         ",@id_discipline = 501 ,@id_group =  88 ,@descGroupNum =  -1 ,@kredits =  5"},
        {"FrameTeachers", statements::frameTeachers(QStringLiteral("7")),
         "SELECT id_teacher, t_fio FROM dbo.GetTFIO_with_pps(4, 7)"},
        {"MoveRegistration",
         statements::moveRegistration(QStringLiteral("43"), QStringLiteral("2"), QStringLiteral("16"),
                                      QStringLiteral("33"), shownRegistration(502), QStringLiteral("12")),
         "UPDATE DisciplineForStudent SET id_teacher = 43, subGroup = 2, id_a_year = 16, "
         "id_semester = 33 WHERE   id_student = 1001 AND id_ins_year = 14 AND "
         "id_examination = 9 AND id_ins_semester = 30 AND descGroupNum = 12 AND "
         "id_discipline = 502"},
        // No condition on the form of control; the discipline of the registration found decides.
        {"CopyRegistrationFound", statements::copyRegistration(chosen(), shownRegistration(502)),
         kCopyHead + " AND id_discipline = 502"},
        // When no registration was found, only the chosen discipline's row may be rewritten, never
        // every registration of the student in that year and semester.
        {"CopyRegistrationNoneFound", statements::copyRegistration(chosen(), shownRegistration(0)),
         kCopyHead + " AND id_discipline = 501"},
        {"StudentSearch", statements::studentSearch(QStringLiteral("д'"), QStringLiteral("o'k")),
         "SELECT TOP (100) dbo.s_fio.id_student, dbo.s_fio.s_fio, dbo.[group].id_group, dbo.[group].p20, "
         "dbo.[group].id_faculty, T_user_fak.QTL_login FROM dbo.s_fio INNER JOIN dbo.movement_t ON "
         "dbo.s_fio.id_student = dbo.movement_t.id_student INNER JOIN dbo.[group] ON dbo.movement_t.id_group = "
         "dbo.[group].id_group INNER JOIN (SELECT dbo.QTL_User.id_QTL_user, dbo.QTL_User.QTL_login, "
         "dbo.user_faculty.faculty FROM dbo.QTL_User INNER JOIN dbo.user_faculty ON dbo.QTL_User.id_QTL_user = "
         "dbo.user_faculty.id_login WHERE (dbo.QTL_User.visible = 1)) AS T_user_fak ON dbo.[group].id_faculty = "
         "T_user_fak.faculty GROUP BY dbo.s_fio.id_student, dbo.s_fio.s_fio, dbo.[group].id_group, "
         "dbo.[group].p20, dbo.[group].id_faculty, T_user_fak.QTL_login HAVING (dbo.s_fio.s_fio LIKE '%д''%') "
         "AND (T_user_fak.QTL_login ='o''k') ORDER BY dbo.s_fio.s_fio"},
        {"RegistrationsOf", statements::registrationsOf(QStringLiteral("1001")),
         "SELECT   dbo.DisciplineForStudent.id_disciplineForStudent, dbo.DisciplineForStudent.id_student, "
         "dbo.DisciplineForStudent.id_semester, dbo.semester.p43, dbo.DisciplineForStudent.id_discipline, "
         "dbo.discipline.p34, dbo.DisciplineForStudent.kredits, dbo.DisciplineForStudent.subgroup, "
         "dbo.DisciplineForStudent.id_examination, dbo.examination.p30, dbo.DisciplineForStudent.id_teacher, "
         "dbo.t_fio.s_t_fio FROM dbo.DisciplineForStudent INNER JOIN dbo.semester ON "
         "dbo.DisciplineForStudent.id_semester = dbo.semester.id_semester INNER JOIN dbo.discipline ON "
         "dbo.DisciplineForStudent.id_discipline = dbo.discipline.id_discipline INNER JOIN dbo.examination "
         "ON dbo.DisciplineForStudent.id_examination = dbo.examination.id_examination INNER JOIN dbo.t_fio "
         "ON dbo.DisciplineForStudent.id_teacher = dbo.t_fio.id_teacher WHERE "
         "dbo.DisciplineForStudent.id_student =1001 ORDER BY dbo.DisciplineForStudent.id_semester, "
         "dbo.discipline.p34"},
        {"RegistrationRow", statements::registrationRow(QStringLiteral("77")),
         "SELECT TOP (1) id_disciplineForStudent FROM dbo.DisciplineForStudent WHERE id_disciplineForStudent =77"},
    };
}

std::vector<Case> batchCases() {
    const QStringList deletion = statements::auditedDeletion(
        kDeletion, QStringLiteral("id_student[15], id_disciplineForStudent[1234]"),
        QStringLiteral("DisciplineForStudent"), 1234, QStringLiteral("operator"), QStringLiteral("PC7\\10.0.0.5"));
    return {
        {"AuditRecord",
         statements::auditRecord(QStringLiteral("id_student[15], id_disciplineForStudent[1234]"),
                                 QStringLiteral("DisciplineForStudent"), QStringLiteral("1234"),
                                 QStringLiteral("operator"), QStringLiteral("PC7\\10.0.0.5")),
         kAuditInsert},
        {"AuditRecordEmptyDescriptionQuotesDoubled",
         statements::auditRecord(QString(), QStringLiteral("Disc'x"), QStringLiteral("7"), QStringLiteral("o'neil"),
                                 QStringLiteral("PC'1\\127.0.0.1")),
         "INSERT INTO QTL_LOG([table], [row_id], [descr], [QTL_User], [comp]) VALUES('Disc''x', 7, 'Запись с "
         "уникальным номером - ''7'' была удалена - ().', 'o''neil', 'PC''1\\127.0.0.1')"},
        // The deletion first, then its audit row.
        {"AuditedDeletion", sent(deletion), kDeletion + "\r\n" + kAuditInsert + "\r\n"},
        // Both or neither: XACT_ABORT on around one transaction, and off again.
        {"AtomicBatch", sent(statements::atomicBatch(deletion)),
         "SET XACT_ABORT ON\r\nBEGIN TRAN\r\n" + kDeletion + "\r\n" + kAuditInsert +
             "\r\nCOMMIT TRAN\r\nSET XACT_ABORT OFF\r\n"},
        // After a failed batch, a transaction it left open is rolled back.
        {"EndTransaction", sent(statements::endTransaction()),
         "IF @@TRANCOUNT > 0 ROLLBACK TRAN\r\nSET XACT_ABORT OFF\r\n"},
        {"DeleteRow",
         statements::deleteRow(QStringLiteral("DisciplineForStudent"), QStringLiteral("id_disciplineForStudent"),
                               QStringLiteral("77")),
         "DELETE FROM DisciplineForStudent WHERE id_disciplineForStudent = 77"},
    };
}

std::string caseName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

class StatementText : public testing::TestWithParam<Case> {};

TEST_P(StatementText, IsTheTextTheServerReceives) {
    EXPECT_EQ(GetParam().built, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Session, StatementText, testing::ValuesIn(sessionCases()), caseName);
INSTANTIATE_TEST_SUITE_P(MainWindow, StatementText, testing::ValuesIn(mainWindowCases()), caseName);
INSTANTIATE_TEST_SUITE_P(Windows, StatementText, testing::ValuesIn(windowCases()), caseName);
INSTANTIATE_TEST_SUITE_P(Batches, StatementText, testing::ValuesIn(batchCases()), caseName);

}  // namespace

// The audit pairs describe the window's selection (the selector's kind of term, not the row's),
// then the deleted row's own keys, in this order.
TEST(RemovalAudit, TheTwelvePairsInOrder) {
    QStringList pairs;
    for (const TKeyValue& p : statements::removalAudit(chosen(), 1001, 1234)) pairs << p.Key + '[' + p.Value + ']';
    EXPECT_EQ(pairs.join(QStringLiteral(", ")),
              "id_faculty[3], id_a_year[15], id_kafedra[7], id_teacher[42], id_w_s[1], "
              "id_discipline[501], Krdt[5], id_examination[4], id_group[88], subgroup[6], "
              "id_student[1001], id_disciplineForStudent[1234]");
}

namespace {

struct NumberCase {
    const char* name;
    int (ChosenClass::*number)() const;
    QString ChosenClass::*key;
    int expected;  // the key's value in chosen()
};

void PrintTo(const NumberCase& c, std::ostream* out) {
    *out << c.name;
}

class ChosenClassNumber : public testing::TestWithParam<NumberCase> {};

// Each number is its own key's, and an empty key throws when the number is asked for.
TEST_P(ChosenClassNumber, IsItsOwnKeyConvertedStrictly) {
    const NumberCase& n = GetParam();
    ChosenClass c = chosen();
    EXPECT_EQ((c.*n.number)(), n.expected);
    c.*n.key = QString();
    EXPECT_THROW((c.*n.number)(), ConversionError);
    c.*n.key = QStringLiteral("-1");
    EXPECT_EQ((c.*n.number)(), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ChosenClassNumber,
    testing::Values(NumberCase{"Year", &ChosenClass::yearNumber, &ChosenClass::year, 15},
                    NumberCase{"TermKind", &ChosenClass::termKindNumber, &ChosenClass::termKind, 1},
                    NumberCase{"Examination", &ChosenClass::examinationNumber, &ChosenClass::examination, 4},
                    NumberCase{"Group", &ChosenClass::groupNumber, &ChosenClass::group, 88},
                    NumberCase{"InsSemester", &ChosenClass::insSemesterNumber, &ChosenClass::insSemesterId, 31},
                    NumberCase{"DescGroupNum", &ChosenClass::descGroupNumber, &ChosenClass::descGroupNum, 12}),
    [](const testing::TestParamInfo<NumberCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

class ChosenClassCompleteness : public testing::TestWithParam<QString ChosenClass::*> {};

// Any one key of the class down to the group missing makes it incomplete.
TEST_P(ChosenClassCompleteness, EachKeyDownToTheGroupIsNeeded) {
    ChosenClass c = chosen();
    EXPECT_TRUE(c.isComplete());
    c.*GetParam() = QString();
    EXPECT_FALSE(c.isComplete());
}

INSTANTIATE_TEST_SUITE_P(Keys, ChosenClassCompleteness,
                         testing::Values(&ChosenClass::faculty, &ChosenClass::year, &ChosenClass::department,
                                         &ChosenClass::teacher, &ChosenClass::termKind, &ChosenClass::termKindRow,
                                         &ChosenClass::discipline, &ChosenClass::credits, &ChosenClass::examination,
                                         &ChosenClass::group));

}  // namespace

// The stream, the registering semester and the plan number are not part of it.
TEST(ChosenClassCompleteness, WithoutTheStreamSemesterAndPlanNumber) {
    ChosenClass c = chosen();
    c.stream.clear();
    c.insSemesterId.clear();
    c.descGroupNum.clear();
    c.isByPlan.clear();
    EXPECT_TRUE(c.isComplete());
}
