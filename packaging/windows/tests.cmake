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
    ${QTL_UNIT_DIR}/registration_rules_test.cpp ${QTL_UNIT_DIR}/statements_test.cpp
    ${QTL_UNIT_DIR}/class_list_test.cpp
    ${QTL_UNIT_DIR}/dm_audit_test.cpp)
file(GLOB QTL_WINDOWS_OWN_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/windows/*.cpp)
add_executable(qtl_unit_tests ${QTL_WINDOWS_UNIT_SOURCES} ${QTL_WINDOWS_OWN_TESTS})
target_link_libraries(qtl_unit_tests PRIVATE qtl_units qtl_settings_tool gtest gtest_main)
# The test program carries a stamped resource section too: its own build date is read the way
# qtl33.exe reads its own.
qtl_windows_executable(qtl_unit_tests "QTL 33 unit tests")
add_dependencies(qtl_unit_tests qtl33 qtl-settings)

# The GUI tests of tests/windows/gui_tests.txt, built from the same sources as on Linux. The
# qtl-devserver they sign in to runs on the Linux side: they reach it through
# qtl-devserver-broker (QTL_DEVSERVER_BROKER), which also reads its log and database for them.
find_package(Qt6 REQUIRED COMPONENTS Network Test)
set(QTL_GUI_DIR ${PROJECT_SOURCE_DIR}/tests/gui)
set(QTL_SUPPORT_DIR ${PROJECT_SOURCE_DIR}/tests/support)
add_executable(qtl_gui_tests
    ${QTL_GUI_DIR}/main.cpp ${QTL_GUI_DIR}/login_sign_in.cpp ${QTL_GUI_DIR}/login_password.cpp
    ${QTL_GUI_DIR}/chain_steps.cpp ${QTL_GUI_DIR}/register_students.cpp ${QTL_GUI_DIR}/remove_registrations.cpp
    ${QTL_GUI_DIR}/frame_transfer.cpp ${QTL_GUI_DIR}/search_window.cpp ${QTL_GUI_DIR}/registrations_window.cpp
    ${QTL_GUI_DIR}/class_list.cpp
    ${QTL_SUPPORT_DIR}/DevServer.cpp ${QTL_SUPPORT_DIR}/SignIn.cpp ${QTL_SUPPORT_DIR}/Broker.cpp)
target_include_directories(qtl_gui_tests PRIVATE ${QTL_SUPPORT_DIR} ${PROJECT_SOURCE_DIR}/devserver)
target_link_libraries(qtl_gui_tests PRIVATE qtl_units Qt6::Test Qt6::Network gtest)
qtl_windows_executable(qtl_gui_tests "QTL 33 GUI tests")
