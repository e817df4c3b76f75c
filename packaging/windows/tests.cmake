# The tests that run under Windows (scripts/windows-tests.sh runs them under Wine): the unit tests
# that need no qtl-devserver, and the checks of the built executables. GoogleTest is built from
# Debian's sources for the cross compiler.
set(QTL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${QTL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(QTL_UNIT_DIR ${PROJECT_SOURCE_DIR}/tests/unit)
set(QTL_WINDOWS_UNIT_SOURCES
    ${QTL_UNIT_DIR}/util_build_date_test.cpp ${QTL_UNIT_DIR}/util_text_test.cpp
    ${QTL_UNIT_DIR}/settings_test.cpp ${QTL_UNIT_DIR}/query_text_test.cpp
    ${QTL_UNIT_DIR}/main_statements_test.cpp ${QTL_UNIT_DIR}/class_list_test.cpp
    ${QTL_UNIT_DIR}/dm_audit_test.cpp)
file(GLOB QTL_WINDOWS_OWN_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/windows/*.cpp)
add_executable(qtl_unit_tests ${QTL_WINDOWS_UNIT_SOURCES} ${QTL_WINDOWS_OWN_TESTS})
target_link_libraries(qtl_unit_tests PRIVATE qtl_units qtl_settings_tool gtest gtest_main)
# The test program carries a stamped resource section too: its own build date is read the way
# qtl33.exe reads its own.
qtl_windows_executable(qtl_unit_tests "QTL 33 unit tests")
add_dependencies(qtl_unit_tests qtl33 qtl-settings)
