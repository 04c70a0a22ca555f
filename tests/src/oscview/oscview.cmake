# The oscillogram and event widgets under the offscreen platform; the event
# journal and oscillogram list pages also read from the demo terminal served
# in-process over TCP.
if(KV_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kv_add_test(oscview_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/../gui/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uOscFrame_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uOscRuler_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uOscNoteForm_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uOscPrint_test.cpp
    LIBS kvoscview Qt6::Test)
  kv_add_test(uEventFrame_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/../gui/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uEventFrame_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uOscHeadFrameDemo_test.cpp
    LIBS kvoscview demodevice)
  target_include_directories(uEventFrame_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
endif()
