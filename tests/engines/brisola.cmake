# Tests of the playback engine: the reader, the sequencer on an offline clock, the C functions.
tonelark_add_gtest(brisola_test
  SOURCES
    brisola/SmfBuilder.h
    brisola/SmfTimelineTest.cpp
    brisola/SequencerTest.cpp
    brisola/ChaseFidelityTest.cpp
  LIBS brisola4_core)
target_compile_definitions(brisola_test PRIVATE TONELARK_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")

tonelark_add_gtest(brisola_api_test
  SOURCES
    brisola/SmfBuilder.h
    brisola/EngineApiTest.cpp
    brisola/DeviceFactsTest.cpp
    brisola/RealOutputTest.cpp
  LIBS brisola4_core ${CMAKE_DL_LIBS})
target_compile_definitions(brisola_api_test PRIVATE BRISOLA_LIBRARY_PATH="$<TARGET_FILE:brisola4>")
add_dependencies(brisola_api_test brisola4)

if(TARGET tonelark-render)
  tonelark_add_gtest(brisola_render_test
    SOURCES
      brisola/SmfBuilder.h
      brisola/RenderCompareTest.cpp
    LIBS brisola4_core)
  target_compile_definitions(brisola_render_test PRIVATE TONELARK_RENDER_PATH="$<TARGET_FILE:tonelark-render>"
                             TONELARK_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
  add_dependencies(brisola_render_test tonelark-render)
endif()

# The reader against the program's song parser: the engine plays what the window shows.
if(TARGET tonelark_song)
  tonelark_add_gtest(brisola_acceptance_test
    SOURCES
      brisola/SmfBuilder.h
      brisola/AcceptanceTest.cpp
    LIBS brisola4_core tonelark_song)
  target_compile_definitions(brisola_acceptance_test PRIVATE TONELARK_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
endif()
