#include "util/util.h"

#include "util/errors.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <cstdint>
#include <cstring>

#ifndef QTL_BUILD_EPOCH
#define QTL_BUILD_EPOCH 0LL
#endif

namespace qtl {

QString DoubleQuotes(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('\''), QStringLiteral("''"));
    return out;
}

QString WrapInQuotes(const QString& text) {
    return QLatin1Char('\'') + DoubleQuotes(text) + QLatin1Char('\'');
}

QByteArray DecodeStoredText(const QByteArray& stored) {
    QByteArray out(stored.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < stored.size(); ++i)
        out[i] = char(static_cast<unsigned char>(static_cast<unsigned char>(stored[i]) + 1));
    return out;
}

QByteArray EncodeStoredText(const QByteArray& plain) {
    QByteArray out(plain.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < plain.size(); ++i)
        out[i] = char(static_cast<unsigned char>(static_cast<unsigned char>(plain[i]) - 1));
    return out;
}

// --- Windows-1251 ----------------------------------------------------------------------------

namespace {

// Code points of the bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
constexpr std::array<char16_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

char16_t tableChar(unsigned char b) {
    if (b < 0x80) return b;
    if (b >= 0xC0) return char16_t(0x0410 + (b - 0xC0));
    return kHigh[b - 0x80];
}

int tableByte(char32_t c) {
    if (c < 0x80) return int(c);
    if (c >= 0x0410 && c <= 0x044F) return int(0xC0 + (c - 0x0410));
    for (int i = 0; i < 64; ++i)
        if (kHigh[i] == c) return 0x80 + i;
    return -1;
}

const char kCp1251[] = "windows-1251";

}  // namespace

namespace detail {

QString FromCp1251Table(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char b : bytes) out.append(QChar(tableChar(static_cast<unsigned char>(b))));
    return out;
}

QByteArray ToCp1251Table(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (char32_t c : text.toUcs4()) {
        const int b = tableByte(c);
        out.append(b < 0 ? '?' : char(b));
    }
    return out;
}

QString LongTimeFormat(const QLocale& locale) {
    // Drop the zone designator ('t' outside quotes) and the blanks around it.
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (QChar ch : format) {
        if (ch == QLatin1Char('\'')) quoted = !quoted;
        if (!quoted && ch == QLatin1Char('t')) continue;
        out.append(ch);
    }
    return out.trimmed();
}

}  // namespace detail

QByteArray ToCp1251(const QString& text) {
    QStringEncoder encoder(kCp1251, QStringConverter::Flag::Stateless);
    if (!encoder.isValid()) return detail::ToCp1251Table(text);
    QByteArray whole = encoder.encode(text);
    if (!encoder.hasError()) return whole;
    // Some characters have no byte: encode one character at a time so each becomes '?'.
    QByteArray out;
    out.reserve(text.size());
    for (char32_t c : text.toUcs4()) {
        QStringEncoder one(kCp1251, QStringConverter::Flag::Stateless);
        const QByteArray b = one.encode(QString::fromUcs4(&c, 1));
        out.append(one.hasError() || b.size() != 1 ? QByteArray("?") : b);
    }
    return out;
}

QString FromCp1251(const QByteArray& bytes) {
    QStringDecoder decoder(kCp1251, QStringConverter::Flag::Stateless);
    if (!decoder.isValid()) return detail::FromCp1251Table(bytes);
    return decoder.decode(bytes);
}

bool ToCp1251Exact(const QString& text, QByteArray* bytes) {
    const QByteArray encoded = ToCp1251(text);
    // A character without a byte came out as '?', so it does not come back.
    if (encoded.size() != text.size() || FromCp1251(encoded) != text) return false;
    if (bytes) *bytes = encoded;
    return true;
}

QString Md5Hex(const QString& text) {
    return QString::fromLatin1(QCryptographicHash::hash(ToCp1251(text), QCryptographicHash::Md5).toHex().toUpper());
}

// --- StrToInt ----------------------------------------------------------------------------------

