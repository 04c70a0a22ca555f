# A write decided against the relay answering at its read, and the reads of a
# tab closed during its refresh, against devsim and a test gateway.
if(KV_GUI)
  kv_add_test(write_against_relay_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uWriteAgainstRelayLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
