# What the engineer sees and saves on the pages, against devsim: a set saved
# over a write not confirmed, the page files' captions in every language, a
# number typed into a parameter cell.
if(KV_GUI)
  kv_add_test(page_save_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uUstavFrameSaveLink_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uDashboardCaptionsLink_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uParamFrameInputLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
# The program's own texts of the spreadsheet and oscillogram tabs in each
# language of the interface.
if(KV_GUI)
  kv_add_test(interface_language_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uInterfaceLanguage_test.cpp
    LIBS kvgui Qt6::Test)
endif()
# The log line of a close that waited for a write not read back; the
# refusal of a bound control's write under a password box.
if(KV_GUI)
  kv_add_test(close_report_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uCloseReportLink_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uWriteRefusalLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
