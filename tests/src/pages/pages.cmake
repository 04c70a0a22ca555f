# The device-bound controls and the title panel under the offscreen platform.
if(KV_GUI)
  kv_add_test(pages_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/../gui/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uControls_test.cpp
    LIBS kvpages)
endif()
