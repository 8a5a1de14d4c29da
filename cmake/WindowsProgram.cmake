# Windows program and library targets: manifest, version resource, static runtime,
# and the copy into dist/ for what ships.

# The version every shipped file carries.
set(ZL_VERSION "1.0.0.0")

# zl_windows_resources(<target> NAME <name> DESCRIPTION <text>
#                      [LEVEL <execution level>] [FILE_VERSION <text> | EMPTY_FILE_VERSION] [DLL])
# Embeds a version resource, and for programs a manifest with the execution level.
# FILE_VERSION overrides the FileVersion string, EMPTY_FILE_VERSION leaves it
# empty (the testbed's agent stand-ins use both).
function(zl_windows_resources target)
  cmake_parse_arguments(A "DLL;EMPTY_FILE_VERSION" "NAME;DESCRIPTION;LEVEL;FILE_VERSION" "" ${ARGN})
  set(ZL_NAME "${A_NAME}")
  set(ZL_DESCRIPTION "${A_DESCRIPTION}")
  set(ZL_LEVEL "${A_LEVEL}")
  if(NOT ZL_LEVEL)
    set(ZL_LEVEL asInvoker)
  endif()
  if(A_EMPTY_FILE_VERSION)
    set(ZL_FILE_VERSION_TEXT "")
  elseif(DEFINED A_FILE_VERSION)
    set(ZL_FILE_VERSION_TEXT "${A_FILE_VERSION}")
  else()
    set(ZL_FILE_VERSION_TEXT "${ZL_VERSION}")
  endif()
  string(REPLACE "." "," ZL_VERSION_COMMAS "${ZL_VERSION}")
  set(gen "${CMAKE_CURRENT_BINARY_DIR}/${target}_res")
  if(A_DLL)
    set(ZL_FILETYPE VFT_DLL)
    set(ZL_FILENAME "${A_NAME}.dll")
  else()
    set(ZL_FILETYPE VFT_APP)
    set(ZL_FILENAME "${A_NAME}.exe")
  endif()
  set(ZL_MANIFEST "${gen}.manifest")
  configure_file("${CMAKE_SOURCE_DIR}/cmake/program.manifest.in" "${gen}.manifest" @ONLY)
  configure_file("${CMAKE_SOURCE_DIR}/cmake/program.rc.in" "${gen}.rc.tmp" @ONLY)
  if(A_DLL)
    # A library carries no manifest of its own.
    file(READ "${gen}.rc.tmp" rc)
    string(REGEX REPLACE "1 24 \"[^\"]*\"\n" "" rc "${rc}")
    file(WRITE "${gen}.rc.tmp" "${rc}")
  endif()
  file(COPY_FILE "${gen}.rc.tmp" "${gen}.rc" ONLY_IF_DIFFERENT)
  target_sources(${target} PRIVATE "${gen}.rc")
  set_target_properties(${target} PROPERTIES OUTPUT_NAME "${A_NAME}")
endfunction()

# zl_gui_program(<target> ...): a windowless program with a Unicode entry point
# (wWinMain). Arguments as for zl_windows_resources.
# Marked terminal-server aware, so that GetWindowsDirectoryW names the real
# Windows folder on a terminal server.
function(zl_gui_program target)
  set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
  target_link_options(${target} PRIVATE -municode -Wl,--tsaware)
  zl_windows_resources(${target} ${ARGN})
endfunction()

# zl_console_program(<target> ...): a console program with wmain.
function(zl_console_program target)
  target_link_options(${target} PRIVATE -municode -Wl,--tsaware)
  zl_windows_resources(${target} ${ARGN})
endfunction()

# zl_ship(<target or file>...): copy into dist/ after every build.
function(zl_ship)
  foreach(item ${ARGN})
    if(TARGET ${item})
      add_custom_command(TARGET ${item} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E make_directory "${ZL_DIST}"
        COMMAND ${CMAKE_COMMAND} -E copy_if_different "$<TARGET_FILE:${item}>" "${ZL_DIST}/"
        VERBATIM)
    else()
      get_filename_component(name "${item}" NAME)
      add_custom_command(OUTPUT "${ZL_DIST}/${name}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${ZL_DIST}"
        COMMAND ${CMAKE_COMMAND} -E copy_if_different "${item}" "${ZL_DIST}/"
        DEPENDS "${item}" VERBATIM)
      add_custom_target(ship_${name} ALL DEPENDS "${ZL_DIST}/${name}")
    endif()
  endforeach()
endfunction()
