// Deterministic demo data. `small` holds hand-placed situations the tests rely on (ids in
// demo_ids.h); `large` adds a generated university for benchmarks.
#include "demo_ids.h"
#include "internal.h"
#include "text.h"

#include <map>
#include <set>
#include <tuple>
#include <vector>

namespace devserver::qtl::detail {

// ---- Stmt -------------------------------------------------------------------------------------

Stmt::Stmt(sqlite3* db, const std::string& sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string(sqlite3_errmsg(db)) + " in: " + sql);
}

Stmt::~Stmt() {
    sqlite3_finalize(stmt_);
}

void Stmt::bind(std::initializer_list<Param> params) {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    int i = 1;
    for (const auto& p : params) {
        if (std::holds_alternative<std::int64_t>(p))
            sqlite3_bind_int64(stmt_, i, std::get<std::int64_t>(p));
        else if (std::holds_alternative<double>(p))
            sqlite3_bind_double(stmt_, i, std::get<double>(p));
        else if (std::holds_alternative<std::string>(p)) {
            const auto& s = std::get<std::string>(p);
            sqlite3_bind_text(stmt_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        } else
            sqlite3_bind_null(stmt_, i);
        ++i;
    }
}

bool Stmt::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw std::runtime_error(sqlite3_errmsg(db_));
}

void Stmt::run(std::initializer_list<Param> params) {
    bind(params);
    while (step()) {}
    sqlite3_reset(stmt_);
}

// ---- names ------------------------------------------------------------------------------------

namespace {

// Surnames in the masculine form; all take "а" in the feminine.
const char* const kSurnames[] = {
    "Иванов",     "Смирнов",   "Кузнецов",  "Попов",       "Васильев",   "Петров",    "Соколов",  "Михайлов",
    "Новиков",    "Фёдоров",   "Морозов",   "Волков",      "Алексеев",   "Лебедев",   "Семёнов",  "Егоров",
    "Павлов",     "Козлов",    "Степанов",  "Николаев",    "Орлов",      "Андреев",   "Макаров",  "Никитин",
    "Захаров",    "Зайцев",    "Соловьёв",  "Борисов",     "Яковлев",    "Григорьев", "Романов",  "Воробьёв",
    "Сергеев",    "Кузьмин",   "Фролов",    "Александров", "Дмитриев",   "Королёв",   "Гусев",    "Киселёв",
    "Ильин",      "Максимов",  "Поляков",   "Сорокин",     "Виноградов", "Ковалёв",   "Белов",    "Медведев",
    "Антонов",    "Тарасов",   "Жуков",     "Баранов",     "Филиппов",   "Комаров",   "Давыдов",  "Беляев",
    "Герасимов",  "Богданов",  "Осипов",    "Сидоров",     "Матвеев",    "Титов",     "Марков",   "Миронов",
    "Крылов",     "Куликов",   "Карпов",    "Власов",      "Мельников",  "Денисов",   "Гаврилов", "Тихонов",
    "Казаков",    "Афанасьев", "Данилов",   "Савельев",    "Тимофеев",   "Фомин",     "Чернов",   "Абрамов",
    "Мартынов",   "Ефимов",    "Федотов",   "Щербаков",    "Назаров",    "Калинин",   "Исаев",    "Быков",
    "Маслов",     "Родионов",  "Коновалов", "Лазарев",     "Воронин",    "Климов",    "Филатов",  "Голубев",
    "Прохоров",   "Наумов",    "Потапов",   "Журавлёв",    "Трофимов",   "Леонов",    "Соболев",  "Ермаков",
    "Колесников", "Гончаров",  "Емельянов", "Никифоров",   "Грачёв",     "Котов",     "Гришин",   "Архипов",
    "Громов",     "Кириллов",  "Малышев",   "Панов",       "Моисеев",    "Румянцев",  "Акимов",   "Бирюков",
    "Горбунов",   "Ерёмин",    "Галкин",    "Михеев",      "Скворцов",   "Юдин",      "Белоусов", "Нестеров",
    "Симонов",    "Харитонов", "Князев",    "Цветков",     "Воронов",    "Аксёнов",   "Мальцев",  "Логинов",
    "Горшков",    "Савин",     "Краснов",   "Демидов",     "Елисеев",    "Рыбаков",   "Сафонов",  "Плотников",
    "Дёмин",      "Хохлов",    "Жданов",    "Ёлкин",       "Ершов",      "Щукин",     "Уваров",   "Шестаков"};

const char* const kMaleNames[] = {
    "Александр", "Алексей",  "Андрей",    "Антон",   "Артём",    "Борис",      "Вадим",  "Валерий", "Василий",
    "Виктор",    "Владимир", "Владислав", "Глеб",    "Григорий", "Даниил",     "Денис",  "Дмитрий", "Евгений",
    "Егор",      "Иван",     "Игорь",     "Илья",    "Кирилл",   "Константин", "Лев",    "Леонид",  "Максим",
    "Матвей",    "Михаил",   "Никита",    "Николай", "Олег",     "Павел",      "Пётр",   "Роман",   "Руслан",
    "Семён",     "Сергей",   "Степан",    "Тимур",   "Фёдор",    "Юрий",       "Ярослав"};

const char* const kFemaleNames[] = {
    "Александра", "Алина",    "Алёна",  "Анастасия", "Анна",    "Арина",   "Валентина", "Валерия",
    "Вера",       "Виктория", "Галина", "Дарья",     "Диана",   "Евгения", "Екатерина", "Елена",
    "Елизавета",  "Ирина",    "Карина", "Кристина",  "Ксения",  "Лариса",  "Любовь",    "Людмила",
    "Маргарита",  "Марина",   "Мария",  "Надежда",   "Наталья", "Нина",    "Оксана",    "Ольга",
    "Полина",     "Светлана", "Софья",  "Татьяна",   "Ульяна",  "Юлия",    "Яна",       "Ярослава"};

// Patronymics, masculine and feminine.
const char* const kPatronymics[][2] = {{"Александрович", "Александровна"},
                                       {"Алексеевич", "Алексеевна"},
                                       {"Андреевич", "Андреевна"},
                                       {"Антонович", "Антоновна"},
                                       {"Борисович", "Борисовна"},
                                       {"Вадимович", "Вадимовна"},
                                       {"Валерьевич", "Валерьевна"},
                                       {"Васильевич", "Васильевна"},
                                       {"Викторович", "Викторовна"},
                                       {"Владимирович", "Владимировна"},
                                       {"Геннадьевич", "Геннадьевна"},
                                       {"Григорьевич", "Григорьевна"},
                                       {"Денисович", "Денисовна"},
                                       {"Дмитриевич", "Дмитриевна"},
                                       {"Евгеньевич", "Евгеньевна"},
                                       {"Егорович", "Егоровна"},
                                       {"Иванович", "Ивановна"},
                                       {"Игоревич", "Игоревна"},
                                       {"Ильич", "Ильинична"},
                                       {"Кириллович", "Кирилловна"},
                                       {"Константинович", "Константиновна"},
                                       {"Леонидович", "Леонидовна"},
                                       {"Максимович", "Максимовна"},
                                       {"Михайлович", "Михайловна"},
                                       {"Николаевич", "Николаевна"},
                                       {"Олегович", "Олеговна"},
                                       {"Павлович", "Павловна"},
                                       {"Петрович", "Петровна"},
                                       {"Романович", "Романовна"},
                                       {"Русланович", "Руслановна"},
                                       {"Сергеевич", "Сергеевна"},
                                       {"Степанович", "Степановна"},
                                       {"Юрьевич", "Юрьевна"},
                                       {"Ярославович", "Ярославовна"},
                                       {"Фёдорович", "Фёдоровна"}};

template <typename T, size_t N>
constexpr int countOf(const T (&)[N]) {
    return static_cast<int>(N);
}

std::string firstLetter(const std::string& s) {
    if (s.empty()) return s;
    const auto b = static_cast<unsigned char>(s[0]);
    const size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : 4;
    return s.substr(0, std::min(len, s.size()));
}

}  // namespace

