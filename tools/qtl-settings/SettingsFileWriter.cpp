#include "SettingsFileWriter.h"

#include "util/util.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace qtl::settingsfile {
namespace {

QString codePoint(char32_t c) {
    return QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
}

// The field's Windows-1251 bytes, or the reason why it has none.
QByteArray fieldBytes(const QString& what, const QString& value, bool secret, bool mayBeEmpty) {
    if (value.isEmpty() && !mayBeEmpty) throw SettingsFileError(QStringLiteral("The %1 must not be empty.").arg(what));
    QByteArray bytes;
    if (!ToCp1251Exact(value, &bytes)) {
        QString offending;
        for (char32_t c : value.toUcs4()) {
            QByteArray one;
            if (!ToCp1251Exact(QString::fromUcs4(&c, 1), &one)) {
                offending = codePoint(c);
                break;
            }
        }
        throw SettingsFileError(secret ? QStringLiteral("The %1 holds a character that Windows-1251 cannot store (%2); "
                                                        "the settings file holds Windows-1251 text only.")
                                             .arg(what, offending)
                                       : QStringLiteral("The %1 \"%2\" holds a character that Windows-1251 cannot "
                                                        "store (%3); the settings file holds Windows-1251 text only.")
                                             .arg(what, value, offending));
    }
    if (bytes.size() > kFieldSize)
        throw SettingsFileError(secret ? QStringLiteral("The %1 is %2 bytes long in Windows-1251; the settings file "
                                                        "holds at most %3.")
                                             .arg(what)
                                             .arg(bytes.size())
                                             .arg(kFieldSize)
                                       : QStringLiteral("The %1 \"%2\" is %3 bytes long in Windows-1251; the settings "
                                                        "file holds at most %4.")
                                             .arg(what, value)
                                             .arg(bytes.size())
                                             .arg(kFieldSize));
    return bytes;
}

// Stored form in the field's 20-byte area at `offset`, its length byte at `lengthAt`.
void place(QByteArray& image, int offset, int lengthAt, const QByteArray& plain) {
    image.replace(offset, plain.size(), EncodeStoredText(plain));
    image[lengthAt] = char(quint8(plain.size()));
}

}  // namespace

void CheckField(const QString& what, const QString& value, bool secret, bool mayBeEmpty) {
    fieldBytes(what, value, secret, mayBeEmpty);
}

QByteArray EncodeSettings(const TFirstConnectInfo& info) {
    const QByteArray user = fieldBytes(QStringLiteral("account"), info.UserID, false, false);
    const QByteArray password = fieldBytes(QStringLiteral("password"), info.Password, true, true);
    const QByteArray server = fieldBytes(QStringLiteral("server"), info.DataSource, false, false);
    const QByteArray database = fieldBytes(QStringLiteral("database"), info.InitialCatalog, false, false);
    // Unused bytes of an area stay zero; the reader never looks past a field's length.
    QByteArray image(kSettingsFileSize, '\0');
    place(image, 0, 40, user);
    place(image, 20, 41, password);
    place(image, 42, 82, server);
    place(image, 62, 83, database);
    return image;
}

void WriteSettingsFileAtomically(const QString& path, const QByteArray& image) {
    const QFileInfo target(path);
    if (target.isDir()) throw SettingsFileError(QStringLiteral("%1 is a folder, not a file.").arg(path));
    if (!target.absoluteDir().exists())
        throw SettingsFileError(QStringLiteral("The folder %1 does not exist.").arg(target.absolutePath()));
    QSaveFile file(path);
    // Keep the rename even where Qt would fall back to writing the file in place.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw SettingsFileError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    if (file.write(image) != image.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw SettingsFileError(QStringLiteral("Cannot write %1: %2").arg(path, reason));
    }
    if (!file.commit()) throw SettingsFileError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

}  // namespace qtl::settingsfile
