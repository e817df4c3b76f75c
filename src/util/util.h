// Small helpers shared by several units.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>

namespace qtl {

// The text as an SQL string literal: quote, the text with every quote doubled, quote.
QString WrapInQuotes(const QString& text);

// The text with every single quote doubled (no surrounding quotes).
QString DoubleQuotes(const QString& text);

// Stored form -> plain bytes: every byte plus one, modulo 256. Same length.
QByteArray DecodeStoredText(const QByteArray& stored);
// Plain bytes -> stored form: every byte minus one, modulo 256 (DecodeStoredText undoes it).
QByteArray EncodeStoredText(const QByteArray& plain);

// Windows-1251 codec (the program's code page). Characters outside it encode as '?'.
QByteArray ToCp1251(const QString& text);
QString FromCp1251(const QByteArray& bytes);
// The Windows-1251 bytes of the text, or false when a character of it has no byte there (where
// ToCp1251 would silently write '?').
bool ToCp1251Exact(const QString& text, QByteArray* bytes);

namespace detail {
// The fixed Windows-1251 table (used where the platform's converters lack the code page; the
// tests hold it against the converter).
QString FromCp1251Table(const QByteArray& bytes);
QByteArray ToCp1251Table(const QString& text);
// The long time format of a locale without its time-zone part (a clock time has no zone).
QString LongTimeFormat(const QLocale& locale);
}  // namespace detail

// MD5 of the Windows-1251 bytes of the text, 32 uppercase hex digits.
QString Md5Hex(const QString& text);

// Result of reading a build stamp out of an executable image.
struct BuildDateResult {
    bool ok = false;  // false: the file is unreadable or not a PE image with the headers
    QDateTime dateTime;  // valid when ok
};

// Reads the DOS-format time stamp of the resource directory of a PE/COFF file. Never reads
// outside the file; a truncated or malformed file gives ok == false.
BuildDateResult ReadPeBuildDate(const QString& executablePath);

// The build date-time of the running program: the PE stamp of the program's own executable when
// it has one, otherwise the time fixed at build time (SOURCE_DATE_EPOCH when it was set).
QDateTime GetBuildDate();

// The build date-time fixed at build time (local time).
QDateTime CompiledBuildDate();

// Date text used in the titles: short date, blank, long time; the time (and the blank) left out
// when the time is exactly 00:00:00.
QString BuildDateText(const QDateTime& dt);

// Program tag and version number.
inline constexpr int kProgramVersion = 13;
inline const char kProgramTag[] = "QTL 33";

}  // namespace qtl
