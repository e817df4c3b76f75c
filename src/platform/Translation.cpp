#include "platform/Translation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace qtl {

namespace {

const QString kQtTranslationFile = QStringLiteral("qtbase_ru.qm");

}  // namespace

QStringList QtTranslationFolders() {
    return {QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations")),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
}

QString InstallQtTranslation(const QStringList& folders) {
    QStringList unusable;  // files found but not loadable, for the warning
    for (const QString& folder : folders) {
        QString path = QDir(folder).filePath(kQtTranslationFile);
        if (!QFileInfo(path).isFile()) continue;
        auto translator = std::make_unique<QTranslator>();
        if (!translator->load(path) || translator->isEmpty()) {
            unusable << QDir::toNativeSeparators(path);
            continue;
        }
        // Owned by the application: Qt keeps using it until the program ends.
        translator->setParent(QCoreApplication::instance());
        QCoreApplication::installTranslator(translator.release());
        return path;
    }
    QStringList searched;
    for (const QString& folder : folders) searched << QDir::toNativeSeparators(folder);
    QString message = QStringLiteral("Qt's Russian translation: no readable ") + kQtTranslationFile +
                      QStringLiteral(" in ") + searched.join(QStringLiteral(", "));
    if (!unusable.isEmpty())
        message += QStringLiteral(" (unreadable: ") + unusable.join(QStringLiteral(", ")) + QLatin1Char(')');
    qWarning("%s; Qt's own dialogs and menus stay in English", qPrintable(message));
    return QString();
}

}  // namespace qtl
