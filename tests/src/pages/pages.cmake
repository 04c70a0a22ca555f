# The device-bound controls, the title panel, the device boards and their
# designers under the offscreen platform.
if(KV_GUI)
  kv_add_test(pages_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/../gui/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uControls_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uDeviceBoardFrame_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uDeviceBoardDialog_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uDesigner_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uDashboardFrame_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uUstavPanel_test.cpp
    LIBS kvpages Qt6::Test)
endif()
