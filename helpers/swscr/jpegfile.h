#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace saalwacht::swscr {

// The output path as given on the command line, minus one leading and one
// trailing double quote: a Windows-style caller may pass `"C:\x\a.jpg`.
std::string normaliseOutputPath(std::string path);

// Writes data to `path + ".tmp-<pid>"` (created exclusively, never through
// a symlink, mode 0600) and renames it onto path, so readers only ever see a
// complete file. On failure nothing is left behind and error says why.
bool writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& data,
                         std::string& error);

}  // namespace saalwacht::swscr
