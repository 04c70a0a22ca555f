kv_add_test(uCharMap_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uCharMap_test.cpp LIBS kvcommon)
kv_add_test(uModbus_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uModbus_test.cpp LIBS kvcommon)
