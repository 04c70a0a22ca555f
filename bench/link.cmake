add_executable(link_bench ${CMAKE_CURRENT_LIST_DIR}/link_bench.cpp)
target_include_directories(link_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
target_link_libraries(link_bench PRIVATE kvcommon)
