# The logic project file's reader under libFuzzer, and its seed writer.
add_executable(project_fuzz ${CMAKE_CURRENT_LIST_DIR}/project_fuzz.cpp)
target_link_libraries(project_fuzz PRIVATE kvcustom)
target_link_options(project_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(project_seeds ${CMAKE_CURRENT_LIST_DIR}/project_seeds.cpp)
target_link_libraries(project_seeds PRIVATE kvcustom)
