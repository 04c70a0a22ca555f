kv_add_test(uCharMap_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uCharMap_test.cpp LIBS kvcommon)
