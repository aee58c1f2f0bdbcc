# The bridge tests run against small fake compilers built here, one per situation.
set(_fake_sakura_paths "")
function(tonelark_fake_sakura name)
  add_library(fake_sakura_${name} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/bridge/FakeSakura.cpp)
  set_target_properties(fake_sakura_${name} PROPERTIES CXX_VISIBILITY_PRESET hidden)
  target_compile_definitions(fake_sakura_${name} PRIVATE ${ARGN})
  tonelark_target_defaults(fake_sakura_${name})
  string(TOUPPER ${name} upper)
  set(_fake_sakura_paths ${_fake_sakura_paths}
    "FAKE_SAKURA_${upper}=\"$<TARGET_FILE:fake_sakura_${name}>\"" PARENT_SCOPE)
endfunction()
tonelark_fake_sakura(complete)
tonelark_fake_sakura(no_seterrmsglen FAKE_NO_SETERRMSGLEN)
tonelark_fake_sakura(no_mmltomidi FAKE_NO_MMLTOMIDI)
tonelark_fake_sakura(no_getverinfo FAKE_NO_GETVERINFO)
tonelark_fake_sakura(silent_success FAKE_SILENT_SUCCESS FAKE_FULL_VERSION)

tonelark_add_gtest(test_engines_bridge
  SOURCES bridge/SakuraDllTest.cpp
  LIBS tonelark_engines)
target_compile_definitions(test_engines_bridge PRIVATE ${_fake_sakura_paths})
add_dependencies(test_engines_bridge fake_sakura_complete fake_sakura_no_seterrmsglen
  fake_sakura_no_mmltomidi fake_sakura_no_getverinfo fake_sakura_silent_success)
