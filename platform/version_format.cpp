#include "platform/version.h"

namespace saalwacht::platform {

std::string formatFileVersion(std::uint32_t mostSignificant, std::uint32_t leastSignificant) {
  return std::to_string(mostSignificant >> 16) + "." + std::to_string(mostSignificant & 0xffff) + "." +
         std::to_string(leastSignificant >> 16) + "." + std::to_string(leastSignificant & 0xffff);
}

}  // namespace saalwacht::platform
