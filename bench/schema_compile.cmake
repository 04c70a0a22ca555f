# The schema compiler on a generated schema of 2,000 function blocks.
add_executable(schema_compile_bench ${CMAKE_CURRENT_LIST_DIR}/schema_compile_bench.cpp)
target_link_libraries(schema_compile_bench PRIVATE kvcustomcompile)
target_include_directories(schema_compile_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/src/custom)
target_compile_definitions(schema_compile_bench PRIVATE KV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
