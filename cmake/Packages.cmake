# qz_add_package(<target> DIRS <dir>... [DEPS <target>...])
# One static library per source package, from every .cpp in its folders.
# A package whose folders hold no source yet is an interface library, so the
# tree configures while packages are still empty.
function(qz_add_package target)
  cmake_parse_arguments(ARG "" "" "DIRS;DEPS;EXCLUDE" ${ARGN})
  set(sources)
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/src/${dir}/*.c)
    list(APPEND sources ${found})
  endforeach()
  foreach(skip IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${skip}")
  endforeach()
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# qz_add_native_test(<name> SOURCES <file>... LIBS <target>...)
# A GoogleTest executable of the native build; each test case is a CTest test,
# stopped and failed by name after QZ_NATIVE_TEST_TIMEOUT seconds, so a test
# that spins ends the run instead of hanging it. The limit is far above the
# slowest case under AddressSanitizer and UBSan on a loaded machine.
set(QZ_NATIVE_TEST_TIMEOUT 300)
function(qz_add_native_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests/native/support)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${QZ_NATIVE_TEST_TIMEOUT})
endfunction()
