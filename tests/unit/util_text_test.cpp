// Text helpers: SQL quoting, the stored form of settings texts, the code page and the digest.
#include "util/errors.h"
#include "util/util.h"

#include <gtest/gtest.h>

using namespace qtl;

TEST(WrapInQuotes, QuotesAndDoublesEveryQuote) {
    EXPECT_EQ(WrapInQuotes(QString()), QStringLiteral("''"));
    EXPECT_EQ(WrapInQuotes(QStringLiteral("operator")), QStringLiteral("'operator'"));
    EXPECT_EQ(WrapInQuotes(QStringLiteral("O'Brien")), QStringLiteral("'O''Brien'"));
    EXPECT_EQ(WrapInQuotes(QStringLiteral("'")), QStringLiteral("''''"));
    EXPECT_EQ(WrapInQuotes(QStringLiteral("a''b")), QStringLiteral("'a''''b'"));
    EXPECT_EQ(WrapInQuotes(QStringLiteral("Иванов 'И.'")), QStringLiteral("'Иванов ''И.'''"));
    // Double quotes and brackets are not special inside an SQL string.
    EXPECT_EQ(WrapInQuotes(QStringLiteral("\"x\"[y]")), QStringLiteral("'\"x\"[y]'"));
    EXPECT_EQ(DoubleQuotes(QStringLiteral("d'Art'")), QStringLiteral("d''Art''"));
}

TEST(DecodeStoredText, AddsOneToEveryByteKeepingLength) {
    EXPECT_EQ(DecodeStoredText(QByteArray("\x60\x61\x62", 3)), QByteArray("abc"));
    // 0xFF wraps to a zero byte, which stays inside the value.
    const QByteArray decoded = DecodeStoredText(QByteArray("\x60\xFF\x61", 3));
    ASSERT_EQ(decoded.size(), 3);
    EXPECT_EQ(decoded, QByteArray("a\0b", 3));
    EXPECT_TRUE(DecodeStoredText(QByteArray()).isEmpty());
    // Cyrillic "П" (0xCF) is stored as 0xCE.
    EXPECT_EQ(FromCp1251(DecodeStoredText(QByteArray("\xCE", 1))), QStringLiteral("П"));
}

TEST(Cp1251, RoundTripsCyrillicAndMarksForeignCharacters) {
    const QString text = QStringLiteral("Регистратор ёЁ №5 € «»");
    const QByteArray bytes = ToCp1251(text);
    EXPECT_EQ(bytes.size(), text.size());
    EXPECT_EQ(bytes.left(2), QByteArray("\xD0\xE5"));
    EXPECT_EQ(FromCp1251(bytes), text);
    EXPECT_EQ(ToCp1251(QStringLiteral("a漢b")), QByteArray("a?b"));
    // A character outside the basic plane is one '?', not two.
    EXPECT_EQ(ToCp1251(QString::fromUtf8("x\xF0\x9F\x98\x80y")), QByteArray("x?y"));
}

TEST(Cp1251, FixedTableAgreesWithTheConverterOnEveryByte) {
    QByteArray all;
    for (int i = 0; i < 256; ++i) all.append(char(i));
    const QString viaTable = detail::FromCp1251Table(all);
    const QString viaConverter = FromCp1251(all);
    ASSERT_EQ(viaTable.size(), 256);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(viaTable.at(i).unicode(), viaConverter.at(i).unicode()) << "byte " << i;
    EXPECT_EQ(detail::ToCp1251Table(viaTable), all);
    EXPECT_EQ(detail::ToCp1251Table(QStringLiteral("a漢")), QByteArray("a?"));
}

TEST(Md5Hex, DigestsOfCodePageBytesInUppercase) {
    EXPECT_EQ(Md5Hex(QString()), QStringLiteral("D41D8CD98F00B204E9800998ECF8427E"));
    EXPECT_EQ(Md5Hex(QStringLiteral("abc")), QStringLiteral("900150983CD24FB0D6963F7D28E17F72"));
    EXPECT_EQ(Md5Hex(QStringLiteral("operator")), QStringLiteral("4B583376B2767B923C3E1DA60D10DE59"));
    // Cyrillic is digested as Windows-1251 bytes, not UTF-8.
    EXPECT_EQ(Md5Hex(QStringLiteral("Пароль")), QStringLiteral("08F8E03BD59A7C67DC44028B3E073D5E"));
    EXPECT_EQ(Md5Hex(QStringLiteral("Привет, мир! ёЁ№")), QStringLiteral("DF466FC6220698268C89F7D1234CDFBC"));
}

TEST(StrToInt, AcceptsWholeDecimalNumbersOnly) {
    EXPECT_EQ(StrToInt(QStringLiteral("0")), 0);
    EXPECT_EQ(StrToInt(QStringLiteral("1234")), 1234);
    EXPECT_EQ(StrToInt(QStringLiteral("-17")), -17);
    EXPECT_EQ(StrToInt(QStringLiteral("+5")), 5);
    EXPECT_EQ(StrToInt(QStringLiteral(" 42 ")), 42);
    EXPECT_EQ(StrToInt(QStringLiteral("2147483647")), 2147483647);
    EXPECT_EQ(StrToInt(QStringLiteral("-2147483648")), -2147483647 - 1);
    for (const char* bad : {"", " ", "-", "+", "12a", "1.5", "1e3", "0x10", "2147483648", "-2147483649",
                            "99999999999999999999", "1 2", "١٢"}) {
        EXPECT_THROW(StrToInt(QString::fromUtf8(bad)), ConversionError) << bad;
    }
    try {
        StrToInt(QStringLiteral("abc"));
        FAIL() << "no error";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.text(), QStringLiteral("'abc' is not a valid integer value"));
    }
}
