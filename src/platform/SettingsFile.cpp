#include "platform/SettingsFile.h"

#include "util/errors.h"
#include "util/util.h"

#include <QFile>
#include <QFileInfo>

namespace qtl {

namespace {

QString storedField(const QByteArray& bytes, int offset, int lengthAt) {
    const int length = qMin(int(quint8(bytes[lengthAt])), 20);
    return FromCp1251(DecodeStoredText(bytes.mid(offset, length)));
}

}  // namespace

TFirstConnectInfo ParseSettings(const QByteArray& bytes) {
    if (bytes.size() < kSettingsFileSize) throw InOutError(QStringLiteral("Read beyond end of file"));
    TFirstConnectInfo info;
    info.UserID = storedField(bytes, 0, 40);
    info.Password = storedField(bytes, 20, 41);
    info.DataSource = storedField(bytes, 42, 82);
    info.InitialCatalog = storedField(bytes, 62, 83);
    return info;
}

TFirstConnectInfo ReadSettingsFile(const QString& path) {
    QFile file(path);
    if (!QFileInfo::exists(path)) throw InOutError(QStringLiteral("File not found"));
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly))
        throw InOutError(QStringLiteral("File access denied"));
    const QByteArray bytes = file.read(kSettingsFileSize);
    if (file.error() != QFileDevice::NoError && bytes.isEmpty()) throw InOutError(QStringLiteral("File access denied"));
    return ParseSettings(bytes);
}

QString BuildConnectionString(const TFirstConnectInfo& info) {
    return QStringLiteral("Provider=SQLOLEDB.1;Password=") + info.Password +
           QStringLiteral(";Persist Security Info=True;User ID=") + info.UserID + QStringLiteral(";Initial Catalog=") +
           info.InitialCatalog + QStringLiteral(";Data Source=") + info.DataSource +
           QStringLiteral(";Use Procedure for Prepare=1;Auto Translate=True;") +
           QStringLiteral("Packet Size=4096;Use Encryption for Data=False;") +
           QStringLiteral("Tag with column collation when possible=False");
}

}  // namespace qtl
