#pragma once
// The arguments a helper got, as the C runtime would split its command line.

#include <string>
#include <vector>

namespace saalwacht::helpers {

// argv[1..] of this process.
std::vector<std::wstring> programArguments();

}  // namespace saalwacht::helpers