std::string PersonName::initials() const {
    return surname + " " + firstLetter(name) + "." + firstLetter(patronymic) + ".";
}

PersonName randomPerson(Rng& rng) {
    const bool female = rng.below(2) == 1;
    PersonName p;
    p.surname = kSurnames[rng.below(countOf(kSurnames))];
    if (female) p.surname += "а";
    p.name = female ? kFemaleNames[rng.below(countOf(kFemaleNames))] : kMaleNames[rng.below(countOf(kMaleNames))];
    p.patronymic = kPatronymics[rng.below(countOf(kPatronymics))][female ? 1 : 0];
    return p;
}

// ---- data -------------------------------------------------------------------------------------

namespace {

using namespace devserver::qtl::demo;
using I = std::int64_t;
using S = std::string;
const Stmt::Param kNull{};

constexpr const char* kOpenEnd = "2099-12-31 00:00:00";
constexpr const char* kClosedEnd = "2020-06-30 00:00:00";

int semesterId(int course, int ws) {
    return (course - 1) * 3 + ws;
}

// The inserts both data sets share.
struct Writer {
    sqlite3* db;
    Stmt faculty{db, R"(INSERT INTO faculty (id_faculty, "p23-2", short_name) VALUES (?, ?, ?))"};
    Stmt kafedra{db, "INSERT INTO kafedra (id_kafedra, f1, id_faculty) VALUES (?, ?, ?)"};
    Stmt teacher{db, "INSERT INTO teacher (id_teacher, id_kafedra, f, i, o) VALUES (?, ?, ?, ?, ?)"};
    Stmt tfio{db, "INSERT INTO t_fio (id_teacher, t_fio, s_t_fio) VALUES (?, ?, ?)"};
    Stmt discipline{db, "INSERT INTO discipline (id_discipline, p34) VALUES (?, ?)"};
    Stmt speciality{db, "INSERT INTO specialityV (id_speciality, p107, p108, id_faculty) VALUES (?, ?, ?, ?)"};
    Stmt group{db, R"(INSERT INTO "group" (id_group, id_faculty, p20, o_z) VALUES (?, ?, ?, ?))"};
    Stmt gs{db, "INSERT INTO g_s (id_group, id_speciality) VALUES (?, ?)"};
    Stmt gry{db, "INSERT INTO g_r_y (id_group, id_a_year, id_rate) VALUES (?, ?, ?)"};
    Stmt plan{db,
              "INSERT INTO educ_sh (id_a_year, id_speciality, id_rate, id_w_s, id_discipline, id_kafedra, "
              "id_examination, kredit, descGroupNum, p52, p53, srs) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"};
    Stmt rrnk{db,
              "INSERT INTO RRNKkrdt (id_a_year, id_kafedra, id_teacher, id_discipline, id_examination, kredit, "
              "id_w_s, prov_reyt, id_vid_zaniatiy, subgroup, dop_potokname, id_o_z, id_ebe_var) "
              "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 1)"};
    Stmt kolst{db,
               "INSERT INTO RRNK_krdt_kolst (id_faculty, id_a_year, id_w_s, id_kafedra, id_teacher, "
               "id_discipline, id_examination, subgroup, kolst) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"};
    Stmt student{db, "INSERT INTO student (id_student, s_fio, id_group) VALUES (?, ?, ?)"};
    Stmt movement{db, "INSERT INTO movement_t (id_student, id_group, date_move, reason) VALUES (?, ?, ?, ?)"};
    Stmt deadline{
        db, "INSERT INTO V_Date_reg_DFS (id_a_year, id_w_s, id_f_educ, endDate, id_group) VALUES (?, ?, ?, ?, ?)"};
    Stmt dfs{db,
             "INSERT INTO DisciplineForStudent (id_student, descGroupNum, id_discipline, id_a_year, id_semester, "
             "id_ins_year, id_ins_semester, id_teacher, id_group, id_examination, subGroup, QTL_user, id_faculty, "
             "id_kafedra, kredits, isByPlan, id_vid_zaniatiy, date_ins) "
             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"};
    Stmt userFaculty{db, "INSERT INTO user_faculty (id_login, faculty) VALUES (?, ?)"};

    explicit Writer(sqlite3* d) : db(d) {}

    void addTeacher(int id, int kaf, const PersonName& p) {
        teacher.run({I(id), I(kaf), p.surname, p.name, p.patronymic});
        tfio.run({I(id), p.initials(), p.full()});
    }
    // A stream of a class, with the faculty whose students it takes.
    void addStream(int year, int kaf, int teacherId, int disc, int exam, int kredit, int ws, int provReyt,
                   Stmt::Param vid, int sub, Stmt::Param dop, int oz, int facultyId) {
        rrnk.run({I(year), I(kaf), I(teacherId), I(disc), I(exam), I(kredit), I(ws), I(provReyt), std::move(vid),
                  I(sub), std::move(dop), I(oz)});
        kolst.run({I(facultyId), I(year), I(ws), I(kaf), I(teacherId), I(disc), I(exam), I(sub), I(25)});
    }
    void addDeadlines(int groupId, int oz, int year, const char* end) {
        for (int ws = 1; ws <= 3; ++ws) deadline.run({I(year), I(ws), I(oz), S(end), I(groupId)});
    }
    struct Registration {
        int student, group, discipline, teacher, kafedra, exam, subGroup, kredits, descGroupNum, vid, faculty;
        const char* login;
        int year = kYearCurrent;
        int semester = kSemesterCourse2Autumn;
    };
    void addRegistration(const Registration& r) {
        dfs.run({I(r.student), I(r.descGroupNum), I(r.discipline), I(r.year), I(r.semester), I(r.year), I(r.semester),
                 I(r.teacher), I(r.group), I(r.exam), I(r.subGroup), S(r.login), I(r.faculty), I(r.kafedra),
                 I(r.kredits), I(r.descGroupNum == -1 ? 0 : 1), I(r.vid),
                 S(r.year == kYearCurrent ? "2026-09-05 10:00:00" : "2025-09-05 10:00:00")});
    }
};

}  // namespace

void fillReference(sqlite3* db) {
    exec(db, R"SQL(
INSERT INTO QTL_DbAccount (id_db_account, name, password, purpose) VALUES
  (1, 'qtl_entry', 'entry_pw', 'settings file: calls GET_USER'),
  (2, 'qtl_op', 'op_pw_33', 'operator'),
  (3, 'qtl_op2', 'op2_pw_33', 'operator2'),
  (4, 'qtl_view', 'view_pw_33', 'viewer'),
  (5, 'qtl_new', 'new_pw_33', 'newbie'),
  (6, 'qtl_aged', 'aged_pw_33', 'aged');
INSERT INTO QTL_Program (tag, version) VALUES ('QTL 33', 13);
INSERT INTO VuzDefaults (id_vuz_defaults, id_field, descr) VALUES
  (26, 30, 'Предельное число кредитов в семестре, очная форма'),
  (27, 25, 'Предельное число кредитов в семестре, заочная форма');
INSERT INTO w_s (id_w_s, p42, ws_sort) VALUES (1, 'Осенний', 1), (2, 'Весенний', 2), (3, 'Летний', 3);
INSERT INTO a_year (id_a_year, p32) VALUES
  (10, '2021-2022'), (14, '2025-2026'), (15, '2026-2027'), (16, '2027-2028');
INSERT INTO examination (id_examination, p30) VALUES
  (1, 'Экзамен'), (2, 'Зачёт'), (3, 'Дифференцированный зачёт'), (4, 'Курсовая работа');
INSERT INTO vid_zaniatiy (id_vid_zaniatiy, name) VALUES
  (1, 'Лекция'), (2, 'Практическое занятие'), (3, 'Лабораторное занятие'),
  (4, 'Самостоятельная работа'), (5, 'Учебная практика'), (6, 'Производственная практика');
INSERT INTO rate (id_rate, name) VALUES (1, '1 курс'), (2, '2 курс'), (3, '3 курс'), (4, '4 курс');
)SQL");
    Stmt sem(db, "INSERT INTO semester (id_semester, id_rate, id_w_s, p43) VALUES (?, ?, ?, ?)");
    for (int course = 1; course <= 4; ++course) {
        sem.run({I(semesterId(course, 1)), I(course), I(1), std::to_string(2 * course - 1) + " семестр"});
        sem.run({I(semesterId(course, 2)), I(course), I(2), std::to_string(2 * course) + " семестр"});
        sem.run({I(semesterId(course, 3)), I(course), I(3), "Летний семестр " + std::to_string(course) + " курса"});
    }
}

namespace {

void fillUsers(sqlite3* db) {
    Stmt user(db,
              "INSERT INTO QTL_User (id_QTL_user, QTL_login, user_name, visible, canRemoveDFSFromExStudent, "
              "password_md5, password_state, refusal, db_login) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    struct U {
        int id;
        const char* login;
        const char* password;
        const char* name;
        int visible, canRemove, state;
        const char* refusal;
        const char* dbLogin;
    };
    const U users[] = {
        {kUserOperator, "operator", "operator", "Сидорова Галина Петровна", 1, 1, 50, nullptr, "qtl_op"},
        {kUserOperator2, "operator2", "operator2", "Кириллов Олег Иванович", 1, 1, 50, nullptr, "qtl_op2"},
        {kUserViewer, "viewer", "viewer1", "Наблюдатель", 0, 0, 50, nullptr, "qtl_view"},
        {kUserForced, "newbie", "newbie1", "Новый сотрудник", 1, 0, -1, nullptr, "qtl_new"},
        {kUserAged, "aged", "aged12", "Сотрудник со старым паролем", 1, 0, 19, nullptr, "qtl_aged"},
        {kUserBlocked, "blocked", "blocked1", "Уволенный сотрудник", 1, 0, 50, kBlockedText, nullptr},
    };
    for (const auto& u : users)
        user.run({I(u.id), S(u.login), S(u.name), I(u.visible), I(u.canRemove), text::passwordDigest(u.password),
                  I(u.state), u.refusal ? Stmt::Param(S(u.refusal)) : kNull,
                  u.dbLogin ? Stmt::Param(S(u.dbLogin)) : kNull});
    Stmt uf(db, "INSERT INTO user_faculty (id_login, faculty) VALUES (?, ?)");
    const std::pair<int, int> links[] = {
        {kUserOperator, kFacultyA}, {kUserOperator, kFacultyB}, {kUserOperator2, kFacultyC}, {kUserViewer, kFacultyA},
        {kUserForced, kFacultyA},   {kUserAged, kFacultyA},     {kUserBlocked, kFacultyA}};
    for (const auto& [u, f] : links) uf.run({I(u), I(f)});
}

}  // namespace

void fillSmall(sqlite3* db) {
    fillReference(db);
    fillUsers(db);
    Writer w(db);

    w.faculty.run({I(kFacultyA), S("Факультет информационных технологий"), S("ФИТ")});
    w.faculty.run({I(kFacultyB), S("Экономический факультет"), S("ЭФ")});
    w.faculty.run({I(kFacultyC), S("Филологический факультет"), S("ФФ")});

    w.kafedra.run({I(kKafedraA), S("Кафедра информатики"), I(kFacultyA)});
    w.kafedra.run({I(kKafedraB), S("Кафедра высшей математики"), I(kFacultyA)});
    w.kafedra.run({I(kKafedraC), S("Кафедра экономической теории"), I(kFacultyB)});
    w.kafedra.run({I(kKafedraD), S("Кафедра русского языка и литературы"), I(kFacultyC)});
    w.kafedra.run({I(kKafedraNoClasses), S("Кафедра физического воспитания"), I(kFacultyA)});

    w.addTeacher(kTeacherA, kKafedraA, {"Абрамов", "Андрей", "Викторович"});
    w.addTeacher(kTeacherB, kKafedraA, {"Борисова", "Елена", "Николаевна"});
    w.addTeacher(kTeacherGuest, kKafedraB, {"Гусев", "Павел", "Игоревич"});
    w.addTeacher(kTeacherE, kKafedraB, {"Ежов", "Дмитрий", "Сергеевич"});
    w.addTeacher(kTeacherYo, kKafedraB, {"Ёлкин", "Сергей", "Петрович"});
    w.addTeacher(kTeacherZh, kKafedraB, {"Жукова", "Ольга", "Андреевна"});
    w.addTeacher(kTeacherNoRating, kKafedraB, {"Зайцев", "Игорь", "Олегович"});
    w.addTeacher(kTeacherEcon, kKafedraC, {"Кузнецова", "Марина", "Ивановна"});
    w.addTeacher(kTeacherPhil, kKafedraD, {"Лебедев", "Николай", "Юрьевич"});
    w.addTeacher(kTeacherSport, kKafedraNoClasses, {"Морозов", "Виктор", "Алексеевич"});
    w.addTeacher(kTeacherIdle, kKafedraA, {"Васильева", "Татьяна", "Михайловна"});

    const std::pair<int, const char*> disciplines[] = {{kDisciplineA, "Программирование"},
                                                       {kDisciplineTwoCredits, "Базы данных"},
                                                       {kDisciplineNotInPlan, "Философия науки"},
                                                       {kDisciplineSummer, "Учебная практика"},
                                                       {kDisciplineAlgorithms, "Алгоритмы и структуры данных"},
                                                       {kDisciplineCalculus, "Математический анализ"},
                                                       {kDisciplineDiscrete, "Дискретная математика"},
                                                       {kDisciplinePhysics, "Физика"},
                                                       {kDisciplineHistory, "История"},
                                                       {kDisciplineEnglish, "Английский язык"},
                                                       {kDisciplineEconomics, "Экономическая теория"},
                                                       {kDisciplineSpring, "Операционные системы"},
                                                       {kDisciplineNoRating, "Теория вероятностей"}};
    for (const auto& [id, name] : disciplines) w.discipline.run({I(id), S(name)});

    // Specialities; p108 is the form of study.
    w.speciality.run({I(1), S("Информатика"), S("Очная"), I(kFacultyA)});
    w.speciality.run({I(2), S("Информатика"), S("Заочная"), I(kFacultyA)});
    w.speciality.run({I(3), S("Информатика"), S("Ускоренная (на базе высшего образования)"), I(kFacultyA)});
    w.speciality.run({I(4), S("Экономика"), S("Очная"), I(kFacultyB)});
    w.speciality.run({I(5), S("Филология"), S("Очная"), I(kFacultyC)});

    struct G {
        int id, faculty;
        const char* name;
        int oz, speciality;
    };
    const G groups[] = {{kGroupOz0, kFacultyA, "ИТ-21", 0, 1},    {kGroupOz0b, kFacultyA, "ИТ-22", 0, 1},
                        {kGroupOz1, kFacultyA, "ИТз-21", 1, 2},   {kGroupOz2, kFacultyA, "ИТу-21", 2, 3},
                        {kGroupNoGs, kFacultyA, "ИТ-23", 0, 0},   {kGroupB, kFacultyB, "ЭК-21", 0, 4},
                        {kGroupClosed, kFacultyB, "ЭК-22", 0, 4}, {kGroupEmpty, kFacultyB, "ЭК-23", 0, 4},
                        {kGroupC, kFacultyC, "ФЛ-21", 0, 5}};
    for (const auto& g : groups) {
        w.group.run({I(g.id), I(g.faculty), S(g.name), I(g.oz)});
        if (g.speciality) w.gs.run({I(g.id), I(g.speciality)});
        w.gry.run({I(g.id), I(kYearPrevious), I(1)});
        w.gry.run({I(g.id), I(kYearCurrent), I(2)});
        w.addDeadlines(g.id, g.oz, kYearPrevious, kOpenEnd);
        w.addDeadlines(g.id, g.oz, kYearCurrent, g.id == kGroupClosed ? kClosedEnd : kOpenEnd);
        w.addDeadlines(g.id, g.oz, kYearNext, kOpenEnd);
    }

    // Plans of the current year (course 2). Programming has practice hours but no lab hours.
    struct P {
        int spc, ws, disc, kaf, exam, kredit, num;
    };
    const P plans[] = {{1, 1, kDisciplineA, kKafedraA, kExamA, 5, kDescGroupNumA},
                       {1, 1, kDisciplineTwoCredits, kKafedraA, kExamA, 5, 2},
                       {1, 1, kDisciplineAlgorithms, kKafedraA, kExamA, 4, 3},
                       {1, 1, kDisciplineCalculus, kKafedraB, kExamA, 6, 4},
                       {1, 1, kDisciplineDiscrete, kKafedraB, kExamA, 6, 5},
                       {1, 1, kDisciplinePhysics, kKafedraB, kExamDiff, 5, 6},
                       {1, 1, kDisciplineHistory, kKafedraD, kExamA, 5, 7},
                       {1, 1, kDisciplineEnglish, kKafedraD, kExamCredit, 4, 8},
                       {1, 2, kDisciplineSpring, kKafedraA, kExamA, 5, 9},
                       {1, 3, kDisciplineSummer, kKafedraA, kExamCredit, 2, kDescGroupNumSummer},
                       {2, 1, kDisciplineA, kKafedraA, kExamA, 5, 1},
                       {2, 1, kDisciplineCalculus, kKafedraB, kExamA, 6, 2},
                       {3, 1, kDisciplineA, kKafedraA, kExamA, 5, 1},
                       {4, 1, kDisciplineA, kKafedraA, kExamA, 5, 1},
                       {4, 1, kDisciplineEconomics, kKafedraC, kExamA, 5, 2},
                       {4, 1, kDisciplineCalculus, kKafedraB, kExamA, 6, 3},
                       {5, 1, kDisciplineA, kKafedraA, kExamA, 5, 1},
                       {5, 1, kDisciplineHistory, kKafedraD, kExamA, 5, 2},
                       {5, 1, kDisciplineEnglish, kKafedraD, kExamCredit, 4, 3}};
    for (const auto& p : plans) {
        const bool programming = p.disc == kDisciplineA;
        w.plan.run({I(kYearCurrent), I(p.spc), I(2), I(p.ws), I(p.disc), I(p.kaf), I(p.exam), I(p.kredit), I(p.num),
                    I(programming ? 0 : 16), I(programming ? 30 : 16), I(programming ? 60 : 32)});
    }
    // Previous year (course 1): Programming only.
    for (int spc : {1, 4})
        w.plan.run({I(kYearPrevious), I(spc), I(1), I(kWsAutumn), I(kDisciplineA), I(kKafedraA), I(kExamA), I(5), I(1),
                    I(0), I(30), I(60)});

    // Teaching load of the current year.
    const int Y = kYearCurrent;
    w.addStream(Y, kKafedraA, kTeacherA, kDisciplineA, kExamA, 5, kWsAutumn, 1, I(1), kStreamNamed, S("ИТ-21, ИТ-22"),
                0, kFacultyA);
    w.addStream(Y, kKafedraA, kTeacherA, kDisciplineA, kExamA, 5, kWsAutumn, 1, I(2), kStreamUnnamed, kNull, 0,
                kFacultyA);
    w.addStream(Y, kKafedraA, kTeacherA, kDisciplineA, kExamA, 5, kWsAutumn, 1, I(1), kStreamExtramural, S("Заочники"),
                1, kFacultyA);
    w.addStream(Y, kKafedraA, kTeacherA, kDisciplineA, kExamA, 5, kWsAutumn, 1, I(3), kStreamLab, S("Лабораторная"), 0,
                kFacultyA);
    w.addStream(Y, kKafedraA, kTeacherA, kDisciplineA, kExamA, 5, kWsAutumn, 1, I(1), kStreamFacultyB, S("Экономисты"),
                0, kFacultyB);
    w.addStream(Y, kKafedraA, kTeacherA, kDisciplineA, kExamA, 5, kWsAutumn, 1, I(1), kStreamFacultyC, S("Филологи"), 0,
                kFacultyC);
    w.addStream(Y, kKafedraA, kTeacherA, kDisciplineA, kExamCourseWork, 5, kWsAutumn, 1, kNull, 7, kNull, 0, kFacultyA);
    w.addStream(Y, kKafedraA, kTeacherA, kDisciplineNotInPlan, kExamCredit, 3, kWsAutumn, 1, I(1), 1, S("Общий поток"),
                0, kFacultyA);
    w.addStream(Y, kKafedraA, kTeacherA, kDisciplineSummer, kExamCredit, 2, kWs3, 1, I(5), 1, S("Практика"), 0,
                kFacultyA);
    w.addStream(Y, kKafedraA, kTeacherA, kDisciplineSpring, kExamA, 5, kWsSpring, 1, I(1), 1, kNull, 0, kFacultyA);
    w.addStream(Y, kKafedraA, kTeacherB, kDisciplineTwoCredits, kExamA, 5, kWsAutumn, 1, I(1), 1, S("Основной поток"),
                0, kFacultyA);
    w.addStream(Y, kKafedraA, kTeacherB, kDisciplineTwoCredits, kExamA, 6, kWsAutumn, 1, I(1), 2, kNull, 0, kFacultyA);
    w.addStream(Y, kKafedraA, kTeacherGuest, kDisciplineAlgorithms, kExamA, 4, kWsAutumn, 1, I(1), 1, S("Алгоритмы"), 0,
                kFacultyA);
    w.addStream(Y, kKafedraB, kTeacherE, kDisciplineCalculus, kExamA, 6, kWsAutumn, 1, I(1), 1, kNull, 0, kFacultyA);
    w.addStream(Y, kKafedraB, kTeacherYo, kDisciplineDiscrete, kExamA, 6, kWsAutumn, 1, I(1), 1, kNull, 0, kFacultyA);
    w.addStream(Y, kKafedraB, kTeacherZh, kDisciplinePhysics, kExamDiff, 5, kWsAutumn, 1, I(1), 1, kNull, 0, kFacultyA);
    w.addStream(Y, kKafedraB, kTeacherNoRating, kDisciplineNoRating, kExamA, 5, kWsAutumn, 0, I(1), 1, kNull, 0,
                kFacultyA);
    w.addStream(Y, kKafedraD, kTeacherPhil, kDisciplineHistory, kExamA, 5, kWsAutumn, 1, I(1), 1, kNull, 0, kFacultyA);
    w.addStream(Y, kKafedraD, kTeacherPhil, kDisciplineEnglish, kExamCredit, 4, kWsAutumn, 1, I(1), 1, kNull, 0,
                kFacultyA);
    w.addStream(Y, kKafedraC, kTeacherEcon, kDisciplineEconomics, kExamA, 5, kWsAutumn, 1, I(1), 1, S("Экономисты"), 0,
                kFacultyB);
    w.addStream(kYearPrevious, kKafedraA, kTeacherA, kDisciplineA, kExamA, 5, kWsAutumn, 1, I(1), 1, S("Поток 2025"), 0,
                kFacultyA);

    // Students. The first group is named by hand for order tests; the others come from the generator.
    const char* const firstGroup[] = {"Абдуллаев Тимур Русланович", "Белова Анастасия Игоревна",
                                      "Волков Артём Денисович",     "Елисеева Дарья Андреевна",
                                      "Ёлкина Мария Петровна",      "Жданов Кирилл Олегович",
                                      "Петров Пётр Петрович",       "Смирнова Алина Викторовна",
                                      "Тихонов Максим Сергеевич",   "Яковлева Софья Романовна"};
    int nextStudent = 1;
    for (const char* name : firstGroup) {
        const int id = nextStudent++;
        w.student.run({I(id), S(name), I(kGroupOz0)});
        if (id == kStudentTwoGroups) {
            w.movement.run({I(id), I(kGroupB), S("2025-09-01 00:00:00"), S("Зачисление")});
            w.movement.run({I(id), I(kGroupOz0), S("2026-02-01 00:00:00"), S("Перевод")});
        } else {
            w.movement.run({I(id), I(kGroupOz0), S("2025-09-01 00:00:00"), S("Зачисление")});
        }
    }
    Rng rng(20260901);
    for (int g : {kGroupOz0b, kGroupOz1, kGroupOz2, kGroupNoGs, kGroupB, kGroupClosed, kGroupC})
        for (int k = 0; k < kStudentsPerOtherGroup; ++k) {
            const int id = nextStudent++;
            w.student.run({I(id), randomPerson(rng).full(), I(g)});
            w.movement.run({I(id), I(g), S("2025-09-01 00:00:00"), S("Зачисление")});
        }

    // Registrations of the current year, autumn.
    using R = Writer::Registration;
    auto progr = [&](int student, int group, int sub, int vid, int faculty, const char* login) {
        w.addRegistration(
            R{student, group, kDisciplineA, kTeacherA, kKafedraA, kExamA, sub, 5, 1, vid, faculty, login});
    };
    progr(kStudentAbdullaev, kGroupOz0, kStreamNamed, 1, kFacultyA, "operator");
    progr(kStudentBelova, kGroupOz0, kStreamNamed, 1, kFacultyA, "operator");
    progr(kStudentVolkov, kGroupOz0, kStreamUnnamed, 2, kFacultyA, "operator");
    progr(kStudentSmirnova, kGroupOz0, kStreamNamed, 1, kFacultyA, "operator2");
    progr(kFirstStudentGroupOz1, kGroupOz1, kStreamExtramural, 1, kFacultyA, "operator");
    progr(kFirstStudentGroupB, kGroupB, kStreamFacultyB, 1, kFacultyB, "operator2");
    progr(kFirstStudentGroupB + 1, kGroupB, kStreamFacultyB, 1, kFacultyB, "operator2");
    progr(kFirstStudentGroupC, kGroupC, kStreamFacultyC, 1, kFacultyC, "operator2");
    progr(kFirstStudentGroupC + 1, kGroupC, kStreamFacultyC, 1, kFacultyC, "operator2");
    w.addRegistration(R{kStudentTikhonov, kGroupOz0, kDisciplineTwoCredits, kTeacherB, kKafedraA, kExamA, 1, 5, 2, 1,
                        kFacultyA, "operator"});
    // 6 + 6 + 5 + 5 + 4 + 4 = 30 credits: at the full-time limit.
    const R full[] = {{kStudentFullCredits, kGroupOz0, kDisciplineCalculus, kTeacherE, kKafedraB, kExamA, 1, 6, 4, 1,
                       kFacultyA, "operator"},
                      {kStudentFullCredits, kGroupOz0, kDisciplineDiscrete, kTeacherYo, kKafedraB, kExamA, 1, 6, 5, 1,
                       kFacultyA, "operator"},
                      {kStudentFullCredits, kGroupOz0, kDisciplinePhysics, kTeacherZh, kKafedraB, kExamDiff, 1, 5, 6, 1,
                       kFacultyA, "operator"},
                      {kStudentFullCredits, kGroupOz0, kDisciplineHistory, kTeacherPhil, kKafedraD, kExamA, 1, 5, 7, 1,
                       kFacultyA, "operator"},
                      {kStudentFullCredits, kGroupOz0, kDisciplineEnglish, kTeacherPhil, kKafedraD, kExamCredit, 1, 4,
                       8, 1, kFacultyA, "operator"},
                      {kStudentFullCredits, kGroupOz0, kDisciplineAlgorithms, kTeacherGuest, kKafedraA, kExamA, 1, 4, 3,
                       1, kFacultyA, "operator2"}};
    for (const auto& r : full) w.addRegistration(r);
    // One of the previous year, so a student's registrations span two semesters.
    R old{kStudentAbdullaev, kGroupOz0, kDisciplineA, kTeacherA, kKafedraA, kExamA, 1, 5, 1, 1, kFacultyA, "operator"};
    old.year = kYearPrevious;
    old.semester = kSemesterCourse1Autumn;
    w.addRegistration(old);
}

void fillLarge(sqlite3* db) {
    Writer w(db);
    Rng rng(33013);
    const char* const facultyNames[] = {"Факультет физики",         "Химический факультет",
                                        "Биологический факультет",  "Исторический факультет",
                                        "Юридический факультет",    "Факультет журналистики",
                                        "Географический факультет", "Механико-математический факультет"};
    const char* const subjects[] = {
        "Физика",      "Химия",       "Биология",      "История",       "Право",       "Журналистика", "География",
        "Механика",    "Алгебра",     "Геометрия",     "Статистика",    "Философия",   "Социология",   "Психология",
        "Педагогика",  "Логика",      "Экология",      "Астрономия",    "Генетика",    "Экономика",    "Менеджмент",
        "Маркетинг",   "Лингвистика", "Риторика",      "Культурология", "Политология", "Археология",   "Геология",
        "Информатика", "Электроника", "Оптика",        "Термодинамика", "Топология",   "Картография",  "Анатомия",
        "Ботаника",    "Зоология",    "Риторика речи", "Этика",         "Эстетика"};
    constexpr int kFaculties = 8, kKafPerFaculty = 5, kTeachersPerKaf = 10, kDiscPerKaf = 8;
    constexpr int kSpecPerFaculty = 5, kGroupsPerCourse = 5, kStudentsPerGroup = 25;

    for (int f = 0; f < kFaculties; ++f) {
        const int facultyId = kLargeFirstFaculty + f;
        w.faculty.run({I(facultyId), S(facultyNames[f]), S("Ф" + std::to_string(facultyId))});
        // An operator looks after a few faculties, not the whole university.
        if (f < kLargeOperatorFaculties) w.userFaculty.run({I(kUserOperator), I(facultyId)});
        for (int k = 0; k < kKafPerFaculty; ++k) {
            const int kaf = kLargeFirstKafedra + f * kKafPerFaculty + k;
            w.kafedra.run(
                {I(kaf), "Кафедра " + std::string(subjects[(f * kKafPerFaculty + k) % 40]) + " №" + std::to_string(kaf),
                 I(facultyId)});
            for (int t = 0; t < kTeachersPerKaf; ++t)
                w.addTeacher(kLargeFirstTeacher + (kaf - kLargeFirstKafedra) * kTeachersPerKaf + t, kaf,
                             randomPerson(rng));
            for (int d = 0; d < kDiscPerKaf; ++d) {
                const int disc = 1001 + (kaf - kLargeFirstKafedra) * kDiscPerKaf + d;
                w.discipline.run({I(disc), std::string(subjects[disc % 40]) + " (" + std::to_string(disc) + ")"});
            }
        }
    }

    // Plans: six disciplines per speciality, course, year and autumn/spring term; each class
    // gets a teacher of its department and two streams.
    struct PlanRow {
        int disc, kaf, exam, kredit, num;
    };
    std::map<std::tuple<int, int, int, int>, std::vector<PlanRow>> planOf;  // (spc, year, course, ws)
    std::map<std::tuple<int, int, int, int, int, int>, int> classTeacher;  // (year, disc, kaf, ws, exam, kredit)
    // Keyed by teacher too: two classes of one discipline and form of control (other credits)
    // may have different teachers, and each stream needs its own faculty row.
    std::set<std::tuple<int, int, int, int, int, int, int, int>> kolstDone;
    for (int f = 0; f < kFaculties; ++f)
        for (int s = 0; s < kSpecPerFaculty; ++s) {
            const int spc = 101 + f * kSpecPerFaculty + s;
            w.speciality.run({I(spc), "Специальность " + std::to_string(spc), S(s == 4 ? "Заочная" : "Очная"),
                              I(kLargeFirstFaculty + f)});
            for (int year : {kYearPrevious, kYearCurrent})
                for (int course = 1; course <= 4; ++course)
                    for (int ws : {kWsAutumn, kWsSpring}) {
                        auto& rows = planOf[{spc, year, course, ws}];
                        std::set<int> used;
                        while (static_cast<int>(rows.size()) < 6) {
                            const int idx = rng.below(kKafPerFaculty * kDiscPerKaf);
                            if (!used.insert(idx).second) continue;
                            const int kaf = kLargeFirstKafedra + f * kKafPerFaculty + idx / kDiscPerKaf;
                            const int disc = 1001 + (kaf - kLargeFirstKafedra) * kDiscPerKaf + idx % kDiscPerKaf;
                            PlanRow p{disc, kaf, 1 + rng.below(3), 3 + rng.below(4), static_cast<int>(rows.size()) + 1};
                            rows.push_back(p);
                            w.plan.run({I(year), I(spc), I(course), I(ws), I(p.disc), I(p.kaf), I(p.exam), I(p.kredit),
                                        I(p.num), I(16), I(16), I(32)});
                            auto key = std::make_tuple(year, disc, kaf, ws, p.exam, p.kredit);
                            auto it = classTeacher.find(key);
                            if (it == classTeacher.end()) {
                                const int teacherId = kLargeFirstTeacher +
                                                      (kaf - kLargeFirstKafedra) * kTeachersPerKaf +
                                                      rng.below(kTeachersPerKaf);
                                it = classTeacher.emplace(key, teacherId).first;
                                w.rrnk.run({I(year), I(kaf), I(teacherId), I(disc), I(p.exam), I(p.kredit), I(ws), I(1),
                                            I(1), I(1), S("Поток " + std::to_string(disc)), I(0)});
                                w.rrnk.run({I(year), I(kaf), I(teacherId), I(disc), I(p.exam), I(p.kredit), I(ws), I(1),
                                            I(2), I(2), kNull, I(0)});
                            }
                            for (int sub : {1, 2})
                                if (kolstDone.insert({year, disc, kaf, ws, p.exam, sub, f, it->second}).second)
                                    w.kolst.run({I(kLargeFirstFaculty + f), I(year), I(ws), I(kaf), I(it->second),
                                                 I(disc), I(p.exam), I(sub), I(25)});
                        }
                    }
        }

    // Groups, students and their registrations.
    int studentId = kLargeFirstStudent;
    int groupId = kLargeFirstGroup;
    for (int f = 0; f < kFaculties; ++f)
        for (int s = 0; s < kSpecPerFaculty; ++s) {
            const int spc = 101 + f * kSpecPerFaculty + s;
            const int oz = s == 4 ? 1 : 0;
            for (int course = 1; course <= 4; ++course)
                for (int g = 1; g <= kGroupsPerCourse; ++g) {
                    const int gid = groupId++;
                    w.group.run({I(gid), I(kLargeFirstFaculty + f),
                                 "С" + std::to_string(spc) + "-" + std::to_string(course) + std::to_string(g), I(oz)});
                    w.gs.run({I(gid), I(spc)});
                    w.gry.run({I(gid), I(kYearCurrent), I(course)});
                    if (course > 1) w.gry.run({I(gid), I(kYearPrevious), I(course - 1)});
                    for (int year : {kYearPrevious, kYearCurrent, kYearNext}) w.addDeadlines(gid, oz, year, kOpenEnd);
                    for (int k = 0; k < kStudentsPerGroup; ++k) {
                        const int sid = studentId++;
                        w.student.run({I(sid), randomPerson(rng).full(), I(gid)});
                        w.movement.run({I(sid), I(gid), S("2023-09-01 00:00:00"), S("Зачисление")});
                        for (int year : {kYearPrevious, kYearCurrent}) {
                            const int c = year == kYearCurrent ? course : course - 1;
                            if (c < 1) continue;
                            for (int ws : {kWsAutumn, kWsSpring})
                                for (const auto& p : planOf[{spc, year, c, ws}]) {
                                    const int sub = 1 + sid % 2;
                                    Writer::Registration r{sid,
                                                           gid,
                                                           p.disc,
                                                           classTeacher[{year, p.disc, p.kaf, ws, p.exam, p.kredit}],
                                                           p.kaf,
                                                           p.exam,
                                                           sub,
                                                           p.kredit,
                                                           p.num,
                                                           sub,
                                                           kLargeFirstFaculty + f,
                                                           sid % 3 == 0 ? "operator2" : "operator"};
                                    r.year = year;
                                    r.semester = semesterId(c, ws);
                                    w.addRegistration(r);
                                }
                        }
                    }
                }
        }
}

}  // namespace devserver::qtl::detail
