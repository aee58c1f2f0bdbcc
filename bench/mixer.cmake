# The mixer's channel survey (it reads SMF bytes of its own): a libFuzzer target, seeded from
# bench/corpus/smf_parser/. Included from bench/CMakeLists.txt.
if(TONELARK_FUZZ AND TARGET tonelark_mixer)
  add_executable(fuzz_channel_survey fuzz_channel_survey.cpp)
  target_link_libraries(fuzz_channel_survey PRIVATE tonelark_mixer)
  target_link_options(fuzz_channel_survey PRIVATE -fsanitize=fuzzer)
  tonelark_target_defaults(fuzz_channel_survey)
endif()
