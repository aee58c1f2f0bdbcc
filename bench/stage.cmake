# The karaoke window: CPU and repaints while singing and paused (bench/stage_bench.sh).
if(TONELARK_BUILD_BENCH AND NOT TONELARK_FUZZ AND TARGET tonelark_player AND TARGET brisola4)
  add_executable(stage_bench ${CMAKE_CURRENT_LIST_DIR}/stage_bench.cpp)
  target_link_libraries(stage_bench PRIVATE tonelark_player brisola4)
  tonelark_target_defaults(stage_bench)
endif()
