# The settings file: loading a file with very many sections. Included from bench/CMakeLists.txt.
if(TONELARK_BUILD_BENCH AND NOT TONELARK_FUZZ AND TARGET tonelark_settings)
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    add_executable(settings_bench ${CMAKE_CURRENT_LIST_DIR}/settings_bench.cpp)
    target_link_libraries(settings_bench PRIVATE tonelark_settings benchmark::benchmark)
    tonelark_target_defaults(settings_bench)
  endif()
endif()
