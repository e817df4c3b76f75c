// The workstation's statements, written the way the dialect hands them to SQLite, on the
// small demo data; and the large data's size, build time and speed.
#include "qtl/demo_ids.h"
#include "qtl/text.h"
#include "qtl_test_db.h"

#include <algorithm>
#include <cstdio>

using namespace devserver::qtl::demo;
using namespace qtl_test;

namespace {

std::string n(int v) {
    return std::to_string(v);
}

std::string streamsList(int teacher, int discipline, int kredits) {
    return "SELECT g_f.id_faculty, DisciplineForStudent.id_student, DisciplineForStudent.id_disciplineForStudent, "
           "(CAST(DisciplineForStudent.subGroup AS TEXT) || 'п (' || s_g.p20 || ') - ' || s_g.s_fio) AS \"s_fio\" "
           "FROM semester INNER JOIN DisciplineForStudent ON semester.id_semester = "
           "DisciplineForStudent.id_ins_semester "
           "INNER JOIN s_g ON DisciplineForStudent.id_student = s_g.id_student "
           "INNER JOIN g_f ON s_g.id_group = g_f.id_group "
           "WHERE (DisciplineForStudent.id_ins_year = " +
           n(kYearCurrent) + ") AND (DisciplineForStudent.id_discipline = " + n(discipline) +
           ") AND (DisciplineForStudent.id_examination = 1) AND (DisciplineForStudent.kredits = " + n(kredits) +
           ") AND (semester.id_w_s = 1) AND (DisciplineForStudent.id_teacher = " + n(teacher) +
           ")"
           " GROUP BY DisciplineForStudent.subGroup, s_g.p20, s_g.s_fio, g_f.id_faculty, "
           "DisciplineForStudent.id_student, "
           "DisciplineForStudent.id_disciplineForStudent, "
           "(CAST(DisciplineForStudent.subGroup AS TEXT) || 'п (' || s_g.p20 || ') - ' || s_g.s_fio) "
           " ORDER BY DisciplineForStudent.subGroup, s_g.p20, s_g.s_fio";
}

std::string search(const std::string& text, const std::string& login) {
    return "SELECT s_fio.id_student, s_fio.s_fio, \"group\".id_group, \"group\".p20, \"group\".id_faculty, "
           "T_user_fak.QTL_login "
           "FROM s_fio INNER JOIN movement_t ON s_fio.id_student = movement_t.id_student "
           "INNER JOIN \"group\" ON movement_t.id_group = \"group\".id_group "
           "INNER JOIN (SELECT QTL_User.id_QTL_user, QTL_User.QTL_login, user_faculty.faculty FROM QTL_User "
           "INNER JOIN user_faculty ON QTL_User.id_QTL_user = user_faculty.id_login WHERE (QTL_User.visible = 1)) AS "
           "T_user_fak "
           "ON \"group\".id_faculty = T_user_fak.faculty "
           "GROUP BY s_fio.id_student, s_fio.s_fio, \"group\".id_group, \"group\".p20, \"group\".id_faculty, "
           "T_user_fak.QTL_login "
           "HAVING (s_fio.s_fio LIKE '%" +
           text + "%') AND (T_user_fak.QTL_login ='" + login +
           "') "
           "ORDER BY s_fio.s_fio LIMIT 100";
}

std::string registrationsOf(int student) {
    return "SELECT DisciplineForStudent.id_disciplineForStudent, DisciplineForStudent.id_student, "
           "DisciplineForStudent.id_semester, "
           "semester.p43, DisciplineForStudent.id_discipline, discipline.p34, DisciplineForStudent.kredits, "
           "DisciplineForStudent.subgroup, DisciplineForStudent.id_examination, examination.p30, "
           "DisciplineForStudent.id_teacher, "
           "t_fio.s_t_fio FROM DisciplineForStudent INNER JOIN semester ON DisciplineForStudent.id_semester = "
           "semester.id_semester "
           "INNER JOIN discipline ON DisciplineForStudent.id_discipline = discipline.id_discipline "
           "INNER JOIN examination ON DisciplineForStudent.id_examination = examination.id_examination "
           "INNER JOIN t_fio ON DisciplineForStudent.id_teacher = t_fio.id_teacher WHERE "
           "DisciplineForStudent.id_student =" +
           n(student) + " ORDER BY DisciplineForStudent.id_semester, discipline.p34";
}

std::string subGroups(int teacher, int discipline, int kredit) {
    return "SELECT DISTINCT subgroup, CAST(subgroup AS TEXT) || ' - [' || dop_potokname || ']' AS subgroupAndName "
           "FROM RRNKkrdt LEFT OUTER JOIN educ_sh ON RRNKkrdt.id_a_year = educ_sh.id_a_year AND "
           "RRNKkrdt.id_discipline = educ_sh.id_discipline AND RRNKkrdt.id_kafedra = educ_sh.id_kafedra "
           "WHERE RRNKkrdt.id_a_year=15 AND RRNKkrdt.id_kafedra=1 AND RRNKkrdt.id_teacher=" +
           n(teacher) + " AND RRNKkrdt.id_discipline=" + n(discipline) +
           " AND RRNKkrdt.id_examination=1 AND RRNKkrdt.kredit=" + n(kredit) +
           " AND RRNKkrdt.id_w_s=1 AND RRNKkrdt.prov_reyt>0 AND ("
           " ((RRNKkrdt.id_vid_zaniatiy = 1) ) OR ((RRNKkrdt.id_vid_zaniatiy = 2) AND (educ_sh.p53 > 0)) OR"
           " ((RRNKkrdt.id_vid_zaniatiy = 3) AND (educ_sh.p52 > 0)) OR ((RRNKkrdt.id_vid_zaniatiy = 4) AND "
           "(educ_sh.srs > 0)) OR"
           " (RRNKkrdt.id_vid_zaniatiy = 5) OR (RRNKkrdt.id_vid_zaniatiy = 6))";
}

}  // namespace

