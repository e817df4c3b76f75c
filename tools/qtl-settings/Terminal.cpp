#include "Terminal.h"

#include <QByteArray>

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <termios.h>
#include <unistd.h>
#endif

namespace qtl::settingstool {
namespace {

bool stdinIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

// One line of standard input without its line end; nullopt at the end of input before any byte.
std::optional<QByteArray> readLine() {
    std::string line;
    int c;
    bool any = false;
    while ((c = std::fgetc(stdin)) != EOF) {
        any = true;
        if (c == '\n') break;
        line.push_back(char(c));
    }
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return QByteArray::fromStdString(line);
}

#ifndef _WIN32
// The terminal's settings while echo is off, for putting them back if the user breaks off.
struct termios g_saved;
volatile std::sig_atomic_t g_echoOff = 0;

extern "C" void restoreAndReraise(int signal) {
    if (g_echoOff) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
#endif

// A line typed without echo.
// Echo goes off before the prompt shows and without flushing: whatever is typed once the prompt
// is there (or typed ahead) must be neither shown nor thrown away.
std::optional<QByteArray> readHidden(const QString& prompt) {
    const auto showPrompt = [&prompt] {
        std::fputs(prompt.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    };
#ifdef _WIN32
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool gotMode = GetConsoleMode(in, &mode);
    if (gotMode) SetConsoleMode(in, mode & ~DWORD(ENABLE_ECHO_INPUT));
    showPrompt();
    const std::optional<QByteArray> line = readLine();
    if (gotMode) SetConsoleMode(in, mode);
#else
    const bool gotMode = tcgetattr(STDIN_FILENO, &g_saved) == 0;
    void (*oldInt)(int) = SIG_DFL;
    void (*oldTerm)(int) = SIG_DFL;
    if (gotMode) {
        struct termios quiet = g_saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        oldInt = std::signal(SIGINT, restoreAndReraise);
        oldTerm = std::signal(SIGTERM, restoreAndReraise);
        g_echoOff = 1;
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    showPrompt();
    std::optional<QByteArray> line = readLine();
    if (gotMode) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
        g_echoOff = 0;
        std::signal(SIGINT, oldInt);
        std::signal(SIGTERM, oldTerm);
    }
#endif
    return line;
}

}  // namespace

std::optional<QString> ReadPasswordFromUser(const std::function<void(const QString&)>& err) {
    if (!stdinIsTerminal()) {
        const std::optional<QByteArray> line = readLine();
        if (!line) {
            err(QStringLiteral("No password on standard input (give it as its first line)."));
            return std::nullopt;
        }
        return QString::fromLocal8Bit(*line);
    }
    const std::optional<QByteArray> first = readHidden(QStringLiteral("Password: "));
    if (!first) {
        err(QStringLiteral("No password given."));
        return std::nullopt;
    }
    const std::optional<QByteArray> second = readHidden(QStringLiteral("Repeat the password: "));
    if (!second || *second != *first) {
        err(QStringLiteral("The two passwords differ; nothing was written."));
        return std::nullopt;
    }
    return QString::fromLocal8Bit(*first);
}

}  // namespace qtl::settingstool
