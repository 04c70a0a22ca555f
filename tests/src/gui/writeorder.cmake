# What reaches the relay between the identity check and the first write, for
# every chain of the program that writes.
if(KV_GUI)
  kv_add_test(write_order_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uWriteOrderLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
