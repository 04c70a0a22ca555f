# Loading COMTRADE pairs of device-sized records: time and peak memory.
if(TARGET osccontent)
  add_executable(comtrade_bench ${CMAKE_CURRENT_LIST_DIR}/comtrade_bench.cpp)
  target_link_libraries(comtrade_bench PRIVATE kvosc osccontent)
endif()
