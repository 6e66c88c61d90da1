# Writes a C++ source that holds the bytes of INPUT as `saalwacht::service::SYMBOL`.
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "#include <string_view>\n"
  "namespace saalwacht::service {\n"
  "namespace { const unsigned char data[] = {\n${bytes}}; }\n"
  "std::string_view ${SYMBOL}() { return {reinterpret_cast<const char*>(data), sizeof data}; }\n"
  "}\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
