# Engine benchmarks and the fuzz target of the engine's SMF reader.
if(TONELARK_FUZZ AND TARGET brisola4_core)
  add_executable(fuzz_engine_reader fuzz_engine_reader.cpp)
  target_link_libraries(fuzz_engine_reader PRIVATE brisola4_core)
  target_link_options(fuzz_engine_reader PRIVATE -fsanitize=fuzzer)
  tonelark_target_defaults(fuzz_engine_reader)
endif()

# Benchmarks: built with the normal tree, run by hand (see docs/ENGINE.md); never part of ctest.
# Timings under sanitizers mean nothing, so the fuzz tree skips them.
if(TONELARK_BUILD_BENCH AND NOT TONELARK_FUZZ AND TARGET brisola4_core)
  # Time to first sound of device -1100 against bare libfluidsynth (needs an audio server:
  # bench/engine_first_sound.sh).
  add_executable(engine_first_sound_bench engine_first_sound.cpp)
  target_link_libraries(engine_first_sound_bench PRIVATE brisola4_core ${CMAKE_DL_LIBS})
  target_compile_definitions(engine_first_sound_bench PRIVATE TONELARK_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
  tonelark_target_defaults(engine_first_sound_bench)
  # From a program's start to its first sound, the player against a bare libfluidsynth program
  # (bench/program_first_sound.sh): the probe preloaded into both, and the harness.
  pkg_check_modules(BENCH_FLUIDSYNTH REQUIRED IMPORTED_TARGET fluidsynth)
  add_library(first_sound_probe SHARED first_sound_probe.cpp)
  target_link_libraries(first_sound_probe PRIVATE PkgConfig::BENCH_FLUIDSYNTH ${CMAKE_DL_LIBS})
  tonelark_target_defaults(first_sound_probe)
  add_executable(program_first_sound_bench program_first_sound.cpp)
  target_link_libraries(program_first_sound_bench PRIVATE PkgConfig::BENCH_FLUIDSYNTH)
  tonelark_target_defaults(program_first_sound_bench)
  # Lateness of the port path's timing thread against the system clock.
  add_executable(engine_dispatch_bench engine_dispatch.cpp)
  target_link_libraries(engine_dispatch_bench PRIVATE brisola4_core)
  tonelark_target_defaults(engine_dispatch_bench)
  # What reaches a JACK MIDI port and when, against a client placing messages at their frames
  # (needs jackd: bench/jack_midi_timing.sh).
  add_executable(jack_midi_timing_bench jack_midi_timing.cpp)
  target_link_libraries(jack_midi_timing_bench PRIVATE brisola4_core)
  tonelark_target_defaults(jack_midi_timing_bench)
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    # Registration of a 10 MB SMF.
    add_executable(engine_register_bench engine_register.cpp)
    target_link_libraries(engine_register_bench PRIVATE brisola4_core benchmark::benchmark)
    if(TARGET tonelark_song)
      target_link_libraries(engine_register_bench PRIVATE tonelark_song)
      target_compile_definitions(engine_register_bench PRIVATE TONELARK_WITH_PARSER)
    endif()
    tonelark_target_defaults(engine_register_bench)
  else()
    message(STATUS "engine_register_bench not built: needs Google Benchmark")
  endif()
endif()
