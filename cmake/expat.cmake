# expat, the parser of the XML check every system shares
# (platform/xml_check.cpp), as the target kqget_expat.
#
# Linux: Debian's libexpat1. Windows: the same library rather than the
# system's XML reader, so that a document gets one verdict in the same words
# on both systems, under Wine as on Windows (Wine's MSXML refuses sound
# documents that Windows' reads). Debian has no mingw build of expat, so
# scripts/expat-source.sh has apt fetch Debian's own source package, with
# Debian's patches, once per build folder; its three files are compiled here
# into a static library, so that the programs still import system DLLs only.
if(NOT WIN32)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(KQGET_EXPAT REQUIRED IMPORTED_TARGET expat)
    add_library(kqget_expat INTERFACE)
    target_link_libraries(kqget_expat INTERFACE PkgConfig::KQGET_EXPAT)
    # Debian's expat is built with DTD support; its header declares the
    # limits on entity expansion only when told so.
    target_compile_definitions(kqget_expat INTERFACE XML_DTD)
    return()
endif()

enable_language(C)
if(CMAKE_CXX_COMPILER_LAUNCHER AND NOT CMAKE_C_COMPILER_LAUNCHER)
    set(CMAKE_C_COMPILER_LAUNCHER ${CMAKE_CXX_COMPILER_LAUNCHER})
endif()
set(KQGET_EXPAT_FOLDER ${CMAKE_BINARY_DIR}/expat)
execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/expat-source.sh ${KQGET_EXPAT_FOLDER}
                RESULT_VARIABLE kqget_expat_fetched)
if(NOT kqget_expat_fetched EQUAL 0)
    message(FATAL_ERROR "cannot fetch Debian's source of expat into ${KQGET_EXPAT_FOLDER}"
                        " (scripts/expat-source.sh: apt-get source, from deb.debian.org)")
endif()
file(READ ${KQGET_EXPAT_FOLDER}/source.version KQGET_EXPAT_VERSION)
string(STRIP "${KQGET_EXPAT_VERSION}" KQGET_EXPAT_VERSION)
message(STATUS "expat for Windows: Debian's source ${KQGET_EXPAT_VERSION}")
set(KQGET_EXPAT_SOURCE ${KQGET_EXPAT_FOLDER}/source/expat)

# The configuration Debian builds expat with: DTDs (internal subsets and the
# limits on entity expansion), namespaces, 1 KiB of context.
file(WRITE ${KQGET_EXPAT_FOLDER}/config/expat_config.h
     "#define BYTEORDER 1234\n#define XML_NS 1\n#define XML_CONTEXT_BYTES 1024\n")
add_library(kqget_expat STATIC
    ${KQGET_EXPAT_SOURCE}/lib/xmlparse.c
    ${KQGET_EXPAT_SOURCE}/lib/xmlrole.c
    ${KQGET_EXPAT_SOURCE}/lib/xmltok.c
)
target_include_directories(kqget_expat SYSTEM PUBLIC ${KQGET_EXPAT_SOURCE}/lib
                           PRIVATE ${KQGET_EXPAT_FOLDER}/config)
target_compile_definitions(kqget_expat PUBLIC XML_STATIC XML_DTD)
# expat's own code, compiled as its makers wrote it: its warnings are not ours.
target_compile_options(kqget_expat PRIVATE -w)
