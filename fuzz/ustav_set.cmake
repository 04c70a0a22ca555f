# The local setpoint set reader under libFuzzer, and its seed writer.
add_executable(ustav_set_fuzz ${CMAKE_CURRENT_LIST_DIR}/ustav_set_fuzz.cpp)
target_link_libraries(ustav_set_fuzz PRIVATE kvpagemodel)
target_link_options(ustav_set_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(ustav_set_seeds ${CMAKE_CURRENT_LIST_DIR}/ustav_set_seeds.cpp)
target_link_libraries(ustav_set_seeds PRIVATE kvcommon)
