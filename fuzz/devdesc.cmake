# Fuzz target over the design-time descriptor (load, addresses, image build,
# decode of the built image), and the program that writes its seed files.
add_executable(devdesc_fuzz ${CMAKE_CURRENT_LIST_DIR}/devdesc_fuzz.cpp)
target_link_libraries(devdesc_fuzz PRIVATE kvcustomdesc kvcore)
target_link_options(devdesc_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(devdesc_seeds ${CMAKE_CURRENT_LIST_DIR}/devdesc_seeds.cpp)
target_link_libraries(devdesc_seeds PRIVATE kvcustomdesc)
