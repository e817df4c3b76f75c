// Collation, LIKE, code page, digests and the settings file of the QTL database.
#include "qtl/qtl.h"
#include "qtl/text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qtl = devserver::qtl;
namespace text = devserver::qtl::text;

namespace {

// Runs a query on a connection with the QTL functions and returns the first column of each row.
std::vector<std::string> column(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    std::vector<std::string> out;
    while (sqlite3_step(st) == SQLITE_ROW) {
        const auto* p = sqlite3_column_text(st, 0);
        out.push_back(p ? reinterpret_cast<const char*>(p) : "<null>");
    }
    sqlite3_finalize(st);
    return out;
}

struct Db {
    sqlite3* db = nullptr;
    Db() {
        sqlite3_open(":memory:", &db);
        qtl::registerFunctions(db);
    }
    ~Db() { sqlite3_close(db); }
};

}  // namespace

TEST(QtlCollation, FoldsCaseOfCyrillicAndLatin) {
    EXPECT_EQ(text::collate("иванов", "ИВАНОВ"), 0);
    EXPECT_EQ(text::collate("Ёлкин", "ёЛКИН"), 0);
    EXPECT_EQ(text::collate("Operator", "oPERATOR"), 0);
    EXPECT_EQ(text::collate("abc", "abc  "), 0);  // trailing blanks do not count
    EXPECT_NE(text::collate("ежов", "ёжов"), 0);  // е and ё are different letters
}

TEST(QtlCollation, RussianAlphabeticalOrderWithYoAfterYe) {
    EXPECT_LT(text::collate("Ежов", "Ёлкин"), 0);
    EXPECT_LT(text::collate("Ёлкин", "Жуков"), 0);
    EXPECT_LT(text::collate("Еюшкин", "Ёлкин"), 0);  // every е-word before every ё-word
    EXPECT_LT(text::collate("яблоко", "Якорь"), 0);
    EXPECT_LT(text::collate("Zebra", "Абрамов"), 0);  // Latin before Cyrillic
    EXPECT_LT(text::collate("Иван", "Иванов"), 0);

    Db d;
    sqlite3_exec(d.db,
                 "CREATE TABLE t (n TEXT COLLATE CYR_CI);"
                 "INSERT INTO t VALUES ('Жуков'), ('ёлкин'), ('Ежов'), ('абрамов'), ('Борисов'), ('ЯКОВЛЕВ');",
                 nullptr, nullptr, nullptr);
    EXPECT_EQ(column(d.db, "SELECT n FROM t ORDER BY n"),
              (std::vector<std::string>{"абрамов", "Борисов", "Ежов", "ёлкин", "Жуков", "ЯКОВЛЕВ"}));
    EXPECT_EQ(column(d.db, "SELECT count(*) FROM t WHERE n = 'ЁЛКИН'"), std::vector<std::string>{"1"});
    sqlite3_exec(d.db, "INSERT INTO t VALUES ('ЖУКОВ')", nullptr, nullptr, nullptr);
    EXPECT_EQ(column(d.db, "SELECT count(DISTINCT n) FROM t"), std::vector<std::string>{"6"});
}

TEST(QtlLike, CaseInsensitiveWildcards) {
    EXPECT_TRUE(text::like("%иван%", "Иванов Иван Иванович"));
    EXPECT_TRUE(text::like("%ИВАН%", "петр иванов"));
    EXPECT_TRUE(text::like("%ёлк%", "ЁЛКИНА"));
    EXPECT_FALSE(text::like("%ёлк%", "Елкина"));
    EXPECT_TRUE(text::like("Op_rator", "OPERATOR"));
    EXPECT_FALSE(text::like("Op_rator", "Opperator"));
    EXPECT_TRUE(text::like("%%", ""));
    EXPECT_TRUE(text::like("%", "что угодно"));
    EXPECT_FALSE(text::like("_", ""));
    EXPECT_TRUE(text::like("_", "Ж"));  // one character, two bytes
    EXPECT_TRUE(text::like("%a%b%c", "xxaxxbxxc"));
    EXPECT_FALSE(text::like("%a%b%c", "xxaxxcxxb"));
}

