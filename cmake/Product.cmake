# The Windows side of the program: the OpenGL loader, the `engine` library
# (the engine's Windows files and the GL context set-up) and the product
# executable.

# ---- The OpenGL loader, generated into the build folder --------------------
# --reproducible uses the registry bundled with glad: nothing is downloaded.
find_program(QZ_SYSTEM_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT QZ_SYSTEM_PYTHON)
  find_program(QZ_SYSTEM_PYTHON NAMES python3 REQUIRED)
endif()
set(QZ_GLAD_DIR ${CMAKE_BINARY_DIR}/glad)
set(QZ_GLAD_COMMAND ${QZ_SYSTEM_PYTHON} -m glad --quiet --reproducible
    --api "gl:core=4.5,wgl=1.0" --out-path ${QZ_GLAD_DIR} c --loader)
set(QZ_GLAD_SOURCES ${QZ_GLAD_DIR}/src/gl.c ${QZ_GLAD_DIR}/src/wgl.c
    ${CMAKE_SOURCE_DIR}/cmake/glad_wgl_import.c)
if(NOT EXISTS ${QZ_GLAD_DIR}/src/wgl.c OR NOT "${QZ_GLAD_COMMAND}" STREQUAL "${QZ_GLAD_GENERATED_BY}")
  message(STATUS "Generating the OpenGL loader in ${QZ_GLAD_DIR}")
  file(REMOVE_RECURSE ${QZ_GLAD_DIR})
  execute_process(COMMAND ${QZ_GLAD_COMMAND} RESULT_VARIABLE gladResult)
  if(NOT gladResult EQUAL 0 OR NOT EXISTS ${QZ_GLAD_DIR}/src/wgl.c)
    message(FATAL_ERROR "glad failed (${gladResult}): install python3-glad (tools/setup.sh)")
  endif()
  set(QZ_GLAD_GENERATED_BY "${QZ_GLAD_COMMAND}" CACHE INTERNAL "")
endif()

# ---- engine: the engine's Windows files and src/glwh ------------------------
file(GLOB QZ_ENGINE_WIN32_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/engine/*_win32.cpp
  ${CMAKE_SOURCE_DIR}/src/glwh/*.cpp)
# The loader's sources keep the library non-empty while the engine has no
# Windows file yet.
add_library(engine STATIC ${QZ_ENGINE_WIN32_SOURCES} ${QZ_GLAD_SOURCES})
set_source_files_properties(${QZ_GLAD_SOURCES} PROPERTIES COMPILE_OPTIONS -w)
target_include_directories(engine PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_include_directories(engine SYSTEM PUBLIC ${QZ_GLAD_DIR}/include)
target_link_libraries(engine PUBLIC engine_portable core PNG::PNG
  gdi32 user32 kernel32 shell32 winmm)

# ---- The product executable --------------------------------------------------
# main.cpp is an object library so that WinMain lands in the executable itself
# (a static library's WinMain would be searched too late by the C runtime),
# and so that the Windows tests can link the start-up functions.
add_library(app_main OBJECT ${CMAKE_SOURCE_DIR}/src/app/main.cpp)
target_include_directories(app_main PUBLIC ${CMAKE_SOURCE_DIR}/src)
# The engine after the packages that call it through its interface.
target_link_libraries(app_main PUBLIC app platform engine)

add_executable(QuorlenZiradeva WIN32 ${CMAKE_SOURCE_DIR}/src/app.rc)
target_link_libraries(QuorlenZiradeva PRIVATE app_main)
target_include_directories(QuorlenZiradeva PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/shaders)
set_source_files_properties(${CMAKE_SOURCE_DIR}/src/app.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/src/app.manifest;${CMAKE_SOURCE_DIR}/shaders/shaders.rc")
