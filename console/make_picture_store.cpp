// Build step: writes the default picture store that ships beside the console.
// It carries no password yet, so the first start asks the teacher for one.

#include <fstream>
#include <iostream>

#include "console/picture_store.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_picture_store FILE\n";
    return 2;
  }
  const auto bytes = saalwacht::console::makeDefaultPictureStore();
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) {
    std::cerr << "make_picture_store: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
