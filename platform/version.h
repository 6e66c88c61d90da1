#pragma once
// The file version of a program, as the about box shows it.

#include <cstdint>
#include <filesystem>
#include <string>

namespace saalwacht::platform {

// The file version of `executable` as "a.b.c.d", or "" when it carries none.
// Windows reads the version resource; elsewhere the running program's own
// executable carries the project version compiled in and other files none.
std::string fileVersionText(const std::filesystem::path& executable);

// "a.b.c.d" from the high and low 16 bits of the most and then of the least
// significant version word. Portable.
std::string formatFileVersion(std::uint32_t mostSignificant, std::uint32_t leastSignificant);

}  // namespace saalwacht::platform