TEST(QtlSchema, EmptyDatabaseHoldsEveryObjectTheWorkstationNames) {
    QtlDb d("none");
    for (const char* name : {"VSelForKPV",   "kafedra",
                             "RRNKkrdt",     "RRNK_krdt_kolst",
                             "teacher",      "t_fio",
                             "w_s",          "examination",
                             "group",        "g_r_y",
                             "semester",     "g_s",
                             "specialityV",  "educ_sh",
                             "a_year",       "faculty",
                             "user_faculty", "QTL_User",
                             "VuzDefaults",  "V_Date_reg_DFS",
                             "s_g",          "g_f",
                             "s_fio",        "movement_t",
                             "discipline",   "DisciplineForStudent",
                             "QTL_LOG"})
        EXPECT_EQ(
            d.scalar("SELECT count(*) FROM sqlite_schema WHERE name = '" + std::string(name) + "' COLLATE NOCASE"), "1")
            << name;
    EXPECT_EQ(d.scalar("SELECT count(*) FROM DisciplineForStudent"), "0");
    EXPECT_EQ(d.scalar("SELECT count(*) FROM student"), "0");
    // Reference data and the settings account are there, so a server on it can be logged into.
    EXPECT_EQ(d.scalar("SELECT name FROM QTL_DbAccount ORDER BY id_db_account LIMIT 1"), kSettingsUser);
    EXPECT_EQ(d.scalar("SELECT count(*) FROM w_s"), "3");
    EXPECT_THROW(devserver::qtl::createDatabase(d.db, "huge"), std::runtime_error);
}

