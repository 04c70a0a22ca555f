add_executable(assembler_bench ${CMAKE_CURRENT_LIST_DIR}/assembler_bench.cpp)
target_compile_definitions(assembler_bench PRIVATE KV_ASM="$<TARGET_FILE:kvasm>")
target_link_libraries(assembler_bench PRIVATE kvcustomasm)
add_dependencies(assembler_bench kvasm)
