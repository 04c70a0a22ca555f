kv_add_test(uSchemaCode_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSchemaCode_test.cpp LIBS kvcustom)
kv_add_test(uSchemaCompile_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSchemaCompile_test.cpp LIBS kvcustom)
kv_add_test(uModbusIderList_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uModbusIderList_test.cpp LIBS kvcustom)
