# Tests of the main window's logic (GoogleTest) and of the real window's wiring (Qt Test).
tonelark_add_gtest(test_player_window
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/SongGateTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SongLoaderTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EncodingChoicesTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EngineNoticesTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TransportTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FontSetupTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowBehaviourTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/KeyTempoTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ABRepeatTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PrefApplyTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/QueuePlayerTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestSupport.h
    ${CMAKE_CURRENT_LIST_DIR}/FakeEngine.h
  LIBS tonelark_player)
target_include_directories(test_player_window PRIVATE ${CMAKE_CURRENT_LIST_DIR})

if(TARGET Qt6::Test)
  add_executable(test_main_window ${CMAKE_CURRENT_LIST_DIR}/WindowTest.cpp)
  set_target_properties(test_main_window PROPERTIES AUTOMOC ON)
  target_link_libraries(test_main_window PRIVATE tonelark_player Qt6::Test)
  target_include_directories(test_main_window PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_compile_definitions(test_main_window PRIVATE TONELARK_TEST_DATA_DIR="${TONELARK_TEST_DATA_DIR}")
  tonelark_target_defaults(test_main_window)
  add_test(NAME test_main_window COMMAND test_main_window)
  set_tests_properties(test_main_window PROPERTIES ENVIRONMENT "${TONELARK_TEST_ENV}")
endif()

# The window on the tests' real X server with a window manager (skips without one).
if(TARGET Qt6::Test)
  add_executable(test_desktop_window ${CMAKE_CURRENT_LIST_DIR}/DesktopWindowTest.cpp)
  set_target_properties(test_desktop_window PROPERTIES AUTOMOC ON)
  target_link_libraries(test_desktop_window PRIVATE tonelark_player Qt6::Test)
  target_include_directories(test_desktop_window PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  tonelark_target_defaults(test_desktop_window)
  add_test(NAME test_desktop_window COMMAND test_desktop_window)
  # Tray hosts and window states are one display's: never two of these runs at once.
  set_tests_properties(test_desktop_window PROPERTIES RUN_SERIAL TRUE ENVIRONMENT "${TONELARK_TEST_ENV}")
endif()

# MPRIS2 through playerctl on a private session bus, with the real engine.
if(TARGET Qt6::Test AND TARGET brisola4)
  add_executable(test_mpris_window ${CMAKE_CURRENT_LIST_DIR}/MprisWindowTest.cpp)
  set_target_properties(test_mpris_window PROPERTIES AUTOMOC ON)
  # The window opens the engine by its name: linked, it is the copy already loaded.
  target_link_libraries(test_mpris_window PRIVATE tonelark_player brisola4 Qt6::Test)
  target_include_directories(test_mpris_window PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  tonelark_target_defaults(test_mpris_window)
  find_program(DBUS_RUN_SESSION dbus-run-session)
  if(DBUS_RUN_SESSION)
    add_test(NAME test_mpris_window COMMAND ${DBUS_RUN_SESSION} -- $<TARGET_FILE:test_mpris_window>)
  else()
    add_test(NAME test_mpris_window COMMAND test_mpris_window)
  endif()
  set_tests_properties(test_mpris_window PROPERTIES ENVIRONMENT "${TONELARK_TEST_ENV}" COST 12)
endif()

# The info area's notices with the real engine and a PulseAudio server of the test's own.
if(TARGET Qt6::Test AND TARGET brisola4)
  add_executable(test_engine_notices_window ${CMAKE_CURRENT_LIST_DIR}/EngineNoticesWindowTest.cpp)
  set_target_properties(test_engine_notices_window PROPERTIES AUTOMOC ON)
  # The window opens the engine by its name: linked, it is the copy already loaded.
  target_link_libraries(test_engine_notices_window PRIVATE tonelark_player brisola4 Qt6::Test)
  target_include_directories(test_engine_notices_window PRIVATE ${CMAKE_CURRENT_LIST_DIR}
                                                                ${PROJECT_SOURCE_DIR}/tests/engines/brisola)
  tonelark_target_defaults(test_engine_notices_window)
  add_test(NAME test_engine_notices_window COMMAND test_engine_notices_window)
  set_tests_properties(test_engine_notices_window PROPERTIES ENVIRONMENT "${TONELARK_TEST_ENV}")
endif()

# The settings dialog on the real window and a real settings file; on the tests' X server
# (when there is one) also driven by real input.
if(TARGET Qt6::Test)
  add_executable(test_pref_window ${CMAKE_CURRENT_LIST_DIR}/PrefWindowTest.cpp)
  set_target_properties(test_pref_window PROPERTIES AUTOMOC ON)
  target_link_libraries(test_pref_window PRIVATE tonelark_player Qt6::Test)
  target_include_directories(test_pref_window PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  tonelark_target_defaults(test_pref_window)
  add_test(NAME test_pref_window COMMAND test_pref_window)
  set_tests_properties(test_pref_window PROPERTIES RUN_SERIAL TRUE ENVIRONMENT "${TONELARK_TEST_ENV}")
endif()

# The karaoke window on the tests' real X server (skips without one).
if(TARGET Qt6::Test)
  add_executable(test_stage_window ${CMAKE_CURRENT_LIST_DIR}/StageWindowTest.cpp)
  set_target_properties(test_stage_window PROPERTIES AUTOMOC ON)
  target_link_libraries(test_stage_window PRIVATE tonelark_player Qt6::Test)
  target_include_directories(test_stage_window PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  tonelark_target_defaults(test_stage_window)
  add_test(NAME test_stage_window COMMAND test_stage_window)
  set_tests_properties(test_stage_window PROPERTIES RUN_SERIAL TRUE ENVIRONMENT "${TONELARK_TEST_ENV}")
endif()

# Saving the backing track from the window, on the tests' real X server where there is one.
if(TARGET Qt6::Test AND TARGET tonelark_export)
  pkg_check_modules(TONELARK_TEST_SNDFILE REQUIRED IMPORTED_TARGET sndfile)
  add_executable(test_audio_export_window ${CMAKE_CURRENT_LIST_DIR}/AudioExportWindowTest.cpp)
  set_target_properties(test_audio_export_window PROPERTIES AUTOMOC ON)
  # The window's job opens the export library by its name: linked, it is the copy already loaded.
  target_link_libraries(test_audio_export_window PRIVATE tonelark_player tonelark_export tonelark-export Qt6::Test
                                                         PkgConfig::TONELARK_TEST_SNDFILE)
  target_include_directories(test_audio_export_window PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/tests/song)
  tonelark_target_defaults(test_audio_export_window)
  add_test(NAME test_audio_export_window COMMAND test_audio_export_window)
  set_tests_properties(test_audio_export_window PROPERTIES ENVIRONMENT "${TONELARK_TEST_ENV}")
endif()
