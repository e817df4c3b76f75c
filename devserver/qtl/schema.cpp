// The QTL schema in SQLite terms. Table and column names are those the workstation's statements
// use; column types are the names the engine maps to wire types; every text compares with the
// Cyrillic case-insensitive collation.
#include "internal.h"
#include "qtl.h"

namespace devserver::qtl {
namespace detail {

void exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string text = err ? err : "unknown SQLite error";
        sqlite3_free(err);
        throw std::runtime_error(text);
    }
}

void createTables(sqlite3* db) {
    exec(db, R"SQL(
CREATE TABLE faculty (
  id_faculty INTEGER PRIMARY KEY,
  "p23-2" NVARCHAR(150) COLLATE CYR_CI NOT NULL,
  short_name NVARCHAR(20) COLLATE CYR_CI);

-- Operators of the workstation. password_md5: uppercase MD5 hex of the Windows-1251 bytes.
-- password_state: below 0 forces a change, below 20 asks for one at the first press.
-- refusal: when set, GET_USER refuses the login with this text. db_login: the database account
-- GET_USER hands out (QTL_DbAccount.name).
CREATE TABLE QTL_User (
  id_QTL_user INTEGER PRIMARY KEY,
  QTL_login NVARCHAR(50) COLLATE CYR_CI NOT NULL UNIQUE,
  user_name NVARCHAR(150) COLLATE CYR_CI,
  visible BIT NOT NULL DEFAULT 1,
  canRemoveDFSFromExStudent BIT NOT NULL DEFAULT 0,
  password_md5 NVARCHAR(32) COLLATE CYR_CI NOT NULL,
  password_state INT NOT NULL DEFAULT 90,
  refusal NVARCHAR(255) COLLATE CYR_CI,
  db_login NVARCHAR(20) COLLATE CYR_CI,
  last_login DATETIME,
  last_ip NVARCHAR(50) COLLATE CYR_CI,
  last_comp NVARCHAR(255) COLLATE CYR_CI);

CREATE TABLE user_faculty (
  id_user_faculty INTEGER PRIMARY KEY,
  id_login INT NOT NULL,
  faculty INT NOT NULL,
  UNIQUE (id_login, faculty));

-- SQL Server authentication: the settings-file account and the accounts GET_USER hands out.
-- Names compare case-insensitively, passwords exactly.
CREATE TABLE QTL_DbAccount (
  id_db_account INTEGER PRIMARY KEY,
  name NVARCHAR(20) COLLATE CYR_CI NOT NULL UNIQUE,
  password NVARCHAR(20) NOT NULL,
  purpose NVARCHAR(100) COLLATE CYR_CI);

-- Newest version per program tag, returned by GET_USER in column 5.
CREATE TABLE QTL_Program (
  tag NVARCHAR(50) COLLATE CYR_CI PRIMARY KEY,
  version INT NOT NULL);

CREATE TABLE VuzDefaults (
  id_vuz_defaults INTEGER PRIMARY KEY,
  id_field INT,
  descr NVARCHAR(255) COLLATE CYR_CI);

CREATE TABLE w_s (
  id_w_s INTEGER PRIMARY KEY,
  p42 NVARCHAR(50) COLLATE CYR_CI NOT NULL,
  ws_sort INT NOT NULL);

CREATE TABLE a_year (
  id_a_year INTEGER PRIMARY KEY,
  p32 NVARCHAR(20) COLLATE CYR_CI NOT NULL);

CREATE VIEW VSelForKPV AS SELECT id_a_year, p32 AS year FROM a_year;

CREATE TABLE kafedra (
  id_kafedra INTEGER PRIMARY KEY,
  f1 NVARCHAR(200) COLLATE CYR_CI NOT NULL,
  id_faculty INT);

-- id_kafedra: the department the teacher is on the staff of (GetTFIO_with_pps).
CREATE TABLE teacher (
  id_teacher INTEGER PRIMARY KEY,
  id_kafedra INT,
  f NVARCHAR(50) COLLATE CYR_CI NOT NULL,
  i NVARCHAR(50) COLLATE CYR_CI NOT NULL,
  o NVARCHAR(50) COLLATE CYR_CI);

-- t_fio: "Фамилия И.О."; s_t_fio: the full name.
CREATE TABLE t_fio (
  id_teacher INTEGER PRIMARY KEY,
  t_fio NVARCHAR(100) COLLATE CYR_CI NOT NULL,
  s_t_fio NVARCHAR(255) COLLATE CYR_CI NOT NULL);

CREATE TABLE discipline (
  id_discipline INTEGER PRIMARY KEY,
  p34 NVARCHAR(255) COLLATE CYR_CI NOT NULL);

CREATE TABLE examination (
  id_examination INTEGER PRIMARY KEY,
  p30 NVARCHAR(100) COLLATE CYR_CI NOT NULL);

CREATE TABLE vid_zaniatiy (
  id_vid_zaniatiy INTEGER PRIMARY KEY,
  name NVARCHAR(100) COLLATE CYR_CI NOT NULL);

-- p107: the speciality, p108: its form of study (shown after "Форма обучение: ").
CREATE TABLE specialityV (
  id_speciality INTEGER PRIMARY KEY,
  p107 NVARCHAR(255) COLLATE CYR_CI NOT NULL,
  p108 NVARCHAR(100) COLLATE CYR_CI,
  id_faculty INT);

-- o_z: form of study, 0 full-time, 1 extramural, 2 other (no credit limit).
CREATE TABLE "group" (
  id_group INTEGER PRIMARY KEY,
  id_faculty INT NOT NULL,
  p20 NVARCHAR(150) COLLATE CYR_CI NOT NULL,
  o_z INT NOT NULL DEFAULT 0);

CREATE TABLE g_s (
  id_group INTEGER PRIMARY KEY,
  id_speciality INT NOT NULL);

CREATE TABLE rate (
  id_rate INTEGER PRIMARY KEY,
  name NVARCHAR(50) COLLATE CYR_CI NOT NULL);

-- The course (rate) of a group in an academic year.
CREATE TABLE g_r_y (
  id_g_r_y INTEGER PRIMARY KEY,
  id_group INT NOT NULL,
  id_a_year INT NOT NULL,
  id_rate INT NOT NULL,
  UNIQUE (id_group, id_a_year));

-- The semesters of a course: one per kind of term.
CREATE TABLE semester (
  id_semester INTEGER PRIMARY KEY,
  id_rate INT NOT NULL,
  id_w_s INT NOT NULL,
  p43 NVARCHAR(100) COLLATE CYR_CI NOT NULL);

-- Curricula: a discipline of a speciality's course in a kind of term. descGroupNum is the
-- discipline's number in that plan; p52/p53/srs are lab, practice and self-study hours.
CREATE TABLE educ_sh (
  id_educ_sh INTEGER PRIMARY KEY,
  id_a_year INT NOT NULL,
  id_speciality INT NOT NULL,
  id_rate INT NOT NULL,
  id_w_s INT NOT NULL,
  id_discipline INT NOT NULL,
  id_kafedra INT NOT NULL,
  id_examination INT,
  kredit INT,
  descGroupNum INT NOT NULL,
  p52 INT NOT NULL DEFAULT 0,
  p53 INT NOT NULL DEFAULT 0,
  srs INT NOT NULL DEFAULT 0);

-- Teaching load: one row per stream (subgroup) of a teacher's class.
CREATE TABLE RRNKkrdt (
  id_rrnkKrdt INTEGER PRIMARY KEY,
  id_a_year INT NOT NULL,
  id_kafedra INT NOT NULL,
  id_teacher INT NOT NULL,
  id_discipline INT NOT NULL,
  id_examination INT NOT NULL,
  kredit INT NOT NULL,
  id_w_s INT NOT NULL,
  prov_reyt INT NOT NULL DEFAULT 1,
  id_vid_zaniatiy INT,
  subgroup INT NOT NULL,
  dop_potokname NVARCHAR(100) COLLATE CYR_CI,
  id_o_z INT NOT NULL DEFAULT 0,
  id_ebe_var INT);

-- The faculties whose students a stream takes.
CREATE TABLE RRNK_krdt_kolst (
  id_kolst INTEGER PRIMARY KEY,
  id_faculty INT NOT NULL,
  id_a_year INT NOT NULL,
  id_w_s INT NOT NULL,
  id_kafedra INT NOT NULL,
  id_teacher INT NOT NULL,
  id_discipline INT NOT NULL,
  id_examination INT NOT NULL,
  subgroup INT NOT NULL,
  kolst INT NOT NULL DEFAULT 0);

-- id_group: the student's current group.
CREATE TABLE student (
  id_student INTEGER PRIMARY KEY,
  s_fio NVARCHAR(250) COLLATE CYR_CI NOT NULL,
  id_group INT NOT NULL);

CREATE VIEW s_fio AS SELECT id_student, s_fio FROM student;
CREATE VIEW s_g AS
  SELECT student.id_student, student.id_group, "group".p20, student.s_fio
  FROM student INNER JOIN "group" ON "group".id_group = student.id_group;
CREATE VIEW g_f AS SELECT id_group, id_faculty FROM "group";

-- Every group a student has belonged to (enrolment and transfers).
CREATE TABLE movement_t (
  id_movement INTEGER PRIMARY KEY,
  id_student INT NOT NULL,
  id_group INT NOT NULL,
  date_move DATETIME,
  reason NVARCHAR(100) COLLATE CYR_CI);

-- Registration deadlines per year, kind of term and group (id_f_educ: the group's o_z).
CREATE TABLE V_Date_reg_DFS (
  id_date_reg INTEGER PRIMARY KEY,
  id_a_year INT NOT NULL,
  id_w_s INT NOT NULL,
  id_f_educ INT,
  endDate DATETIME,
  id_group INT NOT NULL);

CREATE TABLE DisciplineForStudent (
  id_disciplineForStudent INTEGER PRIMARY KEY AUTOINCREMENT,
  id_student INT NOT NULL,
  descGroupNum INT,
  id_discipline INT NOT NULL,
  id_a_year INT,
  id_semester INT,
  id_ins_year INT,
  id_ins_semester INT,
  id_teacher INT,
  id_group INT,
  id_examination INT,
  subGroup INT,
  QTL_user NVARCHAR(50) COLLATE CYR_CI,
  id_faculty INT,
  id_kafedra INT,
  kredits INT,
  isByPlan BIT,
  id_vid_zaniatiy INT,
  date_ins DATETIME DEFAULT (strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')));

CREATE TABLE QTL_LOG (
  id_QTL_LOG INTEGER PRIMARY KEY AUTOINCREMENT,
  "table" NVARCHAR(100) COLLATE CYR_CI,
  row_id INT,
  descr NVARCHAR(4000) COLLATE CYR_CI,
  QTL_User NVARCHAR(50) COLLATE CYR_CI,
  comp NVARCHAR(300) COLLATE CYR_CI,
  date_log DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')));
)SQL");
}

// Made after the data is in: bulk loading is faster without them.
void createIndexes(sqlite3* db) {
    exec(db, R"SQL(
CREATE INDEX ix_user_faculty_faculty ON user_faculty (faculty);
CREATE INDEX ix_kafedra_faculty ON kafedra (id_faculty);
CREATE INDEX ix_teacher_kafedra ON teacher (id_kafedra);
CREATE INDEX ix_t_fio_name ON t_fio (t_fio);
CREATE INDEX ix_group_faculty ON "group" (id_faculty, p20);
CREATE INDEX ix_g_r_y_year ON g_r_y (id_a_year, id_rate);
CREATE INDEX ix_semester_rate ON semester (id_rate, id_w_s);
CREATE INDEX ix_educ_sh_class ON educ_sh (id_a_year, id_discipline, id_kafedra);
CREATE INDEX ix_educ_sh_plan ON educ_sh (id_speciality, id_a_year, id_rate, id_w_s, id_discipline);
CREATE INDEX ix_rrnk_teacher ON RRNKkrdt (id_a_year, id_kafedra, id_teacher, id_w_s, id_discipline);
CREATE INDEX ix_rrnk_discipline ON RRNKkrdt (id_teacher, id_discipline);
CREATE INDEX ix_kolst_stream ON RRNK_krdt_kolst (id_a_year, id_kafedra, id_teacher, id_discipline, subgroup);
CREATE INDEX ix_student_group ON student (id_group, s_fio);
CREATE INDEX ix_student_name ON student (s_fio);
CREATE INDEX ix_movement_student ON movement_t (id_student, id_group);
CREATE INDEX ix_movement_group ON movement_t (id_group);
CREATE INDEX ix_date_reg ON V_Date_reg_DFS (id_group, id_a_year, id_w_s);
CREATE INDEX ix_dfs_student ON DisciplineForStudent (id_student, id_discipline, id_ins_year);
CREATE INDEX ix_dfs_teacher ON DisciplineForStudent (id_teacher, id_discipline, id_ins_year);
CREATE INDEX ix_dfs_semester ON DisciplineForStudent (id_ins_semester);
CREATE INDEX ix_log_row ON QTL_LOG (row_id);
)SQL");
}

}  // namespace detail

void createDatabase(sqlite3* db, const std::string& size) {
    if (size != "small" && size != "large" && size != "none")
        throw std::runtime_error("unknown demo size '" + size + "' (small, large or none)");
    registerFunctions(db);
    detail::exec(db, "BEGIN");
    try {
        detail::createTables(db);
        if (size == "none")
            detail::fillReference(db);
        else
            detail::fillSmall(db);
        if (size == "large") detail::fillLarge(db);
        detail::createIndexes(db);
        detail::exec(db, "COMMIT");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    // Statistics let the planner pick the selective indexes on the large data.
    detail::exec(db, "ANALYZE");
}

}  // namespace devserver::qtl