TEST(QtlSchema, ColumnTypesForTheWire) {
    QtlDb d;
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(d.db,
                                 "SELECT s_fio.id_student, s_fio.s_fio, s_g.p20, QTL_User.visible, "
                                 "V_Date_reg_DFS.endDate, t_fio.t_fio, VSelForKPV.year "
                                 "FROM s_fio, s_g, QTL_User, V_Date_reg_DFS, t_fio, VSelForKPV LIMIT 0",
                                 -1, &st, nullptr),
              SQLITE_OK);
    const std::vector<std::string> want = {"INTEGER",  "NVARCHAR(250)", "NVARCHAR(150)", "BIT",
                                           "DATETIME", "NVARCHAR(100)", "NVARCHAR(20)"};
    for (int i = 0; i < static_cast<int>(want.size()); ++i) EXPECT_EQ(sqlite3_column_decltype(st, i), want[i]) << i;
    sqlite3_finalize(st);
}

TEST(QtlSchema, SignInStatements) {
    QtlDb d;
    EXPECT_EQ(d.rows("SELECT faculty.id_faculty, faculty.\"p23-2\" AS \"faculty\" FROM faculty INNER JOIN user_faculty "
                     "ON faculty.id_faculty = user_faculty.faculty WHERE user_faculty.id_login = 1 ORDER BY \"p23-2\""),
              (Rows{{"1", "Факультет информационных технологий"}, {"2", "Экономический факультет"}}));
    EXPECT_EQ(d.scalar("SELECT id_field FROM VuzDefaults WHERE id_vuz_defaults=26"), "30");
    EXPECT_EQ(d.scalar("SELECT id_field FROM VuzDefaults WHERE id_vuz_defaults=27"), "25");
    EXPECT_EQ(d.rows("SELECT * FROM w_s"), (Rows{{"1", "Осенний", "1"}, {"2", "Весенний", "2"}, {"3", "Летний", "3"}}));
    EXPECT_EQ(d.rows("SELECT DISTINCT id_a_year, year FROM VSelForKPV where id_a_year>10 ORDER BY year"),
              (Rows{{"14", "2025-2026"}, {"15", "2026-2027"}, {"16", "2027-2028"}}));
    EXPECT_EQ(d.rows("SELECT DISTINCT educ_sh.id_a_year, a_year.p32 FROM educ_sh, a_year "
                     "WHERE educ_sh.id_a_year = a_year.id_a_year ORDER BY a_year.p32"),
              (Rows{{"14", "2025-2026"}, {"15", "2026-2027"}}));
    const std::string rights =
        "SELECT id_QTL_user, visible, QTL_login, canRemoveDFSFromExStudent FROM QTL_User "
        "WHERE (canRemoveDFSFromExStudent = 1) AND (QTL_login ='";
    EXPECT_EQ(d.rows(rights + "operator') LIMIT 1"), (Rows{{"1", "1", "operator", "1"}}));
    EXPECT_TRUE(d.rows(rights + "viewer') LIMIT 1").empty());
}

