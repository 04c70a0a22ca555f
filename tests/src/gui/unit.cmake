# A relay is one unit: two relays of one type behind a test gateway, work
# made for one never written to the other, the unit datum kept.
if(KV_GUI)
  kv_add_test(unit_identity_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uUnitIdentityLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
