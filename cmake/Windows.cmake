# The Windows build: GoogleTest for MinGW and the Windows test suites.
# (The product executable and the engine library: cmake/Product.cmake.)

# Unicode Windows API everywhere; no min/max macros from windows.h; the
# Windows 10 declarations (per-monitor DPI).
add_compile_definitions(UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0A00)

# libpng, cross-built by tools/setup.sh, and zlib from libz-mingw-w64-dev.
set(QZ_DEPS_DIR ${CMAKE_SOURCE_DIR}/build/deps CACHE PATH "Cross-built dependencies")
if(NOT EXISTS ${QZ_DEPS_DIR}/libpng/lib/libpng.a)
  message(FATAL_ERROR "libpng for MinGW not found in ${QZ_DEPS_DIR}: run tools/setup.sh")
endif()
find_library(QZ_ZLIB NAMES libz.a z REQUIRED)
add_library(PNG::PNG STATIC IMPORTED GLOBAL)
set_target_properties(PNG::PNG PROPERTIES
  IMPORTED_LOCATION ${QZ_DEPS_DIR}/libpng/lib/libpng.a
  INTERFACE_INCLUDE_DIRECTORIES ${QZ_DEPS_DIR}/libpng/include
  INTERFACE_LINK_LIBRARIES ${QZ_ZLIB})

# ctest runs every Windows executable under Wine, with a prefix of this build
# folder's own (prepared on first use).
set(CMAKE_CROSSCOMPILING_EMULATOR bash ${CMAKE_SOURCE_DIR}/tools/wine-run.sh --home ${CMAKE_BINARY_DIR}/wine)

# GoogleTest from Debian's source package, built with the MinGW compiler.
set(QZ_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${QZ_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${QZ_GOOGLETEST_SOURCE}: run tools/setup.sh")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QZ_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# qz_add_windows_test(<name> SOURCES <file>... LIBS <target>... [TIMEOUT <s>])
# A GoogleTest executable of the Windows build, run under Wine by ctest as
# one test (every GoogleTest case of the executable runs in that test).
function(qz_add_windows_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests/windows/support)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()
