# The assembler on arbitrary source under libFuzzer, and its seed sources.
add_executable(assembler_fuzz ${CMAKE_CURRENT_LIST_DIR}/assembler_fuzz.cpp)
target_link_libraries(assembler_fuzz PRIVATE kvcustomasm)
target_link_options(assembler_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(assembler_seeds ${CMAKE_CURRENT_LIST_DIR}/assembler_seeds.cpp)
target_link_libraries(assembler_seeds PRIVATE kvcommon)
