# The oscillogram side file reader under libFuzzer, and its seed writer.
add_executable(osc_side_fuzz ${CMAKE_CURRENT_LIST_DIR}/osc_side_fuzz.cpp)
target_link_libraries(osc_side_fuzz PRIVATE kvosc)
target_link_options(osc_side_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(osc_side_seeds ${CMAKE_CURRENT_LIST_DIR}/osc_side_seeds.cpp)
target_link_libraries(osc_side_seeds PRIVATE kvosc)
