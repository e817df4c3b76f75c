// The data module: its queries and sources, and the description of a deleted row for its audit record.
#include "dm_u.h"

#include <gtest/gtest.h>

using namespace qtl;

TEST(AuditDescription, PairsJoinedAsKeyBracketValue) {
    EXPECT_EQ(TDM_MB::DescribePairs({}), QString());
    EXPECT_EQ(TDM_MB::DescribePairs({{QStringLiteral("id_group"), QString()}}), QStringLiteral("id_group[]"));
    EXPECT_EQ(TDM_MB::DescribePairs({{QStringLiteral("id_student"), QStringLiteral("15")},
                                     {QStringLiteral("id_disciplineForStudent"), QStringLiteral("1234")}}),
              QStringLiteral("id_student[15], id_disciplineForStudent[1234]"));
    // Values are written as they are, commas and brackets included.
    EXPECT_EQ(TDM_MB::DescribePairs(
                  {{QStringLiteral("a"), QStringLiteral("x, y]")}, {QStringLiteral("b"), QStringLiteral("")}}),
              QStringLiteral("a[x, y]], b[]"));
}

TEST(DataModule, CatalogueOrderNamesAndOwnTexts) {
    TDM_MB dm;
    QStringList names;
    for (QObject* child : dm.children())
        if (qobject_cast<Query*>(child)) names << child->objectName();
    EXPECT_EQ(names, QStringList({"ADOQ_Faculty",   "ADOQ_Kafedra",      "ADOQ_Semester",
                                  "ADOQ_Year",      "ADOQ_Teacher",      "ADOQ_SelectDisciplineForStudent",
                                  "ADOQ_group",     "ADOQ_Exec",         "ADOQ_Examination",
                                  "ADOQ_Teacher2",  "ADOQ_W_S",          "ADOQ_Year2",
                                  "ADOQ_Semester2", "ADOQ_SubGroup",     "ADOQ_SubGroup2",
                                  "ADOQ_SubGroup3", "ADOQ_DATE_reg_DFS", "ADOQ_group_educ",
                                  "ADOQ_SGM",       "ADOQ_V_DFS",        "ADOQ_TEMP"}));
    int sources = 0;
    for (QObject* child : dm.children())
        if (auto* s = qobject_cast<ListSource*>(child)) {
            ++sources;
            EXPECT_EQ(s->objectName().mid(3), s->query()->objectName().mid(5));
        }
    EXPECT_EQ(sources, 17);
    EXPECT_FALSE(dm.ADOCon->isOpen());

    EXPECT_EQ(dm.ADOQ_W_S->sqlText(), QStringLiteral("SELECT * FROM w_s\r\n"));
    EXPECT_EQ(dm.ADOQ_Year->sqlText(), QStringLiteral("SELECT DISTINCT [id_a_year], [year]\r\n  FROM VSelForKPV\r\n"
                                                      "where id_a_year>10\r\nORDER BY [year]\r\n"));
    EXPECT_EQ(dm.ADOQ_Kafedra->parameterNames(), QStringList{"id_a_year"});
    EXPECT_EQ(dm.ADOQ_Semester2->parameterNames(), QStringList({"id_a_year", "id_group"}));
    EXPECT_EQ(dm.ADOQ_Semester2->sqlLines().at(3), QStringLiteral("union "));
    EXPECT_EQ(dm.ADOQ_SubGroup->parameterNames(), QStringList({"id_a_year", "id_kafedra", "id_teacher", "id_discipline",
                                                               "id_examination", "kredit", "id_w_s"}));
    EXPECT_EQ(dm.ADOQ_SubGroup->sqlLines().size(), 20);
    EXPECT_TRUE(dm.ADOQ_SubGroup->sqlLines().at(2).endsWith(QStringLiteral("AND ")));
    EXPECT_EQ(dm.ADOQ_SubGroup2->sqlText(), dm.ADOQ_SubGroup3->sqlText());
    EXPECT_EQ(
        dm.ADOQ_SubGroup2->parameterNames(),
        QStringList({"id_a_year", "id_kafedra", "id_teacher", "id_discipline", "id_examination", "id_o_z", "id_w_s"}));
    // Persistent fields are known before the first opening; other names are not fields.
    for (const char* name : {"id_disciplineForStudent", "id_student", "id_semester", "p43", "id_discipline", "p34",
                             "kredits", "subgroup", "id_examination", "p30", "id_teacher", "s_t_fio"})
        EXPECT_TRUE(dm.ADOQ_V_DFS->hasField(QLatin1String(name))) << name;
    EXPECT_FALSE(dm.ADOQ_V_DFS->hasField(QStringLiteral("s_fio")));
    for (const char* name : {"id_student", "s_fio", "id_group", "p20"})
        EXPECT_TRUE(dm.ADOQ_SGM->hasField(QLatin1String(name))) << name;
    EXPECT_FALSE(dm.ADOQ_SGM->hasField(QStringLiteral("p43")));
}

TEST(DataModule, DeclaredIntegerParametersAreConvertedStrictly) {
    TDM_MB dm;
    dm.ADOQ_Kafedra->setParam(QStringLiteral("id_a_year"), QStringLiteral("15"));
    EXPECT_TRUE(dm.ADOQ_Kafedra->expandedSql().contains(QStringLiteral("(dbo.RRNKkrdt.id_a_year = 15)\r\n")));
    dm.ADOQ_Kafedra->setParam(QStringLiteral("id_a_year"), QStringLiteral("15x"));
    EXPECT_THROW(dm.ADOQ_Kafedra->expandedSql(), ConversionError);
    dm.ADOQ_Kafedra->setParam(QStringLiteral("id_a_year"), QVariant());
    EXPECT_TRUE(dm.ADOQ_Kafedra->expandedSql().contains(QStringLiteral("(dbo.RRNKkrdt.id_a_year = NULL)")));
    // An untyped parameter takes the type of its value.
    dm.ADOQ_Semester2->setParam(QStringLiteral("id_a_year"), 15);
    dm.ADOQ_Semester2->setParam(QStringLiteral("id_group"), QStringLiteral("7'"));
    EXPECT_TRUE(dm.ADOQ_Semester2->expandedSql().contains(QStringLiteral("g_r_y.id_group=N'7'''\r\nORDER BY p43\r\n")));
}
