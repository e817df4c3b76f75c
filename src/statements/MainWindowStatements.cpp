// The main window's statements: the rights check, the selection chain, the two lists, the class
// list, the stream editor, registering and removing.
#include "statements/Statements.h"

#include "util/util.h"

namespace qtl {
namespace statements {

QString removalRight(const QString& login) {
    return QStringLiteral(
               "SELECT TOP (1) id_QTL_user, visible, QTL_login, "
               "canRemoveDFSFromExStudent FROM QTL_User WHERE "
               "(canRemoveDFSFromExStudent = 1)  AND (QTL_login ='") +
           DoubleQuotes(login) + QStringLiteral("')");
}

QString teachers(const ChosenClass& c) {
    return QStringLiteral(
               " SELECT DISTINCT dbo.teacher.id_teacher, dbo.t_fio.t_fio  FROM         "
               "dbo.RRNKkrdt INNER JOIN  dbo.teacher ON dbo.RRNKkrdt.id_teacher = "
               "dbo.teacher.id_teacher INNER JOIN  dbo.t_fio ON dbo.teacher.id_teacher = "
               "dbo.t_fio.id_teacher  WHERE     (dbo.RRNKkrdt.id_a_year = ") +
           c.year + QStringLiteral(") AND (dbo.RRNKkrdt.id_kafedra = ") + c.department + QStringLiteral(") ") +
           QStringLiteral(" AND prov_reyt>0") + QStringLiteral(" ORDER BY dbo.t_fio.t_fio");
}

QString termKinds() {
    // The database is named: the kinds of term live in QTL whatever database the account opens.
    return QStringLiteral("SELECT [id_w_s],[p42],[ws_sort] FROM [QTL].[dbo].[w_s] ORDER BY [ws_sort]");
}

QString disciplines(const ChosenClass& c) {
    return QStringLiteral("EXEC SP_Qtl33GetDisciplines @id_a_year =") + c.year + QStringLiteral(",@id_w_s =") +
           c.termKind + QStringLiteral(",@id_kafedra =") + c.department + QStringLiteral(",@id_teacher =") + c.teacher;
}

QString examinations(const ChosenClass& c) {
    return QStringLiteral(
               " SELECT DISTINCT dbo.RRNKkrdt.id_examination, examination.[p30] as "
               "examination  FROM dbo.RRNKkrdt INNER JOIN examination  ON "
               "dbo.RRNKkrdt.id_examination=examination.id_examination  WHERE id_kafedra=") +
           c.department + QStringLiteral(" AND id_a_year=") + c.year + QStringLiteral(" AND id_teacher =") + c.teacher +
           QStringLiteral(" AND id_discipline =") + c.discipline + QStringLiteral(" AND id_w_s =") + c.termKindRow +
           QStringLiteral(" AND prov_reyt>0 ") +
           QStringLiteral(" AND ( (id_vid_zaniatiy is not NULL) or (id_vid_zaniatiy in (5,6)) )");
}

QString groups(const ChosenClass& c, bool everyGroupOfTheYear) {
    if (everyGroupOfTheYear)
        return QStringLiteral(
                   " SELECT     dbo.g_r_y.id_a_year, dbo.[group].id_faculty, "
                   "dbo.[group].id_group, dbo.[group].p20 as [group], dbo.[group].o_z, -1 as  "
                   "descGroupNum FROM         dbo.g_r_y INNER JOIN  dbo.[group] ON "
                   "dbo.g_r_y.id_group = dbo.[group].id_group  WHERE     dbo.g_r_y.id_a_year =") +
               c.year + QStringLiteral(" AND dbo.[group].id_faculty =") + c.faculty +
               QStringLiteral(" ORDER By [group]");
    return QStringLiteral(
               "SELECT   dbo.[group].id_group,  dbo.[group].id_faculty, "
               "dbo.g_r_y.id_a_year,dbo.semester.id_semester, dbo.semester.id_w_s, "
               "dbo.[group].p20 as [group],dbo.[group].o_z FROM         dbo.[group] INNER "
               "JOIN dbo.g_r_y ON dbo.[group].id_group = dbo.g_r_y.id_group INNER JOIN "
               "dbo.semester ON dbo.g_r_y.id_rate = dbo.semester.id_rate WHERE     "
               "(dbo.[group].id_faculty = ") +
           c.faculty + QStringLiteral(") ") + QStringLiteral("AND (dbo.g_r_y.id_a_year = ") + c.year +
           QStringLiteral(") ") + QStringLiteral(" AND (dbo.semester.id_w_s = ") + c.termKind + QStringLiteral(")") +
           QStringLiteral(" ORDER By [group]");
}

QString registeringSemester(const ChosenClass& c) {
    return QStringLiteral(
               "SELECT TOP 1 id_semester FROM dbo.semester INNER JOIN dbo.g_r_y ON "
               "dbo.semester.id_rate = dbo.g_r_y.id_rate WHERE (dbo.g_r_y.id_group = ") +
           c.group + QStringLiteral(")") + QStringLiteral("AND (dbo.g_r_y.id_a_year = ") + c.year +
           QStringLiteral(")") + QStringLiteral("AND (dbo.semester.id_w_s = ") + c.termKind + QStringLiteral(")");
}

QString formOfStudy(int groupId) {
    return QStringLiteral(
               "SELECT dbo.g_s.id_group, dbo.specialityV.p108 FROM dbo.specialityV "
               "INNER JOIN dbo.g_s ON dbo.specialityV.id_speciality = "
               "dbo.g_s.id_speciality WHERE  (dbo.g_s.id_group =") +
           QString::number(groupId) + QStringLiteral(")");
}

QString planNumber(const ChosenClass& c) {
    return QStringLiteral("Exec SP_GetDescGroupNumOfDiscipline @id_a_year =") + c.year + QStringLiteral(",@id_w_s =") +
           c.termKind + QStringLiteral(",@id_kafedra =") + c.department + QStringLiteral(",@id_group =") + c.group +
           QStringLiteral(",@id_discipline =") + c.discipline + QStringLiteral(",@id_examination =") + c.examination;
}

QString students(const ChosenClass& c, bool withoutPlan, int userId) {
    const QString user = QString::number(userId);
    if (withoutPlan)
        return QStringLiteral(" EXEC GET_KPV_Students  @id_group = ") + c.group + QStringLiteral(", ") +
               QStringLiteral(" @id_discipline = ") + c.discipline + QStringLiteral(", ") +
               QStringLiteral(" @id_a_year = ") + c.year + QStringLiteral(", ") +
               QStringLiteral(" @id_examination = ") + c.examination + QStringLiteral(", ") +
               QStringLiteral(" @id_w_s = ") + c.termKindRow + QStringLiteral(",") + QStringLiteral(" @kredits = ") +
               c.credits + QStringLiteral(",") + QStringLiteral(" @id_user=") + user;
    return QStringLiteral(" EXEC GET_KPV_Students2  @id_group = ") + c.group + QStringLiteral(", ") +
           QStringLiteral(" @id_discipline = ") + c.discipline + QStringLiteral(", ") +
           QStringLiteral(" @id_a_year = ") + c.year + QStringLiteral(", ") + QStringLiteral(" @descGroupNum = ") +
           c.descGroupNum + QStringLiteral(", ") + QStringLiteral(" @id_examination = ") + c.examination +
           QStringLiteral(", ") + QStringLiteral(" @id_w_s = ") + c.termKindRow + QStringLiteral(", ") +
           QStringLiteral(" @kredits = ") + c.credits + QStringLiteral(", ") + QStringLiteral(" @id_user=") + user;
}

QString termByKind(const QString& kind) {
    return QStringLiteral("        (dbo.semester.id_w_s = ") + kind + QStringLiteral(") AND ");
}

QString termBySemester(const QString& insSemesterId) {
    return QStringLiteral("        (dbo.DisciplineForStudent.id_ins_semester = ") + insSemesterId +
           QStringLiteral(") AND ");
}

QString streams(const ChosenClass& c, const QString& termCondition) {
    return QStringLiteral(
               "SELECT g_f.id_faculty, dbo.DisciplineForStudent.id_student, "
               "dbo.DisciplineForStudent.id_disciplineForStudent,         "
               "(CAST(DisciplineForStudent.subGroup AS NVARCHAR(10)) + 'п (' + s_g.p20 + ') - '+ "
               "dbo.s_g.s_fio) AS [s_fio]  FROM  dbo.semester INNER JOIN        "
               "dbo.DisciplineForStudent ON dbo.semester.id_semester = "
               "dbo.DisciplineForStudent.id_ins_semester INNER JOIN        dbo.s_g ON "
               "dbo.DisciplineForStudent.id_student = dbo.s_g.id_student INNER JOIN        dbo.g_f ON "
               "dbo.s_g.id_group = dbo.g_f.id_group   WHERE (dbo.DisciplineForStudent.id_ins_year = ") +
           c.year + QStringLiteral(") AND ") + QStringLiteral("        (dbo.DisciplineForStudent.id_discipline = ") +
           c.discipline + QStringLiteral(") AND ") +
           QStringLiteral("        (dbo.DisciplineForStudent.id_examination = ") + c.examination +
           QStringLiteral(") AND ") + QStringLiteral("        (dbo.DisciplineForStudent.kredits = ") + c.credits +
           QStringLiteral(") AND ") + termCondition +
           QStringLiteral("        (dbo.DisciplineForStudent.id_teacher = ") + c.teacher + QStringLiteral(")") +
           QStringLiteral(
               " GROUP BY DisciplineForStudent.subGroup, dbo.s_g.p20,  dbo.s_g.s_fio, "
               "g_f.id_faculty, dbo.DisciplineForStudent.id_student, "
               "dbo.DisciplineForStudent.id_disciplineForStudent, ") +
           QStringLiteral("        (CAST(DisciplineForStudent.subGroup AS NVARCHAR(10)) + '") +
           QStringLiteral("п (' + s_g.p20 + ") + QStringLiteral("') - ") + QStringLiteral("'+ dbo.s_g.s_fio) ") +
           QStringLiteral(" ORDER BY DisciplineForStudent.subGroup,dbo.s_g.p20,  dbo.s_g.s_fio");
}

QString classList(const ChosenClass& c, const QString& termCondition) {
    // The streams list's tables, conditions and grouping, so the list holds exactly its lines:
    // a student the joins repeat (rows of s_g or g_f) is one line there and one row here.
    return QStringLiteral(
               "SELECT dbo.DisciplineForStudent.subGroup, dbo.DisciplineForStudent.id_student, "
               "dbo.s_g.s_fio, dbo.s_g.p20 FROM dbo.semester INNER JOIN dbo.DisciplineForStudent "
               "ON dbo.semester.id_semester = dbo.DisciplineForStudent.id_ins_semester INNER JOIN "
               "dbo.s_g ON dbo.DisciplineForStudent.id_student = dbo.s_g.id_student INNER JOIN "
               "dbo.g_f ON dbo.s_g.id_group = dbo.g_f.id_group WHERE "
               "(dbo.DisciplineForStudent.id_ins_year = ") +
           c.year + QStringLiteral(") AND (dbo.DisciplineForStudent.id_discipline = ") + c.discipline +
           QStringLiteral(") AND (dbo.DisciplineForStudent.id_examination = ") + c.examination +
           QStringLiteral(") AND (dbo.DisciplineForStudent.kredits = ") + c.credits + QStringLiteral(") AND ") +
           termCondition + QStringLiteral("(dbo.DisciplineForStudent.id_teacher = ") + c.teacher +
           QStringLiteral(
               ") GROUP BY dbo.DisciplineForStudent.subGroup, dbo.s_g.p20, dbo.s_g.s_fio, dbo.g_f.id_faculty, "
               "dbo.DisciplineForStudent.id_student, dbo.DisciplineForStudent.id_disciplineForStudent "
               "ORDER BY dbo.DisciplineForStudent.subGroup, dbo.s_g.s_fio, "
               "dbo.s_g.p20, dbo.DisciplineForStudent.id_student");
}

QString moveInEditor(const QString& stream, const QString& teacher, int registrationId) {
    return QStringLiteral("UPDATE DisciplineForStudent SET subGroup = ") + stream + QStringLiteral(", ") +
           QStringLiteral(" id_teacher = ") + teacher + QStringLiteral(" WHERE ") +
           QStringLiteral("(id_disciplineForStudent = ") + QString::number(registrationId) + QStringLiteral(")");
}

QString registrationDeadline(int year, int termKind, int group) {
    return QStringLiteral(
               "Select id_a_year, id_w_s, id_f_educ, endDate, id_group FROM  "
               "dbo.V_Date_reg_DFS GROUP BY id_a_year, id_w_s, id_f_educ, endDate, "
               "id_group HAVING (id_a_year =") +
           QString::number(year) + QStringLiteral(") AND (id_w_s =") + QString::number(termKind) +
           QStringLiteral(") AND (id_group = ") + QString::number(group) + QStringLiteral(")");
}

QString lessonKind(const ChosenClass& c) {
    return QStringLiteral(
               "SELECT subgroup,id_rrnkKrdt,id_vid_zaniatiy,id_ebe_var FROM "
               "dbo.RRNKkrdt WHERE (id_w_s =         ") +
           c.termKindRow + QStringLiteral(") AND   (id_discipline =  ") + c.discipline +
           QStringLiteral(") AND   (id_teacher =     ") + c.teacher + QStringLiteral(") AND   (id_a_year =      ") +
           c.year + QStringLiteral(") AND   (id_kafedra =     ") + c.department +
           QStringLiteral(") AND   (id_examination = ") + c.examination + QStringLiteral(") AND   (subgroup =       ") +
           c.stream + QStringLiteral(") AND   (id_vid_zaniatiy is not NULL) ORDER BY subgroup");
}

QString streamFaculty(const ChosenClass& c) {
    return QStringLiteral("SELECT id_faculty  FROM  dbo.RRNK_krdt_kolst WHERE (id_a_year = ") + c.year +
           QStringLiteral(") AND (id_w_s = ") + c.termKindRow + QStringLiteral(") AND (id_kafedra = ") + c.department +
           QStringLiteral(") AND (id_teacher = ") + c.teacher + QStringLiteral(") AND (id_discipline = ") +
           c.discipline + QStringLiteral(") AND (id_examination = ") + c.examination +
           QStringLiteral(") AND (subgroup = ") + c.stream + QStringLiteral(")");
}

QString creditSum(int studentId, const ChosenClass& c) {
    // The database is named, as for the kinds of term.
    return QStringLiteral(
               "SELECT  Sum([kredits]) as Sumkredits FROM "
               "[QTL].[dbo].[DisciplineForStudent] where id_student=") +
           QString::number(studentId) + QStringLiteral(" and id_semester=") + c.insSemesterId +
           QStringLiteral(" and id_group=") + c.group + QStringLiteral(" and id_a_year=") + c.year;
}

QString registration(int studentId, const ChosenClass& c, const QString& login, const QString& faculty,
                     const QString& lessonKind) {
    // The year and the registering semester are written twice: once as the registration's own
    // year and semester, once as the year and semester it was made in.
    return QStringLiteral(
               "INSERT INTO DisciplineForStudent  (id_student, descGroupNum, "
               "id_discipline, id_a_year, id_semester, id_ins_year, id_ins_semester, "
               "id_teacher, id_group,  id_examination, subGroup, QTL_user, id_faculty, "
               "id_kafedra, kredits, isByPlan, id_vid_zaniatiy) VALUES(") +
           QString::number(studentId) + QStringLiteral(", ") + c.descGroupNum + QStringLiteral(", ") + c.discipline +
           QStringLiteral(",") + c.year + QStringLiteral(",") + c.insSemesterId + QStringLiteral(",") + c.year +
           QStringLiteral(",") + c.insSemesterId + QStringLiteral(",") + c.teacher + QStringLiteral(",") + c.group +
           QStringLiteral(",") + c.examination + QStringLiteral(",") + c.stream + QStringLiteral(", ") +
           WrapInQuotes(login) + QStringLiteral(",") + faculty + QStringLiteral(",") + c.department +
           QStringLiteral(",") + c.credits + QStringLiteral(",") + c.isByPlan + QStringLiteral(",") + lessonKind +
           QStringLiteral(")");
}

QString removal(int registrationId) {
    return QStringLiteral("DELETE FROM DisciplineForStudent WHERE (id_disciplineForStudent = ") +
           QString::number(registrationId) + QStringLiteral(")");
}

QVector<TKeyValue> removalAudit(const ChosenClass& c, int studentId, int registrationId) {
    // The selection of the window at the time of the deletion, then the row's own keys.
    return {
        {QStringLiteral("id_faculty"), c.faculty},
        {QStringLiteral("id_a_year"), c.year},
        {QStringLiteral("id_kafedra"), c.department},
        {QStringLiteral("id_teacher"), c.teacher},
        {QStringLiteral("id_w_s"), c.termKind},
        {QStringLiteral("id_discipline"), c.discipline},
        {QStringLiteral("Krdt"), c.credits},
        {QStringLiteral("id_examination"), c.examination},
        {QStringLiteral("id_group"), c.group},
        {QStringLiteral("subgroup"), c.stream},
        {QStringLiteral("id_student"), QString::number(studentId)},
        {QStringLiteral("id_disciplineForStudent"), QString::number(registrationId)},
    };
}

}  // namespace statements

}  // namespace qtl
