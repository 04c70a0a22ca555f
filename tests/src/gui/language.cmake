# Every page and dialog in English against the demo terminal: no Russian but the device's own.
if(KV_GUI)
  kv_add_test(language_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uLanguageLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
