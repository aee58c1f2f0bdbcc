# libbrisola4: the playback engine. Plain C++ with FluidSynth, RtMidi, JACK (for the server
# probe) and PulseAudio (its own stream, paused while quiet); no Qt. The internals build once
# as a static library that the shared library exports only the C functions from, and that
# tests, tools and benchmarks link directly.
find_package(Threads REQUIRED)
pkg_check_modules(BRISOLA_FLUIDSYNTH REQUIRED IMPORTED_TARGET fluidsynth)
pkg_check_modules(BRISOLA_JACK REQUIRED IMPORTED_TARGET jack)
pkg_check_modules(BRISOLA_PULSE REQUIRED IMPORTED_TARGET libpulse)
if(WITH_RTMIDI)
  pkg_check_modules(BRISOLA_RTMIDI IMPORTED_TARGET rtmidi)
endif()

add_library(brisola4_core STATIC
  brisola/MidiSink.h
  brisola/RecordingSink.h
  brisola/SmfTimeline.cpp brisola/SmfTimeline.h
  brisola/Sequencer.cpp brisola/Sequencer.h
  brisola/StatusBoard.h
  brisola/Output.h
  brisola/RealtimeClock.cpp brisola/RealtimeClock.h
  brisola/FluidSynthSink.cpp brisola/FluidSynthSink.h
  brisola/PulseStream.cpp brisola/PulseStream.h
  brisola/MidiPortSink.cpp brisola/MidiPortSink.h
  brisola/Engine.cpp brisola/Engine.h
  brisola/DeviceFacts.cpp
  Brisola.h)
target_include_directories(brisola4_core PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}/brisola")
target_link_libraries(brisola4_core PUBLIC PkgConfig::BRISOLA_FLUIDSYNTH PkgConfig::BRISOLA_JACK
                                           PkgConfig::BRISOLA_PULSE Threads::Threads)
if(BRISOLA_RTMIDI_FOUND)
  target_link_libraries(brisola4_core PUBLIC PkgConfig::BRISOLA_RTMIDI)
  target_compile_definitions(brisola4_core PRIVATE BRISOLA_WITH_RTMIDI)
endif()
set_target_properties(brisola4_core PROPERTIES POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden
                                               VISIBILITY_INLINES_HIDDEN ON)
tonelark_target_defaults(brisola4_core)

add_library(brisola4 SHARED "${CMAKE_CURRENT_SOURCE_DIR}/Brisola.h")
target_link_libraries(brisola4 PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,brisola4_core>")
target_include_directories(brisola4 PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}")
# Beside the program in the build tree too: the program opens it from its own folder.
set_target_properties(brisola4 PROPERTIES LINKER_LANGUAGE CXX VERSION 4.0.0 SOVERSION 4
                                          LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin"
                                          CXX_VISIBILITY_PRESET hidden)
tonelark_target_defaults(brisola4)
