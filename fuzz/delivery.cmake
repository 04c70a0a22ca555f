# Answer records delivered by the link front under libFuzzer.
add_executable(delivery_fuzz ${CMAKE_CURRENT_LIST_DIR}/delivery_fuzz.cpp)
target_link_libraries(delivery_fuzz PRIVATE kvcommon)
target_link_options(delivery_fuzz PRIVATE -fsanitize=fuzzer)
