# The status page's files in res/web/, built into the program as byte
# arrays, so that it serves them with no file beside it. An edit of one of
# them configures anew.
file(GLOB web_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/res/web/*.html ${PROJECT_SOURCE_DIR}/res/web/*.js
  ${PROJECT_SOURCE_DIR}/res/web/*.css)
# The glob notices only added and removed files; an edit needs this.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${web_files})
set(web_source "// Generated from res/web/ by cmake/web_assets.cmake.\n#include \"run/web_assets.h\"\n\nnamespace bv {\n\nnamespace {\n\n")
set(web_table "")
set(index 0)
foreach(file ${web_files})
  get_filename_component(name ${file} NAME)
  file(READ ${file} bytes HEX)
  string(LENGTH "${bytes}" hex_length)
  math(EXPR length "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${bytes}")
  string(APPEND web_source "const char asset${index}[] = { ${bytes} };\n")
  string(APPEND web_table "    { \"${name}\", std::string_view(asset${index}, ${length}) },\n")
  math(EXPR index "${index} + 1")
endforeach()
string(APPEND web_source "\nstruct Asset {\n    std::string_view name;\n    std::string_view bytes;\n};\n\n"
  "const Asset assets[] = {\n${web_table}};\n\n}  // namespace\n\n"
  "std::optional<std::string_view> webAsset(std::string_view name)\n{\n"
  "    for (const Asset& asset : assets)\n        if (asset.name == name)\n            return asset.bytes;\n"
  "    return std::nullopt;\n}\n\n}  // namespace bv\n")
file(WRITE ${BV_GENERATED_DIR}/web_assets.cpp.new "${web_source}")
# Written only when it changed, so that a configure does not rebuild it.
file(COPY_FILE ${BV_GENERATED_DIR}/web_assets.cpp.new ${BV_GENERATED_DIR}/web_assets.cpp ONLY_IF_DIFFERENT)
file(REMOVE ${BV_GENERATED_DIR}/web_assets.cpp.new)
