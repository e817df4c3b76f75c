# The 64-bit Windows build (MinGW-w64 against a MinGW Qt; scripts/windows.sh configures it).
# qtl33.exe and qtl-settings.exe carry a version resource, so each has a resource section whose
# directory header holds the link date the program shows as its build date.
enable_language(RC)

set(QTL_WINDOWS_DIR ${CMAKE_CURRENT_LIST_DIR})
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Gives an executable the version resource and, after every link, the link date in its resource
# directory header (MinGW's linker leaves it 0). The date also goes to EXE.build-date, which the
# tests compare with what the program reads back.
function(qtl_windows_executable target description)
  set(QTL_RC_DESCRIPTION "${description}")
  set(QTL_RC_FILENAME "${target}.exe")
  configure_file(${QTL_WINDOWS_DIR}/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  # A command of its own rather than POST_BUILD, which only the target's own folder may add: it
  # runs after every link because the date file is older than the new executable.
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${target}.stamped
                     COMMAND ${Python3_EXECUTABLE} ${QTL_WINDOWS_DIR}/stamp-build-date.py $<TARGET_FILE:${target}>
                     COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/${target}.stamped
                     DEPENDS ${target} ${QTL_WINDOWS_DIR}/stamp-build-date.py VERBATIM)
  add_custom_target(${target}_build_date ALL DEPENDS ${CMAKE_BINARY_DIR}/${target}.stamped)
endfunction()
