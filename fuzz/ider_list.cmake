# The firmware's identifier listing under libFuzzer, and its seed writer.
add_executable(ider_list_fuzz ${CMAKE_CURRENT_LIST_DIR}/ider_list_fuzz.cpp)
target_link_libraries(ider_list_fuzz PRIVATE kvcustomasm)
target_link_options(ider_list_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(ider_list_seeds ${CMAKE_CURRENT_LIST_DIR}/ider_list_seeds.cpp)
target_link_libraries(ider_list_seeds PRIVATE kvcommon)
