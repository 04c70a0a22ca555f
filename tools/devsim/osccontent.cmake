# Device oscillogram records ("osc.bin") generated from chosen waves and bit
# switches: used by the conversion tests, the benchmarks and the simulator.
add_library(osccontent STATIC ${CMAKE_CURRENT_LIST_DIR}/uOscContent.cpp)
target_include_directories(osccontent PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(osccontent PUBLIC kvcommon Qt6::Core)
