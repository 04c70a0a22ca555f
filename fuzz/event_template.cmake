# The event report template reader under libFuzzer, and its seed writer.
add_executable(event_template_fuzz ${CMAKE_CURRENT_LIST_DIR}/event_template_fuzz.cpp)
target_link_libraries(event_template_fuzz PRIVATE kvreport)
target_link_options(event_template_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(event_template_seeds ${CMAKE_CURRENT_LIST_DIR}/event_template_seeds.cpp)
target_link_libraries(event_template_seeds PRIVATE kvcommon)
target_compile_definitions(event_template_seeds PRIVATE KV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
