add_executable(assembler_bench ${CMAKE_CURRENT_LIST_DIR}/assembler_bench.cpp)
target_link_libraries(assembler_bench PRIVATE kvcustomasm)
