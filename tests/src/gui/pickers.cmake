# The network target pickers and the MMS viewer; identification of a chosen
# target against devsim and the test agent.
if(KV_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kv_add_test(pickers_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uModbustcpForm_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uIdentificationNetwork_test.cpp
    LIBS kvgui demodevice simagent Qt6::Test)
endif()
if(KV_GUI)
  kv_add_test(gui_reports_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uMainFormReports_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
