# Event journal records under libFuzzer, and the program that writes its seed
# rings (as the simulator serves them).
add_executable(event_record_fuzz ${CMAKE_CURRENT_LIST_DIR}/event_record_fuzz.cpp)
target_link_libraries(event_record_fuzz PRIVATE kvosc devcontent)
target_link_options(event_record_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(event_record_seeds ${CMAKE_CURRENT_LIST_DIR}/event_record_seeds.cpp)
target_link_libraries(event_record_seeds PRIVATE devsimfiles)

# The oscillogram directory, seeded with directories the simulator writes.
add_executable(osc_directory_fuzz ${CMAKE_CURRENT_LIST_DIR}/osc_directory_fuzz.cpp)
target_link_libraries(osc_directory_fuzz PRIVATE kvosc)
target_link_options(osc_directory_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(osc_directory_seeds ${CMAKE_CURRENT_LIST_DIR}/osc_directory_seeds.cpp)
target_link_libraries(osc_directory_seeds PRIVATE devsimfiles)

# The identification's "head.bin" checks.
add_executable(flash_header_fuzz ${CMAKE_CURRENT_LIST_DIR}/flash_header_fuzz.cpp)
target_link_libraries(flash_header_fuzz PRIVATE kvcore)
target_link_options(flash_header_fuzz PRIVATE -fsanitize=fuzzer)
