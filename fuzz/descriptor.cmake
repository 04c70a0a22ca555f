# Fuzz target over the binary descriptor image decoder, and the program that
# writes its seed images (made by the device-content library).
add_executable(descriptor_fuzz ${CMAKE_CURRENT_LIST_DIR}/descriptor_fuzz.cpp)
target_link_libraries(descriptor_fuzz PRIVATE kvcore)
target_link_options(descriptor_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(descriptor_seeds ${CMAKE_CURRENT_LIST_DIR}/descriptor_seeds.cpp)
target_link_libraries(descriptor_seeds PRIVATE devcontent)
