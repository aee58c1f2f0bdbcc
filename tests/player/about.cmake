# The About page and the shortcut list on the real window, in a program with its own version
# record; the record of the main window test's program lets its About page read as the real one.
if(NOT TARGET Qt6::Test)
  return()
endif()
add_executable(test_about_window ${CMAKE_CURRENT_LIST_DIR}/AboutWindowTest.cpp)
set_target_properties(test_about_window PROPERTIES AUTOMOC ON)
target_link_libraries(test_about_window PRIVATE tonelark_player Qt6::Test)
target_include_directories(test_about_window PRIVATE ${CMAKE_CURRENT_LIST_DIR})
tonelark_target_defaults(test_about_window)
tonelark_add_version_record(test_about_window DESCRIPTION "Tonelark" ORIGINAL_FILENAME "test_about_window"
                            VERSION 3.1.4.1 COPYRIGHT "Copyright 2026 Tonelark-Project and the friends")
add_test(NAME test_about_window COMMAND test_about_window)
set_tests_properties(test_about_window PROPERTIES ENVIRONMENT "${TONELARK_TEST_ENV}")

if(TARGET test_main_window)
  tonelark_add_version_record(test_main_window DESCRIPTION "Tonelark" ORIGINAL_FILENAME "test_main_window")
endif()
