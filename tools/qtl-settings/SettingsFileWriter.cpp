#include "SettingsFileWriter.h"

#include "util/util.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

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

#ifndef _WIN32
QString userName(uid_t uid) {
    const passwd* pw = getpwuid(uid);
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);
}

QString groupName(gid_t gid) {
    const group* gr = getgrgid(gid);
    return gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(gid);
}

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Gives the new, still unnamed file the old file's owner, group and mode. QSaveFile copies the
// permission bits only, and a 0640 file whose group fell back to root locks out every operator.
// The owner goes first: changing it may clear set-id bits, which the mode then puts back.
void keepOwnerGroupAndMode(QSaveFile& file, const QString& path) {
    struct stat old {};
    if (::stat(QFile::encodeName(path).constData(), &old) != 0) {
        if (errno == ENOENT) return;  // a new file: the umask decides, as for any new file
        throw SettingsFileError(QStringLiteral("Cannot write %1: %2").arg(path, systemError(errno)));
    }
    const int fd = file.handle();
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        const int error = errno;
        throw SettingsFileError(QStringLiteral("Cannot keep the owner and group of %1 (%2:%3): %4. The file was "
                                               "left as it was; run qtl-settings as root or as the file's owner.")
                                    .arg(path, userName(old.st_uid), groupName(old.st_gid), systemError(error)));
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) {
        const int error = errno;
        throw SettingsFileError(QStringLiteral("Cannot keep the mode of %1 (%2): %3. The file was left as it was.")
                                    .arg(path, QString::number(old.st_mode & 07777, 8), systemError(error)));
    }
}
#endif

}  // namespace

void CheckServerForm(const QString& server) {
    // One colon followed by a number; IPv6 addresses hold several colons and are left alone.
    static const QRegularExpression hostColonPort(QStringLiteral("^([^:,]+):(\\d{1,5})$"));
    const QRegularExpressionMatch m = hostColonPort.match(server.trimmed());
    if (!m.hasMatch()) return;
    const QString commaForm = m.captured(1) + QLatin1Char(',') + m.captured(2);
    QString text = QStringLiteral(
                       "The server \"%1\" gives its port after a colon, which the ODBC drivers take as "
                       "part of the host name; write it as %2 (host,port).")
                       .arg(server, commaForm);
    QByteArray bytes;
    if (ToCp1251Exact(commaForm, &bytes) && bytes.size() > kFieldSize)
        text += QStringLiteral(
                    " That is %1 bytes and the field holds %2: use the server's address, or a short DNS "
                    "alias or hosts entry, instead of the long name.")
                    .arg(bytes.size())
                    .arg(kFieldSize);
    throw SettingsFileError(text);
}

void CheckField(const QString& what, const QString& value, bool secret, bool mayBeEmpty) {
    fieldBytes(what, value, secret, mayBeEmpty);
}

QByteArray EncodeSettings(const TFirstConnectInfo& info) {
    const QByteArray user = fieldBytes(QStringLiteral("account"), info.UserID, false, false);
    const QByteArray password = fieldBytes(QStringLiteral("password"), info.Password, true, true);
    CheckServerForm(info.DataSource);
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
#ifndef _WIN32
    try {
        keepOwnerGroupAndMode(file, path);
    } catch (const SettingsFileError&) {
        file.cancelWriting();
        throw;
    }
#endif
    if (file.write(image) != image.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw SettingsFileError(QStringLiteral("Cannot write %1: %2").arg(path, reason));
    }
    if (!file.commit()) throw SettingsFileError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

}  // namespace qtl::settingsfile
