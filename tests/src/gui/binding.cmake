# Bound controls of the title panel and the boards across identifications of
# two relays of different types behind one gateway.
if(KV_GUI)
  kv_add_test(binding_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uBindingLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
