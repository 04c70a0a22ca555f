# The event journal, its spreadsheet and report, and the title panel's event
# list across identifications of two relays and across the relay's clock.
if(KV_GUI)
  kv_add_test(journal_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uJournalLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
