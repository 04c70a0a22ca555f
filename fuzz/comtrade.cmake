# COMTRADE configuration reader and device record conversion under libFuzzer.
foreach(target comtrade_cfg_fuzz comtrade_osc_fuzz)
  add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp)
  target_link_libraries(${target} PRIVATE kvosc)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
endforeach()
