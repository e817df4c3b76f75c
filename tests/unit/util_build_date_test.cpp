// The build date read from an executable's resource directory header, on images built here.
#include "util/util.h"

#include <QTemporaryDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace qtl;

namespace {

void put16(QByteArray& b, int at, std::uint16_t v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char(v >> 8);
}
void put32(QByteArray& b, int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (8 * i)) & 0xFF);
}

std::uint32_t dosStamp(int y, int mo, int d, int h, int mi, int s) {
    const std::uint32_t date = std::uint32_t((y - 1980) << 9 | mo << 5 | d);
    const std::uint32_t time = std::uint32_t(h << 11 | mi << 5 | s / 2);
    return date << 16 | time;
}

struct Section {
    std::string name;  // up to 8 bytes, zero padded
    std::uint32_t stamp;  // written at offset 4 of the section's raw data
};

constexpr int kPeOffset = 0x80;

// The optional header as an image lays it out: its magic (0x10B 32-bit, 0x20B 64-bit, 0 in
// the plain test images), the size the COFF header declares and the bytes it really takes.
struct Optional {
    std::uint16_t magic = 0;
    std::uint16_t declared = 0;
    int actual = 224;
};

// DOS header, PE signature, COFF header, optional header, section headers, then 16 bytes of
// resource directory header per section, the last at the file's end.
QByteArray buildPe(const std::vector<Section>& sections, int declaredSections = -1, Optional optional = {}) {
    const int headers = kPeOffset + 4 + 20 + optional.actual;
    const int dataStart = headers + 40 * int(sections.size());
    QByteArray b(dataStart + 16 * int(sections.size()), '\0');
    b[0] = 'M';
    b[1] = 'Z';
    put32(b, 60, kPeOffset);
    b[kPeOffset] = 'P';
    b[kPeOffset + 1] = 'E';
    put16(b, kPeOffset + 4, optional.magic == 0x20B ? 0x8664 : 0x14C);
    put16(b, kPeOffset + 4 + 2, std::uint16_t(declaredSections >= 0 ? declaredSections : int(sections.size())));
    put16(b, kPeOffset + 4 + 16, optional.declared);
    put16(b, kPeOffset + 4 + 20, optional.magic);
    for (size_t i = 0; i < sections.size(); ++i) {
        const int h = headers + 40 * int(i);
        for (size_t c = 0; c < sections[i].name.size() && c < 8; ++c) b[h + int(c)] = sections[i].name[c];
        const int raw = dataStart + 16 * int(i);
        put32(b, h + 20, std::uint32_t(raw));
        put32(b, raw + 4, sections[i].stamp);
    }
    return b;
}

class PeFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    int counter = 0;
    BuildDateResult read(const QByteArray& bytes) {
        const QString path = dir.filePath(QStringLiteral("image%1.exe").arg(counter++));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        return ReadPeBuildDate(path);
    }
};

const std::uint32_t kText = dosStamp(2001, 1, 2, 3, 4, 6);
const std::uint32_t kRsrc = dosStamp(2019, 7, 23, 14, 35, 58);
const std::uint32_t kReloc = dosStamp(2010, 12, 31, 23, 59, 58);

}  // namespace

