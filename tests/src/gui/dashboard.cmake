# The title panel against the demo terminal in the simulator.
if(KV_GUI)
  kv_add_test(dashboard_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uDashboardLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
if(KV_GUI)
  kv_add_test(writes_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uWriteGateLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
