# The event journal page under the offscreen platform, and its reading from
# the demo terminal served in-process over TCP.
if(KV_GUI)
  kv_add_test(uEventFrame_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/../gui/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uEventFrame_test.cpp
    LIBS kvoscview demodevice)
  target_include_directories(uEventFrame_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
endif()