TEST(QtlSchema, SelectionChainStatements) {
    QtlDb d;
    EXPECT_EQ(
        d.rows(
            "SELECT kafedra.f1 AS kafedra, kafedra.id_kafedra, RRNKkrdt.id_a_year FROM kafedra INNER JOIN RRNKkrdt "
            "ON kafedra.id_kafedra = RRNKkrdt.id_kafedra GROUP BY kafedra.f1, kafedra.id_kafedra, RRNKkrdt.id_a_year "
            "HAVING (RRNKkrdt.id_a_year = 15) ORDER BY kafedra"),
        (Rows{{"Кафедра высшей математики", "2", "15"},
              {"Кафедра информатики", "1", "15"},
              {"Кафедра русского языка и литературы", "4", "15"},
              {"Кафедра экономической теории", "3", "15"}}));
    const std::string teachers =
        "SELECT DISTINCT teacher.id_teacher, t_fio.t_fio FROM RRNKkrdt INNER JOIN teacher ON "
        "RRNKkrdt.id_teacher = teacher.id_teacher INNER JOIN t_fio ON teacher.id_teacher = t_fio.id_teacher "
        "WHERE (RRNKkrdt.id_a_year = 15) AND (RRNKkrdt.id_kafedra = ";
    // Ежов < Ёлкин < Жукова; the teacher whose rows carry no rating is left out.
    EXPECT_EQ(d.rows(teachers + "2) AND prov_reyt>0 ORDER BY t_fio.t_fio"),
              (Rows{{"4", "Ежов Д.С."}, {"5", "Ёлкин С.П."}, {"6", "Жукова О.А."}}));
    EXPECT_EQ(d.rows(teachers + "1) AND prov_reyt>0 ORDER BY t_fio.t_fio"),
              (Rows{{"1", "Абрамов А.В."}, {"2", "Борисова Е.Н."}, {"3", "Гусев П.И."}}));
    EXPECT_EQ(d.rows("SELECT id_w_s, p42, ws_sort FROM w_s ORDER BY ws_sort").size(), 3u);
    // Forms of control: the course-work row has no lesson kind and is not offered.
    EXPECT_EQ(
        d.rows("SELECT DISTINCT RRNKkrdt.id_examination, examination.p30 as examination FROM RRNKkrdt INNER JOIN "
               "examination ON RRNKkrdt.id_examination=examination.id_examination WHERE id_kafedra=1 AND id_a_year=15 "
               "AND id_teacher =1 AND id_discipline =1 AND id_w_s =1 AND prov_reyt>0 "
               "AND ( (id_vid_zaniatiy is not NULL) or (id_vid_zaniatiy in (5,6)) )"),
        (Rows{{"1", "Экзамен"}}));
    // Groups of the faculty with a semester of the kind, and for kind 3 every group with a course.
    const Rows groupsA = {
        {"1", "ИТ-21", "0"}, {"2", "ИТ-22", "0"}, {"5", "ИТ-23", "0"}, {"3", "ИТз-21", "1"}, {"4", "ИТу-21", "2"}};
    EXPECT_EQ(
        d.rows(
            "SELECT \"group\".id_group, \"group\".p20 as \"group\", \"group\".o_z FROM \"group\" INNER JOIN g_r_y ON "
            "\"group\".id_group = g_r_y.id_group INNER JOIN semester ON g_r_y.id_rate = semester.id_rate "
            "WHERE (\"group\".id_faculty = 1) AND (g_r_y.id_a_year = 15) AND (semester.id_w_s = 1) ORDER By \"group\""),
        groupsA);
    EXPECT_EQ(
        d.rows(
            "SELECT \"group\".id_group, \"group\".p20 as \"group\", \"group\".o_z FROM g_r_y INNER JOIN \"group\" ON "
            "g_r_y.id_group = \"group\".id_group WHERE g_r_y.id_a_year =15 AND \"group\".id_faculty =1 ORDER By "
            "\"group\""),
        groupsA);
    EXPECT_EQ(d.scalar("SELECT id_semester FROM semester INNER JOIN g_r_y ON semester.id_rate = g_r_y.id_rate "
                       "WHERE (g_r_y.id_group = 1)AND (g_r_y.id_a_year = 15)AND (semester.id_w_s = 1) LIMIT 1"),
              n(kSemesterCourse2Autumn));
    const std::string educ =
        "SELECT g_s.id_group, specialityV.p108 FROM specialityV INNER JOIN g_s ON "
        "specialityV.id_speciality = g_s.id_speciality WHERE (g_s.id_group =";
    EXPECT_EQ(d.rows(educ + "1)"), (Rows{{"1", "Очная"}}));
    EXPECT_TRUE(d.rows(educ + n(kGroupNoGs) + ")").empty());
    // The frame's semesters: every summer semester plus the group's own, by name.
    const auto sem2 = d.rows(
        "select id_semester, p43 as semester , id_w_s FROM semester where id_w_s = 3 union "
        "SELECT Semester.id_semester, Semester.p43 as semester, Semester.id_w_s FROM Semester, g_r_y "
        "WHERE Semester.id_rate = g_r_y.id_rate AND g_r_y.id_a_year=15 AND g_r_y.id_group=1 ORDER BY p43");
    ASSERT_EQ(sem2.size(), 6u);
    EXPECT_EQ(sem2[0], (std::vector<std::string>{"4", "3 семестр", "1"}));
    EXPECT_EQ(sem2[1], (std::vector<std::string>{"5", "4 семестр", "2"}));
}

