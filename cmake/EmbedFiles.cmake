# Writes OUTPUT: a C++ source that holds each file of FILES (relative to
# BASE) as a byte array, for a program that must not read files at run time.
#   cmake -DBASE=dir -DOUTPUT=out.cpp -DFILES=a,b -P EmbedFiles.cmake
string(REPLACE "," ";" FILES "${FILES}")
set(entries "")
set(arrays "")
set(index 0)
foreach(name IN LISTS FILES)
  file(READ "${BASE}/${name}" hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const unsigned char kFile${index}[] = {${bytes}0};\n")
  string(APPEND entries "    {\"/${name}\", {reinterpret_cast<const char*>(kFile${index}), ${size}}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from the page's files; do not edit.
#include \"StaticFiles.h\"

namespace kivplc::web {
namespace {
${arrays}}  // namespace

const std::map<std::string, std::string_view>& StaticFiles() {
  static const std::map<std::string, std::string_view> files = {
${entries}  };
  return files;
}

}  // namespace kivplc::web
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
