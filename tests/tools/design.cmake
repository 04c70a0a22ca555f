kv_add_test(uDeviceContentDesign_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uDeviceContentDesign_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uDemoLogic_test.cpp
  LIBS demodevice kvcustom kvcore)
