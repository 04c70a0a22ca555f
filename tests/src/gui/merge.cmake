# Writes of part of a word while another master changes the word, against devsim.
if(KV_GUI)
  kv_add_test(merge_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uMergeLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
