# The main window: CPU cost of the playback monitor's tick with the real widgets.
# Included from bench/CMakeLists.txt.
if(TONELARK_BUILD_BENCH AND NOT TONELARK_FUZZ AND TARGET tonelark_player)
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    add_executable(window_tick_bench ${CMAKE_CURRENT_LIST_DIR}/window_tick.cpp)
    target_link_libraries(window_tick_bench PRIVATE tonelark_player benchmark::benchmark)
    tonelark_target_defaults(window_tick_bench)
  else()
    message(STATUS "window_tick_bench not built: needs Google Benchmark")
  endif()
  # Start-up phases with the real engine.
  if(TARGET brisola4)
    add_executable(window_startup_bench ${CMAKE_CURRENT_LIST_DIR}/window_startup.cpp)
    target_link_libraries(window_startup_bench PRIVATE tonelark_player)
    tonelark_target_defaults(window_startup_bench)
    # Per-thread CPU while playing and once stopped.
    add_executable(idle_cpu_bench ${CMAKE_CURRENT_LIST_DIR}/idle_cpu.cpp)
    target_link_libraries(idle_cpu_bench PRIVATE tonelark_player)
    tonelark_target_defaults(idle_cpu_bench)
  endif()
endif()
