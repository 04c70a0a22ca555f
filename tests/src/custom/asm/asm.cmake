# The identifier listing and the instruction table.
kv_add_test(uSchemaCode_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSchemaCode_test.cpp LIBS kvcustomasm)
kv_add_test(uModbusIderList_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uModbusIderList_test.cpp LIBS kvcustomasm)
