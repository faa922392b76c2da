# The suite of the Windows build: the unit tests that hold on both platforms,
# run under wine (CMAKE_CROSSCOMPILING_EMULATOR) in a wine prefix of this
# build folder, made headless by the first test.

# GoogleTest from its Debian sources, built for Windows with the project.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(TRACE_WINE_ENV
  WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
  WINEDEBUG=-all
  WINEDLLOVERRIDES=inetmib1=n
  DISPLAY=)

add_executable(unit_tests ${TRACE_UNIT_TEST_SOURCES})
target_link_libraries(unit_tests PRIVATE tracepack_core traceunpack_core qremote gtest gtest_main)
target_include_directories(unit_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
# mingw's g++ 12 misreads std::string's appends in optimised builds.
target_compile_options(unit_tests PRIVATE -Wno-restrict)
target_compile_definitions(unit_tests PRIVATE TRACE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

find_program(TRACE_WINEBOOT wineboot REQUIRED)
add_test(NAME win.prefix COMMAND ${TRACE_WINEBOOT} --init)
set_tests_properties(win.prefix PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${TRACE_WINE_ENV}" TIMEOUT 300)

add_test(NAME win.unit_tests COMMAND unit_tests)
set_tests_properties(win.unit_tests PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${TRACE_WINE_ENV}"
  TIMEOUT 900)

# The MIB-II agent the Windows tests load instead of the system's (wine's
# leaves the interface table early), so the adapter walk reports a fixed
# table whose row 2 is 02:11:22:33:44:55.
add_library(inetmib1_standin SHARED win/inetmib1_standin.cpp)
set_target_properties(inetmib1_standin PROPERTIES OUTPUT_NAME inetmib1 PREFIX "")
target_link_libraries(inetmib1_standin PRIVATE snmpapi)
add_dependencies(unit_tests inetmib1_standin)