TEST_F(PeFile, TakesTheStampOfTheResourceSection) {
    const BuildDateResult r = read(buildPe({{".text", kText}, {".rsrc", kRsrc}, {".reloc", kReloc}}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.dateTime, QDateTime(QDate(2019, 7, 23), QTime(14, 35, 58)));
}

TEST_F(PeFile, WithoutResourceSectionTheLastHeaderReadIsUsed) {
    const BuildDateResult r = read(buildPe({{".text", kText}, {".data", kRsrc}, {".reloc", kReloc}}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.dateTime, QDateTime(QDate(2010, 12, 31), QTime(23, 59, 58)));
    // Only as many headers as the COFF header declares are read.
    const BuildDateResult two = read(buildPe({{".text", kText}, {".data", kRsrc}, {".reloc", kReloc}}, 2));
    ASSERT_TRUE(two.ok);
    EXPECT_EQ(two.dateTime, QDateTime(QDate(2019, 7, 23), QTime(14, 35, 58)));
}

TEST_F(PeFile, SectionHeadersFollowTheOptionalHeaderOfEitherWidth) {
    // A 64-bit image's optional header is as long as its COFF header says (240 bytes as linkers
    // write it); a 32-bit image's is read as 224 bytes whatever the field holds.
    const struct {
        const char* what;
        Optional optional;
        bool found;
    } cases[] = {
        {"32-bit, size field 224", {0x10B, 224, 224}, true},
        {"32-bit, size field not filled in", {0x10B, 0, 224}, true},
        {"32-bit, size field says 240", {0x10B, 240, 224}, true},
        {"64-bit, 240 bytes", {0x20B, 240, 240}, true},
        {"64-bit, a longer optional header declared", {0x20B, 272, 272}, true},
        {"64-bit, declared 224 but 240 long", {0x20B, 224, 240}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const BuildDateResult r = read(buildPe({{".text", kText}, {".rsrc", kRsrc}}, -1, c.optional));
        if (!c.found) {
            // Section headers read 16 bytes early give neither ".rsrc" nor its stamp.
            EXPECT_NE(r.dateTime, QDateTime(QDate(2019, 7, 23), QTime(14, 35, 58)));
            continue;
        }
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.dateTime, QDateTime(QDate(2019, 7, 23), QTime(14, 35, 58)));
    }
    // A 64-bit image cut inside its longer optional header has no section to read.
    const QByteArray wide = buildPe({{".rsrc", kRsrc}}, -1, {0x20B, 240, 240});
    EXPECT_FALSE(read(wide.left(kPeOffset + 4 + 20 + 230)).ok);
}

TEST_F(PeFile, SectionNamesCompareAsZeroTerminatedText) {
    // ".rsrcX" is another name; ".rsrc" followed by a zero and junk is the resource section.
    QByteArray junk = buildPe({{".rsrcX", kText}, {".rsrc", kRsrc}, {".data", kReloc}});
    const int secondHeader = kPeOffset + 4 + 20 + 224 + 40;
    junk[secondHeader + 6] = 'Q';
    const BuildDateResult r = read(junk);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.dateTime.date(), QDate(2019, 7, 23));
}

TEST_F(PeFile, TruncatedAnywhereGivesNoDate) {
    // The resource directory header is the last thing in the file, so every shorter file lacks
    // something the reading needs.
    const QByteArray full = buildPe({{".text", kText}, {".rsrc", kRsrc}});
    ASSERT_TRUE(read(full).ok);
    for (int n = 0; n < full.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_FALSE(read(full.left(n)).ok);
    }
}

TEST_F(PeFile, AbsurdOffsetsAndCountsGiveNoDate) {
    const QByteArray good = buildPe({{".text", kText}, {".rsrc", kRsrc}});
    for (std::uint32_t lfanew :
         {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, std::uint32_t(good.size()), std::uint32_t(good.size() - 3)}) {
        QByteArray b = good;
        put32(b, 60, lfanew);
        EXPECT_FALSE(read(b).ok) << lfanew;
    }
    for (std::uint32_t raw : {0xFFFFFFF0u, 0x80000000u, std::uint32_t(good.size() - 15)}) {
        QByteArray b = good;
        put32(b, kPeOffset + 4 + 20 + 224 + 40 + 20, raw);
        EXPECT_FALSE(read(b).ok) << raw;
    }
    // More sections declared than present and none named .rsrc: the reading runs off the end.
    EXPECT_FALSE(read(buildPe({{".text", kText}, {".data", kRsrc}}, 65535)).ok);
    // No section at all: there is no header to take the offset from.
    EXPECT_FALSE(read(buildPe({}, 0)).ok);
}

TEST_F(PeFile, OtherFilesAndImpossibleStampsGiveNoDate) {
    QByteArray elf(4096, '\0');
    elf.replace(0, 4,
                QByteArray("\x7F"
                           "ELF",
                           4));
    elf[60] = 0x10;
    EXPECT_FALSE(read(elf).ok);
    QByteArray noSignature = buildPe({{".rsrc", kRsrc}});
    noSignature[kPeOffset] = 'X';
    EXPECT_FALSE(read(noSignature).ok);
    EXPECT_FALSE(read(buildPe({{".rsrc", dosStamp(2020, 13, 1, 0, 0, 0)}})).ok);  // month 13
    EXPECT_FALSE(read(buildPe({{".rsrc", 0}})).ok);  // month 0
    EXPECT_FALSE(read(buildPe({{".rsrc", dosStamp(2020, 2, 30, 0, 0, 0)}})).ok);  // 30 Feb
    EXPECT_FALSE(read(buildPe({{".rsrc", dosStamp(2020, 2, 3, 25, 0, 0)}})).ok);  // hour 25
    EXPECT_FALSE(ReadPeBuildDate(dir.filePath(QStringLiteral("missing.exe"))).ok);
}

TEST_F(PeFile, MidnightStampShowsTheDateAlone) {
    const BuildDateResult r = read(buildPe({{".rsrc", dosStamp(2022, 5, 6, 0, 0, 0)}}));
    ASSERT_TRUE(r.ok);
    const QString dateOnly = QLocale::system().toString(QDate(2022, 5, 6), QLocale::ShortFormat);
    EXPECT_EQ(BuildDateText(r.dateTime), dateOnly);
}

TEST(BuildDateText, DateBlankAndClockTimeWithoutZone) {
    const QDateTime dt(QDate(2022, 5, 6), QTime(13, 5, 8));
    const QString dateOnly = QLocale::system().toString(dt.date(), QLocale::ShortFormat);
    const QString text = BuildDateText(dt);
    ASSERT_TRUE(text.startsWith(dateOnly + QLatin1Char(' '))) << text.toStdString();
    const QString time = text.mid(dateOnly.size() + 1);
    EXPECT_TRUE(time.contains(QStringLiteral("05:08"))) << time.toStdString();
    EXPECT_FALSE(time.contains(QStringLiteral("UTC"))) << time.toStdString();
    EXPECT_EQ(time, time.trimmed());
    // One second past midnight is not midnight.
    EXPECT_NE(BuildDateText(QDateTime(dt.date(), QTime(0, 0, 1))), dateOnly);
}

TEST(BuildDateText, LongTimeFormatDropsTheZoneDesignator) {
    EXPECT_EQ(detail::LongTimeFormat(QLocale(QLocale::Russian, QLocale::Russia)), QStringLiteral("HH:mm:ss"));
    EXPECT_EQ(detail::LongTimeFormat(QLocale(QLocale::English, QLocale::UnitedStates)), QStringLiteral("h:mm:ss AP"));
}

#ifndef Q_OS_WIN
TEST(GetBuildDate, FallsBackToTheCompiledDateOffWindows) {
    // The test program is no PE image, so the date fixed at build time is used.
    const QDateTime compiled = CompiledBuildDate();
    ASSERT_TRUE(compiled.isValid());
    EXPECT_GT(compiled.date().year(), 2000);
    EXPECT_EQ(GetBuildDate(), compiled);
}
#endif
