# The boards tab against devsim: its setpoint panels' writes and what they
# show across the board designer's OK.
if(KV_GUI)
  kv_add_test(boards_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uDeviceBoardLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
