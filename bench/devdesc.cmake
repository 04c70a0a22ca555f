add_executable(devdesc_bench ${CMAKE_CURRENT_LIST_DIR}/devdesc_bench.cpp)
target_link_libraries(devdesc_bench PRIVATE kvcustomdesc)
