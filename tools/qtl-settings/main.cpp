// qtl-settings: writes, shows and checks the workstation's settings file "Data/QTL".
#include "SettingsTool.h"
#include "Terminal.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const auto line = [](std::FILE* to) {
        return [to](const QString& text) {
            std::fputs((text + QLatin1Char('\n')).toLocal8Bit().constData(), to);
            std::fflush(to);
        };
    };
    qtl::settingstool::ToolIo io;
    io.out = line(stdout);
    io.err = line(stderr);
    io.readPassword = [&io] { return qtl::settingstool::ReadPasswordFromUser(io.err); };
    return qtl::settingstool::RunSettingsTool(app.arguments().mid(1), io);
}
