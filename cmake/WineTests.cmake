# Test programs run under Wine, each in a sealed throwaway prefix.
#
# Prefixes: "win64" (64-bit Windows, our 32-bit programs under WOW64),
# "win32" (32-bit Windows), and "gui" (64-bit, with a virtual display, for the
# few tests that answer message boxes). The x86 tree owns the fixtures that create and stop
# them; tests of both trees require those fixtures.

set(ZL_WINE_RUN "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh")
set(ZL_WINE_PREFIX_SH "${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh")
set(CMAKE_CROSSCOMPILING_EMULATOR "${ZL_WINE_RUN};${ZL_WINE_ROOT}/win64")

function(zl_prefix_path out name)
  set(${out} "${ZL_WINE_ROOT}/${name}" PARENT_SCOPE)
endfunction()

# Defines the start/stop fixtures of one prefix (x86 tree only). A GUI prefix
# has a virtual display, for the tests that answer message boxes. A 32-bit
# prefix is made under emulation on most machines here: seconds when the
# machine is idle, minutes when it is loaded.
function(zl_wine_prefix_fixture name arch)
  cmake_parse_arguments(A "GUI" "" "" ${ARGN})
  zl_prefix_path(p ${name})
  set(gui "")
  if(A_GUI)
    set(gui gui)
  endif()
  add_test(NAME prefix.${name}.start
           COMMAND ${ZL_WINE_PREFIX_SH} start "${p}" ${arch} "${ZL_BUILD_ROOT}" ${gui})
  set_tests_properties(prefix.${name}.start PROPERTIES FIXTURES_SETUP wine_${name} TIMEOUT 600)
  add_test(NAME prefix.${name}.stop COMMAND ${ZL_WINE_PREFIX_SH} stop "${p}")
  set_tests_properties(prefix.${name}.stop PROPERTIES FIXTURES_CLEANUP wine_${name})
endfunction()

# zl_wine_test(<test program target> [PREFIXES win64 win32] [SERIAL] [TIMEOUT s])
# Registers one ctest test per prefix. SERIAL tests change machine-wide state
# (HKLM, Program Files, services) and never run beside another SERIAL test of
# the same prefix.
function(zl_wine_test target)
  cmake_parse_arguments(A "SERIAL" "TIMEOUT" "PREFIXES" ${ARGN})
  if(NOT A_PREFIXES)
    set(A_PREFIXES win64)
  endif()
  if(ZL_ARCH STREQUAL "x64")
    # A 64-bit program cannot run on 32-bit Windows.
    list(REMOVE_ITEM A_PREFIXES win32)
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  foreach(name ${A_PREFIXES})
    zl_prefix_path(p ${name})
    set(test ${ZL_ARCH}.${target}.${name})
    add_test(NAME ${test} COMMAND ${ZL_WINE_RUN} "${p}" $<TARGET_FILE:${target}>
             WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>)
    # A program that crashes can still end with 0 once Wine's debugger has
    # reported it; the report fails the test.
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED wine_${name} TIMEOUT ${A_TIMEOUT}
                         FAIL_REGULAR_EXPRESSION "wine: Unhandled ")
    if(A_SERIAL)
      set_tests_properties(${test} PROPERTIES RESOURCE_LOCK machine_${name})
    endif()
  endforeach()
endfunction()

# zl_test_program(<target> SOURCES ... [LIBS ...]): a GoogleTest program.
function(zl_test_program target)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${A_SOURCES})
  target_link_libraries(${target} PRIVATE zl_test_main ${A_LIBS})
  target_link_options(${target} PRIVATE -municode)
endfunction()
