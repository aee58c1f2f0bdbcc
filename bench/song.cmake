# Song analysis: the SMF parser's libFuzzer target and its throughput benchmark.
# Included from bench/CMakeLists.txt.

if(TONELARK_FUZZ)
  # Seeds: bench/corpus/smf_parser/ (copy them to a scratch folder before a run; libFuzzer
  # writes new inputs into the corpus folder it is given).
  add_executable(fuzz_smf_parser fuzz_smf_parser.cpp)
  target_link_libraries(fuzz_smf_parser PRIVATE tonelark_song)
  target_link_options(fuzz_smf_parser PRIVATE -fsanitize=fuzzer)
  tonelark_target_defaults(fuzz_smf_parser)
endif()

# Timings under the fuzzer's sanitizers mean nothing, so the fuzz tree skips the benchmark.
if(TONELARK_BUILD_BENCH AND NOT TONELARK_FUZZ)
  find_package(benchmark QUIET)
  pkg_check_modules(SMF QUIET IMPORTED_TARGET smf)
  if(benchmark_FOUND AND SMF_FOUND)
    # Parses a generated 50 MB SMF with TSmfParser and with libsmf and reports both rates.
    add_executable(parser_bench parser_bench.cpp)
    target_link_libraries(parser_bench PRIVATE tonelark_song benchmark::benchmark PkgConfig::SMF)
    tonelark_target_defaults(parser_bench)
  else()
    message(STATUS "parser_bench not built: needs Google Benchmark and libsmf (pkg-config smf)")
  endif()
endif()
