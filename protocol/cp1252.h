#pragma once
// Windows-1252, the code page of the German Windows PCs that share the command
// link with us. Pure conversions to and from UTF-8.

#include <string>
#include <string_view>

namespace saalwacht::protocol {

// UTF-8 to Windows-1252. A character the code page cannot hold, and any
// malformed UTF-8 sequence, becomes '?', as the Windows conversion's default
// character does.
std::string utf8ToCp1252(std::string_view utf8);

// Windows-1252 to UTF-8. The five bytes the code page leaves undefined map to
// the C1 control characters of the same value, like Windows does.
std::string cp1252ToUtf8(std::string_view cp1252);

// Cuts UTF-8 text to at most `maxBytes` without splitting a character.
std::string_view truncateUtf8(std::string_view utf8, std::size_t maxBytes);

}  // namespace saalwacht::protocol
