#include "pattern.h"

#include <re2/re2.h>

#include <stdexcept>

namespace devserver {

namespace {
// The automaton's memory, per pattern, whatever the statement: RE2 falls back to a slower but
// still linear matcher when its cache is exhausted.
constexpr std::int64_t kPatternMemory = 8 << 20;
}  // namespace

Pattern::Pattern(const std::string& pattern) : source_(pattern) {
    RE2::Options options;
    options.set_log_errors(false);
    options.set_max_mem(kPatternMemory);
    auto re = std::make_shared<const RE2>(pattern, options);
    if (!re->ok()) throw std::invalid_argument(re->error());
    re_ = std::move(re);
}

bool Pattern::matches(std::string_view text) const {
    return RE2::PartialMatch(re2::StringPiece(text.data(), text.size()), *re_);
}

}  // namespace devserver
