// What the request log may keep of a batch: the text exactly as received, except credentials.
#pragma once

#include <string>

namespace devserver::tsql {

inline constexpr const char* kMaskedLiteral = "'********'";

// Replaces with kMaskedLiteral every string literal that carries a credential: GET_USER's password
// digest and new-password digest (positional arguments 2 and 3, or @password / @new_password),
// and a text compared with or assigned to a column whose name contains "password" or "pwd".
// Everything else stays byte for byte. A batch that cannot be tokenized (an unclosed quotation
// mark) and names GET_USER or a password is not kept at all: where its literals end is unknown.
std::string maskCredentials(const std::string& batch);

}  // namespace devserver::tsql