TEST(QtlSchema, StreamStatements) {
    QtlDb d;
    // Lab stream 4 is left out because the plan has no lab hours; stream 2 has no name.
    EXPECT_EQ(d.rows(subGroups(kTeacherA, kDisciplineA, 5) + " ORDER BY subgroup"), (Rows{{"1", "1 - [ИТ-21, ИТ-22]"},
                                                                                          {"2", "<null>"},
                                                                                          {"3", "3 - [Заочники]"},
                                                                                          {"5", "5 - [Экономисты]"},
                                                                                          {"6", "6 - [Филологи]"}}));
    EXPECT_EQ(d.rows(subGroups(kTeacherB, kDisciplineTwoCredits, 6)), (Rows{{"2", "<null>"}}));
    EXPECT_EQ(d.rows("SELECT DISTINCT subgroup FROM RRNKkrdt WHERE id_a_year=15 AND id_kafedra=1 AND id_teacher=1 AND "
                     "id_discipline=1 AND id_examination=1 AND id_o_z=0 AND id_w_s=1 ORDER BY subgroup"),
              (Rows{{"1"}, {"2"}, {"4"}, {"5"}, {"6"}}));
    const auto list = d.rows(streamsList(kTeacherA, kDisciplineA, 5));
    ASSERT_EQ(list.size(), 9u);  // every group's registrations
    EXPECT_EQ(list[0], (std::vector<std::string>{"1", "1", list[0][2], "1п (ИТ-21) - Абдуллаев Тимур Русланович"}));
    EXPECT_EQ(list[2][3], "1п (ИТ-21) - Смирнова Алина Викторовна");
    EXPECT_EQ(list[3][3], "2п (ИТ-21) - Волков Артём Денисович");
    EXPECT_EQ(list[4][3].rfind("3п (ИТз-21) - ", 0), 0u);
    EXPECT_EQ(list[8][0], n(kFacultyC));
}

