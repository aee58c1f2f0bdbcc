# The lyric list and the info boxes: headless rules (GoogleTest) and the window's wiring (Qt Test).
tonelark_add_gtest(test_player_lyrics
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/LyricsModelTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LyricsExportTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CopyFormatsTest.cpp
  LIBS tonelark_player Qt6::Test)
target_include_directories(test_player_lyrics PRIVATE ${CMAKE_CURRENT_LIST_DIR})

if(TARGET Qt6::Test)
  add_executable(test_lyrics_window ${CMAKE_CURRENT_LIST_DIR}/LyricsWindowTest.cpp)
  set_target_properties(test_lyrics_window PROPERTIES AUTOMOC ON)
  target_link_libraries(test_lyrics_window PRIVATE tonelark_player Qt6::Test)
  target_include_directories(test_lyrics_window PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  tonelark_target_defaults(test_lyrics_window)
  add_test(NAME test_lyrics_window COMMAND test_lyrics_window)
  set_tests_properties(test_lyrics_window PROPERTIES ENVIRONMENT "${TONELARK_TEST_ENV}")
endif()

# Saves on a real full file system (a small tmpfs in a private mount namespace).
tonelark_add_gtest(test_full_disk SOURCES ${CMAKE_CURRENT_LIST_DIR}/FullDiskTest.cpp LIBS tonelark_player tonelark_export)
target_include_directories(test_full_disk PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
if(TARGET dSakura)
  target_compile_definitions(test_full_disk PRIVATE DSAKURA_LIBRARY_PATH="$<TARGET_FILE:dSakura>")
  add_dependencies(test_full_disk dSakura)
endif()
