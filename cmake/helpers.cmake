# qm_library(NAME SOURCES... [DEPS targets...])
# A static library of one subsystem; its folder's parent is on the include path, so
# headers are included as "lz/nds_lz.h", "rom/nds_rom.h" and so on.
function(qm_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  if(ARG_DEPS)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  endif()
endfunction()

# qm_test(NAME SOURCES... DEPS targets...)
# One GoogleTest executable per subsystem, registered test by test with CTest.
function(qm_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(CMAKE_CROSSCOMPILING)
    # The toolkit is not cross-built: its tests (tool_*_test.cpp) run natively only.
    list(FILTER ARG_SOURCES EXCLUDE REGEX "(^|/)tool_[^/]*_test\\.cpp$")
    qm_cross_gtest()
  else()
    find_package(GTest REQUIRED)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE QM_BINARY_DIR="${PROJECT_BINARY_DIR}"
                                             QM_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(CMAKE_CROSSCOMPILING)
    # Test discovery would have to run the executable at build time; register it whole and let
    # CTest run it through the emulator (Wine) instead.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  else()
    include(GoogleTest)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 600)
  endif()
endfunction()

# GoogleTest for a cross build: Debian ships its sources, compiled here with the cross compiler.
macro(qm_cross_gtest)
  if(NOT TARGET gtest)
    # Its own CMake files define the GTest::gtest and GTest::gtest_main aliases.
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
endmacro()
