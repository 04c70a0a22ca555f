# Fuzz target over the logic schema reader, and the program that writes its
# seed schemas (made by the schema model's own writer). Both use the project's
# function library.
add_executable(schema_fuzz ${CMAKE_CURRENT_LIST_DIR}/schema_fuzz.cpp)
target_link_libraries(schema_fuzz PRIVATE kvcustomschema)
target_link_options(schema_fuzz PRIVATE -fsanitize=fuzzer)
target_compile_definitions(schema_fuzz PRIVATE KV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

add_executable(schema_seeds ${CMAKE_CURRENT_LIST_DIR}/schema_seeds.cpp)
target_link_libraries(schema_seeds PRIVATE kvcustomschema)
target_compile_definitions(schema_seeds PRIVATE KV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
