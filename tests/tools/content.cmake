kv_add_test(uDeviceContent_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uDeviceContent_test.cpp LIBS devcontent)
