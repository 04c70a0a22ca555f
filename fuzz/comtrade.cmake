# COMTRADE configuration and data readers and device record conversion under
# libFuzzer, and the program that writes the reader's seed pairs.
foreach(target comtrade_cfg_fuzz comtrade_osc_fuzz)
  add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp)
  target_link_libraries(${target} PRIVATE kvosc)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
endforeach()

# Their seed writers: configurations with boundary-sized counts, and device
# records made by our own code.
add_executable(comtrade_cfg_seeds ${CMAKE_CURRENT_LIST_DIR}/comtrade_cfg_seeds.cpp)
target_link_libraries(comtrade_cfg_seeds PRIVATE kvosc)
add_executable(comtrade_osc_seeds ${CMAKE_CURRENT_LIST_DIR}/comtrade_seeds.cpp)
target_link_libraries(comtrade_osc_seeds PRIVATE kvosc osccontent)
target_compile_definitions(comtrade_osc_seeds PRIVATE KV_SEED_OSC)

# The loader's quick and field-by-field readers against each other on any text.
add_executable(comtrade_dat_fuzz ${CMAKE_CURRENT_LIST_DIR}/comtrade_dat_fuzz.cpp)
target_link_libraries(comtrade_dat_fuzz PRIVATE kvosc)
target_link_options(comtrade_dat_fuzz PRIVATE -fsanitize=fuzzer)
add_executable(comtrade_dat_seeds ${CMAKE_CURRENT_LIST_DIR}/comtrade_dat_seeds.cpp)
target_link_libraries(comtrade_dat_seeds PRIVATE kvosc)