int StrToInt(const QString& text) {
    const auto fail = [&]() -> int {
        throw ConversionError(QLatin1Char('\'') + text + QStringLiteral("' is not a valid integer value"));
    };
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    if (i >= t.size()) return fail();
    std::int64_t value = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t[i].unicode();
        if (c < u'0' || c > u'9') return fail();
        value = value * 10 + (c - u'0');
        if (value > std::int64_t(2147483648LL)) return fail();
    }
    if (negative) value = -value;
    if (value > 2147483647LL || value < -2147483648LL) return fail();
    return int(value);
}

// --- build date --------------------------------------------------------------------------------

namespace {

std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::uint16_t le16(const unsigned char* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}

constexpr std::uint16_t kPe32PlusMagic = 0x20B;

// Reads exactly `n` bytes at `offset`; false when they are not all inside the file.
bool readAt(QFile& file, qint64 offset, unsigned char* buffer, qint64 n) {
    if (offset < 0 || offset > file.size() || file.size() - offset < n) return false;
    if (!file.seek(offset)) return false;
    return file.read(reinterpret_cast<char*>(buffer), n) == n;
}

}  // namespace

BuildDateResult ReadPeBuildDate(const QString& executablePath) {
    BuildDateResult result;
    QFile file(executablePath);
    if (!file.open(QIODevice::ReadOnly)) return result;

    unsigned char dos[64];
    if (!readAt(file, 0, dos, 64)) return result;
    // A file that is not a PE image (an ELF program, say) must not yield a date read from
    // arbitrary bytes, so both signatures are required.
    if (dos[0] != 'M' || dos[1] != 'Z') return result;
    qint64 pos = le32(dos + 60);

    unsigned char signature[4];
    if (!readAt(file, pos, signature, 4)) return result;
    if (signature[0] != 'P' || signature[1] != 'E' || signature[2] != 0 || signature[3] != 0) return result;
    pos += 4;

    unsigned char coff[20];
    if (!readAt(file, pos, coff, 20)) return result;
    const int sections = le16(coff + 2);
    pos += 20;

    // The section headers follow the optional header. A 32-bit image's is taken as 224 bytes, as
    // it always was; a 64-bit image's (PE32+, 240 bytes) has the size the COFF header gives.
    unsigned char magic[2];
    if (!readAt(file, pos, magic, 2)) return result;
    pos += le16(magic) == kPe32PlusMagic ? le16(coff + 16) : 224;

    unsigned char header[40];
    bool haveHeader = false;
    for (int i = 0; i < sections; ++i) {
        if (!readAt(file, pos, header, 40)) return result;
        pos += 40;
        haveHeader = true;
        char name[9] = {};
        std::memcpy(name, header, 8);
        if (std::strcmp(name, ".rsrc") == 0) break;
    }
    if (!haveHeader) return result;

    const qint64 rawData = le32(header + 20);
    unsigned char directory[16];
    if (!readAt(file, rawData, directory, 16)) return result;
    const std::uint32_t stamp = le32(directory + 4);

    const std::uint32_t d = stamp >> 16, t = stamp & 0xFFFF;
    const QDate date(int(1980 + (d >> 9)), int((d >> 5) & 0x0F), int(d & 0x1F));
    const int hour = int(t >> 11), minute = int((t >> 5) & 0x3F), second = int((t & 0x1F) * 2);
    if (!date.isValid() || !QTime::isValid(hour, minute, second, 0)) return result;
    result.dateTime = QDateTime(date, QTime(hour, minute, second));
    result.ok = result.dateTime.isValid();
    return result;
}

QDateTime CompiledBuildDate() {
    return QDateTime::fromSecsSinceEpoch(qint64(QTL_BUILD_EPOCH)).toLocalTime();
}

QDateTime GetBuildDate() {
    if (QCoreApplication::instance()) {
        const BuildDateResult r = ReadPeBuildDate(QCoreApplication::applicationFilePath());
        if (r.ok) return r.dateTime;
    }
    return CompiledBuildDate();
}

QString BuildDateText(const QDateTime& dt) {
    const QLocale locale = QLocale::system();
    QString text = locale.toString(dt.date(), QLocale::ShortFormat);
    if (dt.time() != QTime(0, 0, 0, 0))
        text += QLatin1Char(' ') + locale.toString(dt.time(), detail::LongTimeFormat(locale));
    return text;
}

}  // namespace qtl
