# The identifier listing, the instruction table and the assembler, and kvasm on the command line.
kv_add_test(uSchemaCode_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSchemaCode_test.cpp LIBS kvcustomasm)
kv_add_test(uSchemaAssembler_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSchemaAssembler_test.cpp LIBS kvcustomasm)
kv_add_test(uModbusIderList_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uModbusIderList_test.cpp LIBS kvcustomasm)
kv_add_test(kvasm_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/kvasm_test.cpp LIBS Qt6::Core)
add_dependencies(kvasm_test kvasm)
