// The workstation's statements, built as it builds them, filled with ids of the small demo data.
#pragma once

#include "qtl/demo_ids.h"

#include <string>
#include <vector>

namespace tsql_statements {

struct Sent {
    const char* what;
    std::string sql;
};

inline std::string n(int v) {
    return std::to_string(v);
}

// The ids the statements are filled with; the defaults are rows of the small demo data.
struct Ids {
    int year = devserver::qtl::demo::kYearCurrent;
    int ws = devserver::qtl::demo::kWsAutumn;
    int kafedra = devserver::qtl::demo::kKafedraA;
    int teacher = devserver::qtl::demo::kTeacherA;
    int discipline = devserver::qtl::demo::kDisciplineA;
    int exam = devserver::qtl::demo::kExamA;
    int group = devserver::qtl::demo::kGroupOz0;
    int faculty = devserver::qtl::demo::kFacultyA;
    int semester = devserver::qtl::demo::kSemesterCourse2Autumn;
    int stream = devserver::qtl::demo::kStreamNamed;
    int credits = devserver::qtl::demo::kCreditsA;
    int descGroupNum = devserver::qtl::demo::kDescGroupNumA;
    int creditStudent = devserver::qtl::demo::kStudentFullCredits;  // credit sum
    int student = devserver::qtl::demo::kStudentAbdullaev;  // transfer frame, registrations window
    std::string searchPattern = "%ЁЛК%";
};

// Statements that only read (and EXECs of routines that return rows).
inline std::vector<Sent> reads(const Ids& ids = Ids{}) {
    using namespace devserver::qtl::demo;
    const std::string year = n(ids.year), ws = n(ids.ws), kaf = n(ids.kafedra), teacher = n(ids.teacher),
                      disc = n(ids.discipline), exam = n(ids.exam), group = n(ids.group), fac = n(ids.faculty),
                      sem = n(ids.semester), stream = n(ids.stream), kr = n(ids.credits);
    return {
        {"rights",
         "SELECT TOP (1) id_QTL_user, visible, QTL_login, canRemoveDFSFromExStudent FROM QTL_User WHERE "
         "(canRemoveDFSFromExStudent = 1)  AND (QTL_login ='operator')"},
        {"login",
         "EXEC GET_USER 'operator','4B583376B2767B923C3E1DA60D10DE59',NULL, 'QTL 33', '10.0.0.5', 'PC7', "
         "'operator','0','4'"},
        {"faculties",
         "SELECT faculty.id_faculty, faculty.[p23-2] AS [faculty] FROM  faculty INNER JOIN user_faculty ON "
         "faculty.id_faculty = user_faculty.faculty WHERE user_faculty.id_login = " +
             n(kUserOperator) + "Order by [p23-2]"},
        {"w_s", "SELECT * FROM w_s"},
        {"limit26", "SELECT [id_field]  FROM [QTL].[dbo].[VuzDefaults]  WHERE id_vuz_defaults=26"},
        {"limit27", "SELECT [id_field]  FROM [QTL].[dbo].[VuzDefaults] WHERE id_vuz_defaults=27"},
        {"year2",
         "SELECT DISTINCT educ_sh.id_a_year, a_year.p32\r\n  FROM educ_sh, a_year\r\nWHERE educ_sh.id_a_year = "
         "a_year.id_a_year\r\nORDER BY a_year.p32"},
        {"kafedra",
         "SELECT     dbo.kafedra.f1 AS kafedra, dbo.kafedra.id_kafedra, dbo.RRNKkrdt.id_a_year\r\n"
         "FROM         dbo.kafedra INNER JOIN\r\n"
         "                      dbo.RRNKkrdt ON dbo.kafedra.id_kafedra = dbo.RRNKkrdt.id_kafedra\r\n"
         "GROUP BY dbo.kafedra.f1, dbo.kafedra.id_kafedra, dbo.RRNKkrdt.id_a_year\r\n"
         "HAVING      (dbo.RRNKkrdt.id_a_year = " +
             year + ")\r\nORDER BY kafedra"},
        {"year", "SELECT DISTINCT [id_a_year], [year]\r\n  FROM VSelForKPV\r\nwhere id_a_year>10\r\nORDER BY [year]"},
        {"semester2",
         "select id_semester, p43 as semester , id_w_s\r\nFROM semester\r\nwhere id_w_s = 3\r\nunion \r\n"
         "SELECT Semester.id_semester, Semester.p43 as semester, Semester.id_w_s\r\nFROM Semester, g_r_y\r\n"
         "WHERE Semester.id_rate = g_r_y.id_rate AND\r\n      g_r_y.id_a_year=" +
             year +
             " AND\r\n"
             "      g_r_y.id_group=" +
             group + "\r\nORDER BY p43"},
        {"subgroup",
         "SELECT DISTINCT subgroup,cast(subgroup as varchar) +' - ['+dop_potokname+']' as subgroupAndName\r\n"
         " FROM dbo.RRNKkrdt LEFT OUTER JOIN\r\n"
         "                      dbo.educ_sh ON dbo.RRNKkrdt.id_a_year = dbo.educ_sh.id_a_year AND "
         "dbo.RRNKkrdt.id_discipline = dbo.educ_sh.id_discipline AND \r\n"
         "                      dbo.RRNKkrdt.id_kafedra = dbo.educ_sh.id_kafedra\r\n"
         " WHERE RRNKkrdt.id_a_year=" +
             year + " AND\r\n       RRNKkrdt.id_kafedra=" + kaf +
             " AND\r\n"
             "       RRNKkrdt.id_teacher=" +
             teacher + " AND\r\n       RRNKkrdt.id_discipline=" + disc +
             " AND\r\n"
             "       RRNKkrdt.id_examination=" +
             exam + " AND\r\n       RRNKkrdt.kredit=" + kr +
             " AND\r\n"
             "       RRNKkrdt.id_w_s=" +
             ws +
             " AND\r\n       RRNKkrdt.prov_reyt>0 AND\r\n       (\r\n"
             "          ((RRNKkrdt.id_vid_zaniatiy = 1) ) OR\r\n"
             "          ((RRNKkrdt.id_vid_zaniatiy = 2) AND (educ_sh.p53 > 0)) OR\r\n"
             "          ((RRNKkrdt.id_vid_zaniatiy = 3) AND (educ_sh.p52 > 0)) OR\r\n"
             "          ((RRNKkrdt.id_vid_zaniatiy = 4) AND (educ_sh.srs > 0))   OR\r\n"
             "          (RRNKkrdt.id_vid_zaniatiy = 5) OR\r\n          (RRNKkrdt.id_vid_zaniatiy = 6)\r\n       )"},
        {"subgroup2", "SELECT DISTINCT subgroup\r\n  FROM dbo.RRNKkrdt\r\n WHERE id_a_year=" + year +
                          " AND\r\n"
                          "       id_kafedra=" +
                          kaf + " AND\r\n       id_teacher=" + teacher +
                          " AND\r\n"
                          "       id_discipline=" +
                          disc + " AND\r\n       id_examination=" + exam +
                          " AND\r\n"
                          "       id_o_z=0 AND\r\n       id_w_s=" +
                          ws},
        {"teachers",
         " SELECT DISTINCT dbo.teacher.id_teacher, dbo.t_fio.t_fio  FROM         dbo.RRNKkrdt INNER JOIN  "
         "dbo.teacher ON dbo.RRNKkrdt.id_teacher = dbo.teacher.id_teacher INNER JOIN  dbo.t_fio ON "
         "dbo.teacher.id_teacher = dbo.t_fio.id_teacher  WHERE     (dbo.RRNKkrdt.id_a_year = " +
             year + ") AND (dbo.RRNKkrdt.id_kafedra = " + kaf + ")  AND prov_reyt>0 ORDER BY dbo.t_fio.t_fio"},
        {"semester", "SELECT [id_w_s],[p42],[ws_sort] FROM [QTL].[dbo].[w_s] ORDER BY [ws_sort]"},
        {"disciplines", "EXEC SP_Qtl33GetDisciplines @id_a_year =" + year + ",@id_w_s =" + ws + ",@id_kafedra =" + kaf +
                            ",@id_teacher =" + teacher},
        {"examinations",
         " SELECT DISTINCT dbo.RRNKkrdt.id_examination, examination.[p30] as examination  FROM "
         "dbo.RRNKkrdt INNER JOIN examination  ON dbo.RRNKkrdt.id_examination=examination.id_examination"
         "  WHERE id_kafedra=" +
             kaf + " AND id_a_year=" + year + " AND id_teacher =" + teacher + " AND id_discipline =" + disc +
             " AND id_w_s =" + ws +
             " AND prov_reyt>0  AND ( (id_vid_zaniatiy is not NULL) or (id_vid_zaniatiy in (5,6)) )"},
        {"groups3",
         " SELECT     dbo.g_r_y.id_a_year, dbo.[group].id_faculty, dbo.[group].id_group, dbo.[group].p20 as "
         "[group], dbo.[group].o_z, -1 as  descGroupNum FROM         dbo.g_r_y INNER JOIN  dbo.[group] ON "
         "dbo.g_r_y.id_group = dbo.[group].id_group  WHERE     dbo.g_r_y.id_a_year =" +
             year + " AND dbo.[group].id_faculty =" + fac + " ORDER By [group]"},
        {"groups",
         "SELECT   dbo.[group].id_group,  dbo.[group].id_faculty, dbo.g_r_y.id_a_year,dbo.semester.id_semester, "
         "dbo.semester.id_w_s, dbo.[group].p20 as [group],dbo.[group].o_z FROM         dbo.[group] INNER JOIN "
         "dbo.g_r_y ON dbo.[group].id_group = dbo.g_r_y.id_group INNER JOIN dbo.semester ON dbo.g_r_y.id_rate "
         "= dbo.semester.id_rate WHERE     (dbo.[group].id_faculty = " +
             fac + ") AND (dbo.g_r_y.id_a_year = " + year + ")  AND (dbo.semester.id_w_s = " + ws +
             ") ORDER By [group]"},
        {"insSemester",
         "SELECT TOP 1 id_semester FROM dbo.semester INNER JOIN dbo.g_r_y ON dbo.semester.id_rate = "
         "dbo.g_r_y.id_rate WHERE (dbo.g_r_y.id_group = " +
             group + ")AND (dbo.g_r_y.id_a_year = " + year + ")AND (dbo.semester.id_w_s = " + ws + ")"},
        {"groupEduc",
         "SELECT dbo.g_s.id_group, dbo.specialityV.p108 FROM dbo.specialityV INNER JOIN dbo.g_s ON "
         "dbo.specialityV.id_speciality = dbo.g_s.id_speciality WHERE  (dbo.g_s.id_group =" +
             group + ")"},
        {"descGroupNum", "Exec SP_GetDescGroupNumOfDiscipline @id_a_year =" + year + ",@id_w_s =" + ws +
                             ",@id_kafedra =" + kaf + ",@id_group =" + group + ",@id_discipline =" + disc +
                             ",@id_examination =" + exam},
        {"studentsA", " EXEC GET_KPV_Students  @id_group = " + group + ",  @id_discipline = " + disc +
                          ",  @id_a_year = " + year + ",  @id_examination = " + exam + ",  @id_w_s = " + ws +
                          ", @kredits = " + kr + ", @id_user=" + n(kUserOperator)},
        {"studentsB", " EXEC GET_KPV_Students2  @id_group = " + group + ",  @id_discipline = " + disc +
                          ",  @id_a_year = " + year + ",  @descGroupNum = " + n(ids.descGroupNum) +
                          ",  @id_examination = " + exam + ",  @id_w_s = " + ws + ",  @kredits = " + kr +
                          ",  @id_user=" + n(kUserOperator)},
        {"deadline",
         "Select id_a_year, id_w_s, id_f_educ, endDate, id_group FROM  dbo.V_Date_reg_DFS GROUP BY id_a_year, "
         "id_w_s, id_f_educ, endDate, id_group HAVING (id_a_year =" +
             year + ") AND (id_w_s =" + ws + ") AND (id_group = " + group + ")"},
        {"lessonKind",
         "SELECT subgroup,id_rrnkKrdt,id_vid_zaniatiy,id_ebe_var FROM dbo.RRNKkrdt WHERE (id_w_s =         " + ws +
             ") AND   (id_discipline =  " + disc + ") AND   (id_teacher =     " + teacher +
             ") AND   (id_a_year =      " + year + ") AND   (id_kafedra =     " + kaf + ") AND   (id_examination = " +
             exam + ") AND   (subgroup =       " + stream + ") AND   (id_vid_zaniatiy is not NULL) ORDER BY subgroup"},
        {"streamFaculty", "SELECT id_faculty  FROM  dbo.RRNK_krdt_kolst WHERE (id_a_year = " + year +
                              ") AND (id_w_s = " + ws + ") AND (id_kafedra = " + kaf +
                              ") AND (id_teacher = " + teacher + ") AND (id_discipline = " + disc +
                              ") AND (id_examination = " + exam + ") AND (subgroup = " + stream + ")"},
        {"creditSum", "SELECT  Sum([kredits]) as Sumkredits FROM [QTL].[dbo].[DisciplineForStudent] where id_student=" +
                          n(ids.creditStudent) + " and id_semester=" + sem + " and id_group=" + group +
                          " and id_a_year=" + year},
        {"streams",
         "SELECT g_f.id_faculty, dbo.DisciplineForStudent.id_student, dbo.DisciplineForStudent.id_disciplineForStudent,"
         "         (CAST(DisciplineForStudent.subGroup AS NVARCHAR(10)) + 'п (' + s_g.p20 + ') - '+ "
         "dbo.s_g.s_fio) AS [s_fio]  FROM  dbo.semester INNER JOIN        dbo.DisciplineForStudent ON "
         "dbo.semester.id_semester = dbo.DisciplineForStudent.id_ins_semester INNER JOIN        dbo.s_g ON "
         "dbo.DisciplineForStudent.id_student = dbo.s_g.id_student INNER JOIN        dbo.g_f ON "
         "dbo.s_g.id_group = dbo.g_f.id_group   WHERE (dbo.DisciplineForStudent.id_ins_year = " +
             year + ") AND         (dbo.DisciplineForStudent.id_discipline = " + disc +
             ") AND         (dbo.DisciplineForStudent.id_examination = " + exam +
             ") AND         (dbo.DisciplineForStudent.kredits = " + kr + ") AND         (dbo.semester.id_w_s = " + ws +
             ") AND         (dbo.DisciplineForStudent.id_teacher = " + teacher +
             ") GROUP BY DisciplineForStudent.subGroup, dbo.s_g.p20,  dbo.s_g.s_fio, g_f.id_faculty, "
             "dbo.DisciplineForStudent.id_student, dbo.DisciplineForStudent.id_disciplineForStudent, "
             "        (CAST(DisciplineForStudent.subGroup AS NVARCHAR(10)) + 'п (' + s_g.p20 + ') - '+ "
             "dbo.s_g.s_fio)  ORDER BY DisciplineForStudent.subGroup,dbo.s_g.p20,  dbo.s_g.s_fio"},
        {"studentInfo", "EXEC GetKPVStudentInfo   @id_student = " + n(ids.student) + " ,@id_semester = " + sem +
                            " ,@id_a_year = " + year + " ,@id_discipline = " + disc + " ,@id_group =  " + group +
                            " ,@descGroupNum =  " + n(ids.descGroupNum) + " ,@kredits =  " + kr},
        {"teachers2", "SELECT id_teacher, t_fio FROM dbo.GetTFIO_with_pps(4, " + kaf + ")"},
        {"search",
         "SELECT TOP (100) dbo.s_fio.id_student, dbo.s_fio.s_fio, dbo.[group].id_group, dbo.[group].p20, "
         "dbo.[group].id_faculty, T_user_fak.QTL_login FROM dbo.s_fio INNER JOIN dbo.movement_t ON "
         "dbo.s_fio.id_student = dbo.movement_t.id_student INNER JOIN dbo.[group] ON dbo.movement_t.id_group = "
         "dbo.[group].id_group INNER JOIN (SELECT dbo.QTL_User.id_QTL_user, dbo.QTL_User.QTL_login, "
         "dbo.user_faculty.faculty FROM dbo.QTL_User INNER JOIN dbo.user_faculty ON dbo.QTL_User.id_QTL_user = "
         "dbo.user_faculty.id_login WHERE (dbo.QTL_User.visible = 1)) AS T_user_fak ON dbo.[group].id_faculty = "
         "T_user_fak.faculty GROUP BY dbo.s_fio.id_student, dbo.s_fio.s_fio, dbo.[group].id_group, "
         "dbo.[group].p20, dbo.[group].id_faculty, T_user_fak.QTL_login HAVING (dbo.s_fio.s_fio LIKE '" +
             ids.searchPattern +
             "') "
             "AND (T_user_fak.QTL_login ='operator') ORDER BY dbo.s_fio.s_fio"},
        {"registrations",
         "SELECT   dbo.DisciplineForStudent.id_disciplineForStudent, dbo.DisciplineForStudent.id_student, "
         "dbo.DisciplineForStudent.id_semester, dbo.semester.p43, dbo.DisciplineForStudent.id_discipline, "
         "dbo.discipline.p34, dbo.DisciplineForStudent.kredits, dbo.DisciplineForStudent.subgroup, "
         "dbo.DisciplineForStudent.id_examination, dbo.examination.p30, dbo.DisciplineForStudent.id_teacher, "
         "dbo.t_fio.s_t_fio FROM dbo.DisciplineForStudent INNER JOIN dbo.semester ON "
         "dbo.DisciplineForStudent.id_semester = dbo.semester.id_semester INNER JOIN dbo.discipline ON "
         "dbo.DisciplineForStudent.id_discipline = dbo.discipline.id_discipline INNER JOIN dbo.examination "
         "ON dbo.DisciplineForStudent.id_examination = dbo.examination.id_examination INNER JOIN dbo.t_fio "
         "ON dbo.DisciplineForStudent.id_teacher = dbo.t_fio.id_teacher WHERE "
         "dbo.DisciplineForStudent.id_student =" +
             n(ids.student) + " ORDER BY dbo.DisciplineForStudent.id_semester, dbo.discipline.p34"},
    };
}

}  // namespace tsql_statements