TEST(QtlLike, SetsAndEscape) {
    EXPECT_TRUE(text::like("[а-в]%", "Борисов"));
    EXPECT_FALSE(text::like("[а-в]%", "Жуков"));
    EXPECT_TRUE(text::like("[е-ж]%", "Ёлкин"));  // ё lies between е and ж
    EXPECT_TRUE(text::like("[^а]%", "Борисов"));
    EXPECT_TRUE(text::like("100[%]", "100%"));
    EXPECT_FALSE(text::like("100[%]", "1000"));
    EXPECT_TRUE(text::like("a!%b", "a%b", U'!'));
    EXPECT_FALSE(text::like("a!%b", "axb", U'!'));
    EXPECT_TRUE(text::like("[abc", "[abc"));  // an unclosed bracket is an ordinary character
}

TEST(QtlLike, OverridesSqlLikeOperator) {
    Db d;
    EXPECT_EQ(column(d.db, "SELECT 'Ёлкина Мария' LIKE '%МАРИЯ%'"), std::vector<std::string>{"1"});
    EXPECT_EQ(column(d.db, "SELECT 'Елкина' LIKE 'ё%'"), std::vector<std::string>{"0"});
    EXPECT_EQ(column(d.db, "SELECT NULL LIKE '%'"), std::vector<std::string>{"<null>"});
    EXPECT_EQ(column(d.db, "SELECT 'a_b' LIKE 'a\\_b' ESCAPE '\\'"), std::vector<std::string>{"1"});
    EXPECT_EQ(column(d.db, "SELECT 'axb' LIKE 'a\\_b' ESCAPE '\\'"), std::vector<std::string>{"0"});
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(d.db, "SELECT 'a' LIKE 'a' ESCAPE 'xy'", -1, &st, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_step(st), SQLITE_ERROR);
    sqlite3_finalize(st);
}

TEST(QtlText, CodePageDigestAndStoredForm) {
    EXPECT_EQ(text::md5Hex(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(text::md5Hex("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(text::md5Hex("The quick brown fox jumps over the lazy dog"), "9E107D9D372BB6826BD81D3542A419D6");
    // 64 bytes: the padding spills into a second block.
    EXPECT_EQ(text::md5Hex(std::string(64, 'a')), "014842D480B571495A4A0363793F7367");
    EXPECT_EQ(text::toCp1251("Ёж"), "\xA8\xE6");
    EXPECT_EQ(text::fromCp1251("\xC0\xE1\xE2"), "Абв");
    EXPECT_EQ(text::passwordDigest("пароль"), text::md5Hex("\xEF\xE0\xF0\xEE\xEB\xFC"));
    EXPECT_EQ(text::storedForm("abc"), "`ab");
    EXPECT_EQ(text::storedForm("qtl_op"), "psk^no");
    EXPECT_EQ(text::storedForm("Б"), "А");
    EXPECT_THROW(text::toCp1251("日本"), std::runtime_error);
}

TEST(QtlSettingsFile, WritesTheEightyFourByteLayout) {
    const auto path = (std::filesystem::temp_directory_path() / "qtl_settings_test.bin").string();
    qtl::writeSettingsFile(path, "abc", "Пароль", "127.0.0.1,11433", "QTL");
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    ASSERT_EQ(bytes.size(), 84u);
    EXPECT_EQ(bytes.substr(0, 3), "\x60\x61\x62");  // "abc" stored
    EXPECT_EQ(bytes[3], '\0');  // rest of the area stays zero
    EXPECT_EQ(bytes.substr(20, 6), "\xCE\xDF\xEF\xED\xEA\xFB");  // "Пароль" (CF E0 F0 EE EB FC) minus one
    EXPECT_EQ(static_cast<unsigned char>(bytes[40]), 3);
    EXPECT_EQ(static_cast<unsigned char>(bytes[41]), 6);
    EXPECT_EQ(bytes.substr(42, 3), "016");  // "127" minus one
    EXPECT_EQ(bytes.substr(62, 3), "PSK");  // "QTL" minus one
    EXPECT_EQ(static_cast<unsigned char>(bytes[82]), 15);
    EXPECT_EQ(static_cast<unsigned char>(bytes[83]), 3);
}

TEST(QtlSettingsFile, RefusesWhatTheLayoutCannotHold) {
    const auto path = (std::filesystem::temp_directory_path() / "qtl_settings_long.bin").string();
    EXPECT_THROW(qtl::writeSettingsFile(path, std::string(21, 'u'), "p", "s", "QTL"), std::runtime_error);
    EXPECT_NO_THROW(qtl::writeSettingsFile(path, std::string(20, 'u'), "", "s", "QTL"));
    EXPECT_EQ(std::filesystem::file_size(path), 84u);
    std::remove(path.c_str());
    EXPECT_THROW(qtl::writeSettingsFile("/nonexistent-dir/x/QTL", "u", "p", "s", "QTL"), std::runtime_error);
}
