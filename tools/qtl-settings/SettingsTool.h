// The commands of qtl-settings, apart from the process around them so that tests can run them.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace qtl::settingstool {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitCheckFailed = 1;  // check: the server refused or could not be reached
inline constexpr int kExitError = 2;  // wrong arguments, a refused value, a file error

struct ToolIo {
    std::function<void(const QString&)> out;  // a line of results (standard output)
    std::function<void(const QString&)> err;  // a line of errors and warnings (standard error)
    // The password for `write`: from the terminal without echo, or a line of standard input;
    // nullopt when none could be read (the reason already told through err).
    std::function<std::optional<QString>()> readPassword;
};

// Runs one command; `arguments` without the program name. Returns the exit code.
int RunSettingsTool(const QStringList& arguments, const ToolIo& io);

// What stands in for the password wherever it would otherwise be shown.
inline constexpr char kPasswordMask[] = "********";

// `text` with every occurrence of the password replaced by the mask (nothing for an empty one).
QString MaskPassword(QString text, const QString& password);

}  // namespace qtl::settingstool
