# A write answered and not read back, against devsim behind a test gateway
# that fails after the writes' answers; how long a write's report stays; the
# boxes of a write's end on a tab closed during it.
if(KV_GUI)
  kv_add_test(unconfirmed_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uUnconfirmedLink_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uWriteReportLink_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uWriteEndBoxLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
