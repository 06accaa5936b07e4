# Turns the dashboard's files into byte arrays in one generated source, run as
# a build step (cmake -P) so that editing a file under tools/watch/web/ is
# enough to rebuild the watcher with it.
#   -DOUTPUT=file.cpp -DASSETS=path|content-type|file^path|content-type|file...
string(REPLACE "^" ";" ASSETS "${ASSETS}")
set(entries "")
set(arrays "")
set(index 0)
foreach(asset IN LISTS ASSETS)
  string(REPLACE "|" ";" parts "${asset}")
  list(GET parts 0 path)
  list(GET parts 1 type)
  list(GET parts 2 file)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" length)
  math(EXPR size "${length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  string(APPEND arrays "const unsigned char g_acAsset${index}[] = {\n${bytes}0};\n")
  string(APPEND entries "    {\"${path}\", \"${type}\", g_acAsset${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new" "// Generated from tools/watch/web/ by cmake/EmbedWebAssets.cmake; do not edit.
#include \"watch/WebAssets.h\"

#include <cstring>

namespace Qz {
namespace Varnel {
namespace Watch {

namespace {

${arrays}
const SWebAsset g_aAssets[] = {
${entries}};

} // namespace

const SWebAsset* FindWebAsset(const std::string& path)
{
    for (const SWebAsset& asset : g_aAssets)
        if (path == asset.m_pPath)
            return &asset;
    return nullptr;
}

} // namespace Watch
} // namespace Varnel
} // namespace Qz
")
# Only a changed source is rebuilt.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.new" "${OUTPUT}")
file(REMOVE "${OUTPUT}.new")
