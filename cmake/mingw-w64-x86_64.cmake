# Cross-builds kqget for 64-bit Windows with Debian's mingw-w64, posix thread
# model (std::thread and std::mutex need it), and a static runtime so that the
# programs import system DLLs only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(kqget_mingw_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${kqget_mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${kqget_mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${kqget_mingw_triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${kqget_mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Windows 10 APIs (FILE_ATTRIBUTE_TAG_INFO, WinHTTP's automatic proxy).
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE)

