kv_add_test(crc_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/crc_test.cpp LIBS kvcommon)
