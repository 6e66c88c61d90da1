#pragma once
// Pieces of the Linux program launcher that tests look at directly.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace saalwacht::platform::posix {

// Splits a parameter text into words the way a POSIX shell would, without
// expanding anything: blanks separate words, '...' and "..." group, a
// backslash takes the next character literally (inside "..." only before
// ", \, $ and `). Nothing for an unterminated quote.
std::optional<std::vector<std::string>> splitWords(std::string_view text);

}  // namespace saalwacht::platform::posix
