// The patterns of --fail-on, --drop-on and --stall-on. They run over whatever text a client sends,
// so matching must take time linear in the text and bounded memory, whatever the pattern: RE2
// (automata, no backtracking, no recursion over the subject) rather than std::regex, whose
// recursive matcher overflowed the stack on a long statement.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace re2 {
class RE2;
}

namespace devserver {

class Pattern {
public:
    // Throws std::invalid_argument with RE2's reason for a pattern it cannot compile.
    explicit Pattern(const std::string& pattern);
    // True when the pattern matches anywhere in `text` (a search, as std::regex_search did).
    bool matches(std::string_view text) const;
    const std::string& source() const { return source_; }

private:
    std::string source_;
    std::shared_ptr<const re2::RE2> re_;
};

}  // namespace devserver
