kv_add_test(uModbusTools_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uModbusTools_test.cpp LIBS kvcommon LABELS tsan)
