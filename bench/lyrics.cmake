# The lyric list: CPU cost of the following step and the repaint per tick with 5 000 lines.
# Included from bench/CMakeLists.txt.
if(TONELARK_BUILD_BENCH AND NOT TONELARK_FUZZ AND TARGET tonelark_player)
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    add_executable(lyrics_bench ${CMAKE_CURRENT_LIST_DIR}/lyrics_bench.cpp)
    target_link_libraries(lyrics_bench PRIVATE tonelark_player benchmark::benchmark)
    tonelark_target_defaults(lyrics_bench)
  endif()
endif()