TEST(QtlSchema, RegisteringStatements) {
    QtlDb d;
    EXPECT_EQ(
        d.rows("SELECT id_a_year, id_w_s, id_f_educ, endDate, id_group FROM V_Date_reg_DFS GROUP BY id_a_year, id_w_s, "
               "id_f_educ, endDate, id_group HAVING (id_a_year =15) AND (id_w_s =1) AND (id_group = 1)"),
        (Rows{{"15", "1", "0", "2099-12-31 00:00:00", "1"}}));
    EXPECT_EQ(d.scalar("SELECT endDate FROM V_Date_reg_DFS WHERE id_a_year = 15 AND id_w_s = 1 AND id_group = " +
                       n(kGroupClosed)),
              "2020-06-30 00:00:00");
    EXPECT_EQ(d.rows("SELECT subgroup,id_rrnkKrdt,id_vid_zaniatiy,id_ebe_var FROM RRNKkrdt WHERE (id_w_s =         1) "
                     "AND   (id_discipline =  1) AND   (id_teacher =     1) AND   (id_a_year =      15) "
                     "AND   (id_kafedra =     1) AND   (id_examination = 1) AND   (subgroup =       2) "
                     "AND   (id_vid_zaniatiy is not NULL) ORDER BY subgroup")[0][2],
              "2");
    const std::string kolst =
        "SELECT id_faculty  FROM RRNK_krdt_kolst WHERE (id_a_year = 15) AND (id_w_s = 1) AND "
        "(id_kafedra = 1) AND (id_teacher = 1) AND (id_discipline = 1) AND (id_examination = 1) AND (subgroup = ";
    EXPECT_EQ(d.scalar(kolst + "1)"), n(kFacultyA));
    EXPECT_EQ(d.scalar(kolst + "5)"), n(kFacultyB));
    const std::string sum = "SELECT  Sum(kredits) as Sumkredits FROM DisciplineForStudent where id_student=";
    EXPECT_EQ(d.scalar(sum + n(kStudentFullCredits) + " and id_semester=4 and id_group=1 and id_a_year=15"), "30");
    EXPECT_EQ(d.scalar(sum + n(kStudentEliseeva) + " and id_semester=4 and id_group=1 and id_a_year=15"), "<null>");

    d.exec(
        "INSERT INTO DisciplineForStudent  (id_student, descGroupNum, id_discipline, id_a_year, id_semester, "
        "id_ins_year, "
        "id_ins_semester, id_teacher, id_group,  id_examination, subGroup, QTL_user, id_faculty, id_kafedra, kredits, "
        "isByPlan, id_vid_zaniatiy) VALUES(4, 1, 1,15,4,15,4,1,1,1,1, 'operator',1,1,5,1,1)");
    const auto id = d.scalar("SELECT last_insert_rowid()");
    EXPECT_GT(std::stoi(id), 0);
    EXPECT_EQ(d.scalar("SELECT date_ins IS NOT NULL FROM DisciplineForStudent WHERE id_disciplineForStudent = " + id),
              "1");
    EXPECT_EQ(d.rows(streamsList(kTeacherA, kDisciplineA, 5)).size(), 10u);
    // Keys are never reused after a deletion, like an identity column.
    d.exec("DELETE FROM DisciplineForStudent WHERE (id_disciplineForStudent = " + id + ")");
    d.exec("INSERT INTO DisciplineForStudent (id_student, id_discipline) VALUES (4, 1)");
    EXPECT_EQ(std::stoi(d.scalar("SELECT last_insert_rowid()")), std::stoi(id) + 1);
}

TEST(QtlSchema, AuditLogStatement) {
    QtlDb d;
    d.exec(
        "INSERT INTO QTL_LOG(\"table\", \"row_id\", \"descr\", \"QTL_User\", \"comp\") VALUES('DisciplineForStudent', "
        "1234, "
        "'Запись с уникальным номером - ''1234'' была удалена - (id_student[15], id_disciplineForStudent[1234]).', "
        "'operator', 'PC7\\10.0.0.5')");
    EXPECT_EQ(
        d.rows("SELECT \"table\", row_id, descr, QTL_User, comp, date_log IS NOT NULL FROM QTL_LOG"),
        (Rows{{"DisciplineForStudent", "1234",
               "Запись с уникальным номером - '1234' была удалена - (id_student[15], id_disciplineForStudent[1234]).",
               "operator", "PC7\\10.0.0.5", "1"}}));
}

