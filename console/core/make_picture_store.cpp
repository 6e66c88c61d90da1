// Writes a picture store: the default one that ships beside the console
// (no password yet, so the first start asks the teacher for one), or, for
// demos and benchmarks, one that already holds PASSWORD.

#include <fstream>
#include <iostream>
#include <string>

#include "console/core/picture_store.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::cerr << "usage: make_picture_store FILE [PASSWORD]\n";
    return 2;
  }
  const auto bytes = saalwacht::console::makeDefaultPictureStore();
  {
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      std::cerr << "make_picture_store: cannot write " << argv[1] << "\n";
      return 1;
    }
  }
  if (argc == 3) {
    std::string error;
    if (!saalwacht::console::writeRemotePassword(argv[1], argv[2], error)) {
      std::cerr << "make_picture_store: " << error << "\n";
      return 1;
    }
  }
  return 0;
}
