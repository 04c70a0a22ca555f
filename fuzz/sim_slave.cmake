# The simulated device's framing on both lines under libFuzzer, and its seeds.
add_executable(sim_slave_fuzz ${CMAKE_CURRENT_LIST_DIR}/sim_slave_fuzz.cpp)
target_link_libraries(sim_slave_fuzz PRIVATE devsim)
target_link_options(sim_slave_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(sim_slave_seeds ${CMAKE_CURRENT_LIST_DIR}/sim_slave_seeds.cpp)
target_link_libraries(sim_slave_seeds PRIVATE kvcommon)
