# The custom logic's whole build (merge, compile, descriptor and FLASH images)
# of the demo terminal's logic and of one with a 2,000-block unit.
add_executable(custom_build_bench ${CMAKE_CURRENT_LIST_DIR}/custom_build_bench.cpp)
target_link_libraries(custom_build_bench PRIVATE kvcustom demodevice)
target_include_directories(custom_build_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/src/custom)
target_compile_definitions(custom_build_bench PRIVATE KV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
