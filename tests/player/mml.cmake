# The MML demo through the real window, bridge, compiler and engine.
if(TARGET Qt6::Test AND TARGET dSakura AND TARGET brisola4)
  add_executable(test_mml_end_to_end ${CMAKE_CURRENT_LIST_DIR}/MmlEndToEndTest.cpp)
  set_target_properties(test_mml_end_to_end PROPERTIES AUTOMOC ON)
  # The window opens the engine by its name: linked, it is the copy already loaded.
  target_link_libraries(test_mml_end_to_end PRIVATE tonelark_player brisola4 Qt6::Test)
  target_compile_definitions(test_mml_end_to_end PRIVATE
    TONELARK_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
  add_dependencies(test_mml_end_to_end dSakura)
  tonelark_target_defaults(test_mml_end_to_end)
  add_test(NAME test_mml_end_to_end COMMAND test_mml_end_to_end)
  # The bridge finds the compiler by the library search when it is not next to the program.
  set_tests_properties(test_mml_end_to_end PROPERTIES
    ENVIRONMENT "${TONELARK_TEST_ENV};LD_LIBRARY_PATH=$<TARGET_FILE_DIR:dSakura>")
endif()
