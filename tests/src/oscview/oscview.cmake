# The oscillogram viewer's widgets under the offscreen platform.
if(KV_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kv_add_test(oscview_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/../gui/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uOscFrame_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uOscRuler_test.cpp
    LIBS kvoscview Qt6::Test)
endif()
