# The MML compiler's libFuzzer target and its compile-time benchmarks.
# Included from bench/CMakeLists.txt.

if(TARGET dSakura_core AND TONELARK_FUZZ)
  # Seeds: bench/corpus/mml/. Run it with bench/fuzz_mml_compiler.sh, which copies them to a
  # scratch folder (libFuzzer writes new inputs into its corpus folder) and sets long inputs
  # and a per-input timeout.
  add_executable(fuzz_mml_compiler fuzz_mml_compiler.cpp)
  target_link_libraries(fuzz_mml_compiler PRIVATE dSakura_core)
  target_link_options(fuzz_mml_compiler PRIVATE -fsanitize=fuzzer)
  tonelark_target_defaults(fuzz_mml_compiler)
endif()

# Timings under the fuzzer's sanitizers mean nothing, so the fuzz tree skips the benchmark.
if(TARGET dSakura AND TONELARK_BUILD_BENCH AND NOT TONELARK_FUZZ)
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    add_executable(mml_bench mml_bench.cpp)
    target_link_libraries(mml_bench PRIVATE dSakura benchmark::benchmark)
    target_include_directories(mml_bench PRIVATE ${PROJECT_SOURCE_DIR}/compiler)
    tonelark_target_defaults(mml_bench)
  else()
    message(STATUS "mml_bench not built: needs Google Benchmark")
  endif()
  # Compile time against the shape of the source; a plain program, no framework needed.
  add_executable(mml_shapes_bench mml_shapes_bench.cpp)
  target_link_libraries(mml_shapes_bench PRIVATE dSakura)
  target_include_directories(mml_shapes_bench PRIVATE ${PROJECT_SOURCE_DIR}/compiler)
  tonelark_target_defaults(mml_shapes_bench)
endif()
