add_executable(descriptor_bench ${CMAKE_CURRENT_LIST_DIR}/descriptor_bench.cpp)
target_link_libraries(descriptor_bench PRIVATE kvcore devcontent)
