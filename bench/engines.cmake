# Engine benchmarks and the fuzz target of the engine's SMF reader.
if(TONELARK_FUZZ AND TARGET brisola4_core)
  add_executable(fuzz_engine_reader fuzz_engine_reader.cpp)
  target_link_libraries(fuzz_engine_reader PRIVATE brisola4_core)
  target_link_options(fuzz_engine_reader PRIVATE -fsanitize=fuzzer)
  tonelark_target_defaults(fuzz_engine_reader)
endif()
