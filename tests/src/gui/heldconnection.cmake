# A title-panel write held to the connection its check ran on, while the
# panel's refresh connects anew to another relay behind the test gateway.
if(KV_GUI)
  kv_add_test(heldconnection_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uHeldConnectionLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
