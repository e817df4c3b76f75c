// Every GUI test runs in its own process (gtest_discover_tests) on the offscreen platform.
#include "Unit10.h"
#include "platform/Translation.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstring>

namespace qtltest {
// A child process of the version-stop test (login_version.cpp): signs in and must be ended by
// the program itself.
int runVersionStopChild(const QString& folder, const QString& login, const QString& password);
}  // namespace qtltest

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qtl::InstallFontSubstitutes();
    // Qt's dialogs and menus in the same language the operator sees them in.
    qtl::InstallQtTranslation();
    if (argc == 5 && std::strcmp(argv[1], "--version-stop-child") == 0)
        return qtltest::runVersionStopChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                            QString::fromLocal8Bit(argv[4]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
