# The page file reader of the title panel and boards (records, no widgets)
# under libFuzzer, and its seed writer.
add_executable(page_file_fuzz ${CMAKE_CURRENT_LIST_DIR}/page_file_fuzz.cpp)
target_link_libraries(page_file_fuzz PRIVATE kvpagemodel)
target_link_options(page_file_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(page_file_seeds ${CMAKE_CURRENT_LIST_DIR}/page_file_seeds.cpp)
target_link_libraries(page_file_seeds PRIVATE kvcommon)
