# tonelark_engines: the window's side of the outside engines, starting with the MML
# compiler bridge (libdSakura.so, opened per call with dlopen).
add_library(tonelark_engines STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DynamicLibrary.cpp ${CMAKE_CURRENT_LIST_DIR}/DynamicLibrary.h
  ${CMAKE_CURRENT_LIST_DIR}/SakuraDll.cpp ${CMAKE_CURRENT_LIST_DIR}/SakuraDll.h
  ${CMAKE_CURRENT_LIST_DIR}/Brisola.h)
target_include_directories(tonelark_engines PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tonelark_engines PUBLIC Qt6::Core tonelark_common PRIVATE ${CMAKE_DL_LIBS})
tonelark_target_defaults(tonelark_engines)
