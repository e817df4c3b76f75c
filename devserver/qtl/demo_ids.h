// Ids of the demo data (`small`; `large` holds the same rows plus a generated university).
// Tests and benchmarks use these instead of literal numbers. devserver/README.md describes the
// situations they stand for.
#pragma once

namespace devserver::qtl::demo {

// ---- accounts -------------------------------------------------------------------------------
inline constexpr const char* kSettingsUser = "qtl_entry";  // settings-file database account
inline constexpr const char* kSettingsPassword = "entry_pw";
// The database account GET_USER hands to "operator": what tests and benchmarks run the
// workstation's statements as (the settings-file account may only call GET_USER).
inline constexpr const char* kOperatorDbUser = "qtl_op";
inline constexpr const char* kOperatorDbPassword = "op_pw_33";
inline constexpr int kUserOperator = 1;  // "operator"/"operator": removal right, faculties A and B
inline constexpr int kUserOperator2 = 2;  // "operator2"/"operator2": removal right, faculty C only
inline constexpr int kUserViewer = 3;  // "viewer"/"viewer1": no removal right, invisible (search finds nobody)
inline constexpr int kUserForced = 4;  // "newbie"/"newbie1": password state -1 (change forced)
inline constexpr int kUserAged = 5;  // "aged"/"aged12": password state 19 (change asked at first press)
inline constexpr int kUserBlocked = 6;  // "blocked"/"blocked1": refused with kBlockedText
inline constexpr const char* kBlockedText = "Учётная запись заблокирована. Обратитесь к администратору.";
inline constexpr const char* kWrongPasswordText = "Неверный логин или пароль";
inline constexpr int kNewestVersion = 13;  // GET_USER column 5 (QTL_Program row "QTL 33")
inline constexpr int kCreditLimitOz0 = 30;  // VuzDefaults 26
inline constexpr int kCreditLimitOz1 = 25;  // VuzDefaults 27

// ---- calendar -------------------------------------------------------------------------------
inline constexpr int kYearOld = 10;  // "2021-2022": hidden by "id_a_year>10", no classes
inline constexpr int kYearPrevious = 14;  // "2025-2026": groups in course 1, a few classes and plans
inline constexpr int kYearCurrent = 15;  // "2026-2027": groups in course 2, the demo's work year
inline constexpr int kYearNext = 16;  // "2027-2028": listed, but no departments have classes
inline constexpr int kWsAutumn = 1;  // "Осенний"
inline constexpr int kWsSpring = 2;  // "Весенний"
inline constexpr int kWs3 = 3;  // "Летний": every group of the faculty is offered
// Semester ids: (course - 1) * 3 + kind of term.
inline constexpr int kSemesterCourse1Autumn = 1;  // "1 семестр" (registrations of kYearPrevious)
inline constexpr int kSemesterCourse2Autumn = 4;  // "3 семестр": registering semester of kYearCurrent, autumn
inline constexpr int kSemesterCourse2Spring = 5;  // "4 семестр"
inline constexpr int kSemesterCourse2Summer = 6;  // "Летний семестр 2 курса"

// ---- structure ------------------------------------------------------------------------------
inline constexpr int kFacultyA = 1;  // "Факультет информационных технологий" (operator's)
inline constexpr int kFacultyB = 2;  // "Экономический факультет" (operator's)
inline constexpr int kFacultyC = 3;  // "Филологический факультет" (operator2's, not operator's)
inline constexpr int kKafedraA = 1;  // "Кафедра информатики" (faculty A)
inline constexpr int kKafedraB = 2;  // "Кафедра высшей математики" (faculty A); teachers Ежов, Ёлкин, Жукова
inline constexpr int kKafedraC = 3;  // "Кафедра экономической теории" (faculty B)
inline constexpr int kKafedraD = 4;  // "Кафедра русского языка и литературы" (faculty C)
inline constexpr int kKafedraNoClasses = 5;  // "Кафедра физического воспитания": staff, no classes

inline constexpr int kExamA = 1;  // "Экзамен"
inline constexpr int kExamCredit = 2;  // "Зачёт"
inline constexpr int kExamDiff = 3;  // "Дифференцированный зачёт"
inline constexpr int kExamCourseWork = 4;  // "Курсовая работа": only a row without lesson kind (never offered)

// ---- teachers (t_fio "Фамилия И.О.") ---------------------------------------------------------
inline constexpr int kTeacherA = 1;  // Абрамов А.В., kafedra A: kDisciplineA to groups of faculties A, B and C
inline constexpr int kTeacherB = 2;  // Борисова Е.Н., kafedra A: kDisciplineTwoCredits (5 and 6 credits)
inline constexpr int kTeacherGuest =
    3;  // Гусев П.И.: staff of kafedra B, teaches in kafedra A (not in GetTFIO_with_pps(4, A))
inline constexpr int kTeacherE = 4;  // Ежов Д.С., kafedra B (order test: Ежов < Ёлкин < Жукова)
inline constexpr int kTeacherYo = 5;  // Ёлкин С.П., kafedra B
inline constexpr int kTeacherZh = 6;  // Жукова О.А., kafedra B
inline constexpr int kTeacherNoRating = 7;  // Зайцев И.О., kafedra B: only rows with prov_reyt 0, never listed
inline constexpr int kTeacherEcon = 8;  // Кузнецова М.И., kafedra C
inline constexpr int kTeacherPhil = 9;  // Лебедев Н.Ю., kafedra D
inline constexpr int kTeacherSport = 10;  // Морозов В.А., kafedra kKafedraNoClasses
inline constexpr int kTeacherIdle = 11;  // Васильева Т.М.: staff of kafedra A without classes

// ---- disciplines (current year, kind of term autumn unless said) ---------------------------
inline constexpr int kDisciplineA = 1;  // "Программирование", kTeacherA, kExamA, 5 credits, streams 1..7
inline constexpr int kDisciplineTwoCredits =
    2;  // "Базы данных", kTeacherB, kExamA, two rows: 5 credits (stream 1) and 6 (stream 2)
inline constexpr int kDisciplineNotInPlan =
    3;  // "Философия науки", kTeacherA, kExamCredit, 3 credits: in no plan (descGroupNum -1)
inline constexpr int kDisciplineSummer =
    4;  // "Учебная практика", kTeacherA, kWs3, kExamCredit, 2 credits, in plan (descGroupNum 10)
inline constexpr int kDisciplineAlgorithms =
    5;  // "Алгоритмы и структуры данных", kTeacherGuest in kafedra A, 4 credits
inline constexpr int kDisciplineCalculus = 6;  // "Математический анализ", kTeacherE, 6 credits
inline constexpr int kDisciplineDiscrete = 7;  // "Дискретная математика", kTeacherYo, 6 credits
inline constexpr int kDisciplinePhysics = 8;  // "Физика", kTeacherZh, kExamDiff, 5 credits
inline constexpr int kDisciplineHistory = 9;  // "История", kTeacherPhil (kafedra D), 5 credits
inline constexpr int kDisciplineEnglish = 10;  // "Английский язык", kTeacherPhil, kExamCredit, 4 credits
inline constexpr int kDisciplineEconomics = 11;  // "Экономическая теория", kTeacherEcon, 5 credits
inline constexpr int kDisciplineSpring = 12;  // "Операционные системы", kTeacherA, kWsSpring, 5 credits
inline constexpr int kDisciplineNoRating = 13;  // "Теория вероятностей", kTeacherNoRating, prov_reyt 0
inline constexpr int kCreditsA = 5;  // credits of kDisciplineA
// Streams (subgroup) of kTeacherA / kDisciplineA / kExamA in the current year, autumn:
inline constexpr int kStreamNamed = 1;  // vid 1, dop_potokname "ИТ-21, ИТ-22", faculty A
inline constexpr int kStreamUnnamed = 2;  // vid 2 (practice, plan has p53 > 0), dop_potokname NULL
inline constexpr int kStreamExtramural = 3;  // vid 1, "Заочники", id_o_z 1
inline constexpr int kStreamLab =
    4;  // vid 3 (lab) but plan has p52 = 0: not in ADOQ_SubGroup, in ADOQ_SubGroup2 (o_z 0)
inline constexpr int kStreamFacultyB = 5;  // vid 1, "Экономисты", RRNK_krdt_kolst faculty B
inline constexpr int kStreamFacultyC = 6;  // vid 1, "Филологи", RRNK_krdt_kolst faculty C
// Plan numbers (descGroupNum) of the speciality of kGroupOz0 in the current year:
inline constexpr int kDescGroupNumA = 1;  // kDisciplineA
inline constexpr int kDescGroupNumSummer = 10;  // kDisciplineSummer

// ---- groups (current year: course 2; previous year: course 1) ------------------------------
inline constexpr int kGroupOz0 = 1;  // "ИТ-21", faculty A, o_z 0, 10 named students (below)
inline constexpr int kGroupOz0b = 2;  // "ИТ-22", faculty A, o_z 0
inline constexpr int kGroupOz1 = 3;  // "ИТз-21", faculty A, o_z 1 (limit kCreditLimitOz1)
inline constexpr int kGroupOz2 = 4;  // "ИТу-21", faculty A, o_z 2 (never limited)
inline constexpr int kGroupNoGs = 5;  // "ИТ-23", faculty A, o_z 0, no g_s row (no plan, no form of study)
inline constexpr int kGroupB = 6;  // "ЭК-21", faculty B
inline constexpr int kGroupClosed =
    7;  // "ЭК-22", faculty B: registration period of the current year ended (2020-06-30)
inline constexpr int kGroupEmpty = 8;  // "ЭК-23", faculty B, no students
inline constexpr int kGroupC = 9;  // "ФЛ-21", faculty C (not operator's)

// ---- students of kGroupOz0, in name order -------------------------------------------------
inline constexpr int kStudentAbdullaev = 1;  // Абдуллаев Тимур Русланович: kDisciplineA stream 1 by "operator"
inline constexpr int kStudentBelova = 2;  // Белова Анастасия Игоревна: kDisciplineA stream 1 by "operator"
inline constexpr int kStudentVolkov = 3;  // Волков Артём Денисович: kDisciplineA stream 2 by "operator"
inline constexpr int kStudentEliseeva = 4;  // Елисеева Дарья Андреевна: no registrations
inline constexpr int kStudentTwoGroups = 5;  // Ёлкина Мария Петровна: movement records in kGroupB and kGroupOz0
inline constexpr int kStudentZhdanov = 6;  // Жданов Кирилл Олегович: no registrations
inline constexpr int kStudentFullCredits =
    7;  // Петров Пётр Петрович: 30 credits in kSemesterCourse2Autumn (6 registrations)
inline constexpr int kStudentSmirnova = 8;  // Смирнова Алина Викторовна: kDisciplineA stream 1 by "operator2"
inline constexpr int kStudentTikhonov = 9;  // Тихонов Максим Сергеевич: kDisciplineTwoCredits (5 credits) by "operator"
inline constexpr int kStudentYakovleva = 10;  // Яковлева Софья Романовна: no registrations
inline constexpr int kGroupOz0Students = 10;
inline constexpr int kStudentsPerOtherGroup = 6;  // every other group but kGroupEmpty
inline constexpr int kFirstStudentGroupB = 35;  // kGroupB: 35..40; 35 and 36 hold kDisciplineA stream 5 by "operator2"
inline constexpr int kFirstStudentGroupC = 47;  // kGroupC: 47..52; 47 and 48 hold kDisciplineA stream 6 by "operator2"
inline constexpr int kFirstStudentGroupOz1 = 17;  // kGroupOz1: 17..22; 17 holds kDisciplineA stream 3 by "operator"

// ---- large data (added after the small rows) ------------------------------------------------
inline constexpr int kLargeFirstFaculty = 101;  // 8 faculties; the first kLargeOperatorFaculties are "operator"'s
inline constexpr int kLargeOperatorFaculties = 2;
inline constexpr int kLargeFirstKafedra = 101;  // 5 per faculty
inline constexpr int kLargeFirstTeacher = 1001;  // 10 per department
inline constexpr int kLargeFirstGroup = 1001;  // 100 per faculty, 25 students each
inline constexpr int kLargeFirstStudent = 100001;

}  // namespace devserver::qtl::demo
