# cmake -P EmbedResourceImage.cmake -DINPUT=KeyScout.res -DOUTPUT=KeyScoutRes.cpp
# Writes a C++ file that holds the bytes of the compiled resources and registers them with
# the framework during static initialisation. Plain CMake, so that the build needs nothing
# beyond the compilers and CMake itself.
if(NOT DEFINED INPUT OR NOT DEFINED OUTPUT)
  message(FATAL_ERROR "usage: cmake -DINPUT=file.res -DOUTPUT=file.cpp -P ${CMAKE_CURRENT_LIST_FILE}")
endif()
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
if(size EQUAL 0)
  message(FATAL_ERROR "${INPUT} is empty")
endif()
# 16 bytes to a line, then every byte as 0x.., so that the file stays readable and diffable.
string(REGEX REPLACE "([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])"
       "\\1\n" lines "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${lines}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp" "// Generated from ${name} by EmbedResourceImage.cmake: do not edit.
#include <cstddef>

#include \"framework/ResourceFile.h\"

namespace {

const ks::BYTE kResourceImage[${size}] = {
${bytes}};

struct CResourceImageRegistration {
    CResourceImageRegistration() {
        ks::detail::RegisterResourceImage(kResourceImage, sizeof kResourceImage);
    }
} g_registration;

}  // namespace
")
# Only a changed file is replaced, so that an unchanged image is not compiled again.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
