// Reading the password for `write`: the one place of the tool that touches the terminal.
#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace qtl::settingstool {

// From the terminal when standard input is one: asked twice without echo (the prompts go to
// standard error); otherwise the first line of standard input. nullopt, with the reason given to
// `err`, when nothing could be read or the two entries differ.
std::optional<QString> ReadPasswordFromUser(const std::function<void(const QString&)>& err);

}  // namespace qtl::settingstool