TEST(QtlSchema, StudentLookupStatements) {
    QtlDb d;
    // The student with two groups appears once per group; case does not matter.
    EXPECT_EQ(d.rows(search("ёЛКИН", "operator")),
              (Rows{{"5", "Ёлкина Мария Петровна", "1", "ИТ-21", "1", "operator"},
                    {"5", "Ёлкина Мария Петровна", "6", "ЭК-21", "2", "operator"}}));
    // Students of faculty C are not operator's; the invisible viewer finds nobody.
    const auto all = d.rows(search("", "operator"));
    EXPECT_EQ(all.size(), 47u);  // 10 + 5 groups of 6 in faculties A and B, one student twice
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end(), [](const auto& a, const auto& b) {
        return devserver::qtl::text::collate(a[1], b[1]) < 0;
    }));
    EXPECT_TRUE(std::none_of(all.begin(), all.end(), [](const auto& r) { return r[4] == "3"; }));
    EXPECT_TRUE(d.rows(search("", "viewer")).empty());
    EXPECT_EQ(d.rows(search("", "operator2")).size(), 6u);

    const auto regs = d.rows(registrationsOf(kStudentAbdullaev));
    ASSERT_EQ(regs.size(), 2u);
    EXPECT_EQ(regs[0][3], "1 семестр");
    EXPECT_EQ(regs[1], (std::vector<std::string>{regs[1][0], "1", "4", "3 семестр", "1", "Программирование", "5", "1",
                                                 "1", "Экзамен", "1", "Абрамов Андрей Викторович"}));
    const auto full = d.rows(registrationsOf(kStudentFullCredits));
    ASSERT_EQ(full.size(), 6u);
    EXPECT_EQ(full[0][5], "Алгоритмы и структуры данных");
    EXPECT_TRUE(d.rows(registrationsOf(kStudentEliseeva)).empty());
}

TEST(QtlLargeData, BuildsAUniversityThatAnswersEveryLookup) {
    QtlDb d("large");
    EXPECT_GE(std::stoi(d.scalar("SELECT count(*) FROM student")), 20000);
    EXPECT_GE(std::stoi(d.scalar("SELECT count(*) FROM DisciplineForStudent")), 300000);
    // The hand-placed rows are still there.
    EXPECT_EQ(d.scalar("SELECT count(*) FROM DisciplineForStudent WHERE id_student = " + n(kStudentFullCredits)), "6");

    const int bigTeacher =
        std::stoi(d.scalar("SELECT id_teacher FROM DisciplineForStudent WHERE id_ins_year = 15 "
                           "GROUP BY id_teacher ORDER BY count(*) DESC LIMIT 1"));
    const auto cls =
        d.rows("SELECT id_discipline, kredits FROM DisciplineForStudent WHERE id_teacher = " + n(bigTeacher) +
               " AND id_ins_year = 15 AND id_examination = 1 LIMIT 1");
    const std::vector<std::string> statements = {
        search("", "operator"),
        search("ов", "operator"),
        search("Ё", "operator"),
        cls.empty() ? std::string("SELECT 1") : streamsList(bigTeacher, std::stoi(cls[0][0]), std::stoi(cls[0][1])),
        registrationsOf(kLargeFirstStudent + 777),
        "SELECT kafedra.f1 AS kafedra, kafedra.id_kafedra, RRNKkrdt.id_a_year FROM kafedra INNER JOIN RRNKkrdt ON "
        "kafedra.id_kafedra = RRNKkrdt.id_kafedra GROUP BY kafedra.f1, kafedra.id_kafedra, RRNKkrdt.id_a_year "
        "HAVING (RRNKkrdt.id_a_year = 15) ORDER BY kafedra",
        "SELECT DISTINCT educ_sh.id_a_year, a_year.p32 FROM educ_sh, a_year WHERE educ_sh.id_a_year = a_year.id_a_year "
        "ORDER BY a_year.p32",
        "SELECT  Sum(kredits) as Sumkredits FROM DisciplineForStudent where id_student=100500 and id_semester=4 "
        "and id_group=1020 and id_a_year=15",
    };
    for (const auto& sql : statements) {
        const auto r = d.rows(sql);
        EXPECT_FALSE(r.empty()) << sql;
    }
    for (int group : {kLargeFirstGroup + 5, kLargeFirstGroup + 600}) {
        auto out = d.call("GET_KPV_Students", {pos(I(group)), pos(I(1001)), pos(I(15)), pos(I(1)), pos(I(1)), pos(I(5)),
                                               pos(I(kUserOperator))});
        EXPECT_EQ(out.results.at(0).rows.size(), 25u);
    }
}
