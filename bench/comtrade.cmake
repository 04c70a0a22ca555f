# Loading COMTRADE pairs of device-sized records: time and peak memory. The
# records are shared with the viewer's benchmark.
if(TARGET osccontent)
  add_library(comtrade_records STATIC ${CMAKE_CURRENT_LIST_DIR}/comtrade_records.cpp)
  target_include_directories(comtrade_records PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(comtrade_records PUBLIC kvosc osccontent)
  add_executable(comtrade_bench ${CMAKE_CURRENT_LIST_DIR}/comtrade_bench.cpp)
  target_link_libraries(comtrade_bench PRIVATE comtrade_records)
endif()
