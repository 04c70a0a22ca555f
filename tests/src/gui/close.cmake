# The program's close against the demo terminal: a signal to end during a
# write, the boxes of a write's steps, and the unsaved work it names.
if(KV_GUI)
  kv_add_test(close_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uCloseLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()

# A tab's close put off by its write: the tab's commands shut meanwhile, and
# the close held while a dialog is open.
if(KV_GUI)
  kv_add_test(deferred_close_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uDeferredCloseLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
