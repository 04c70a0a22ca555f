# The schema editor's frames: painting a module of 2,000 blocks and 3,000
# links at the default zoom, and dragging 100 selected blocks.
add_executable(schema_editor_bench ${CMAKE_CURRENT_LIST_DIR}/schema_editor_bench.cpp)
target_link_libraries(schema_editor_bench PRIVATE kvcustomschema)
target_include_directories(schema_editor_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/src/custom)
target_compile_definitions(schema_editor_bench PRIVATE KV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
