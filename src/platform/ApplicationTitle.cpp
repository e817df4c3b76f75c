#include "platform/ApplicationTitle.h"

#include <QCoreApplication>

namespace qtl {

namespace {
QString g_title;
}

QString applicationTitle() {
    return g_title.isEmpty() ? QCoreApplication::applicationName() : g_title;
}

void setApplicationTitle(const QString& title) {
    g_title = title;
}

}  // namespace qtl
