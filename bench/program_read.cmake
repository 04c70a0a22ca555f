# The descriptor and event-journal reads inside the program (main window,
# offscreen, against the demo terminal over 127.0.0.1) beside the bare road's
# time for the same frames.
if(KV_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  add_executable(program_read_bench ${CMAKE_CURRENT_LIST_DIR}/program_read_bench.cpp)
  target_include_directories(program_read_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/src/gui)
  target_link_libraries(program_read_bench PRIVATE kvgui demodevice Qt6::Test)
endif()
