# Transfer throughput through the chains and the worker against the devsim
# program, with libmodbus on the same devsim as the reference.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KV_BENCH_MODBUS REQUIRED IMPORTED_TARGET libmodbus)
add_executable(transfer_bench ${CMAKE_CURRENT_LIST_DIR}/transfer_bench.cpp)
target_include_directories(transfer_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/tools)
target_compile_definitions(transfer_bench PRIVATE KV_BUILD_DIR="${CMAKE_BINARY_DIR}")
target_link_libraries(transfer_bench PRIVATE kvcore PkgConfig::KV_BENCH_MODBUS)
add_dependencies(transfer_bench devsim_app)
