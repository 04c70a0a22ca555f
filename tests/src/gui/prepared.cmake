# Writes prepared for one relay while another is identified, and dialogs left
# open while their page changes, against devsim in-process.
if(KV_GUI)
  kv_add_test(prepared_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uPreparedWriteLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
