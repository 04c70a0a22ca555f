# The script host and the schema compiler's whole road.
# The script host runs a watchdog thread: also under ThreadSanitizer.
kv_add_test(uScriptHost_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uScriptHost_test.cpp LIBS kvcustomcompile LABELS tsan)
kv_add_test(uSchemaCompileRun_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSchemaCompileRun_test.cpp LIBS kvcustomcompile)
# The assembler, and kvasm on the command line.
kv_add_test(uSchemaCompile_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSchemaCompile_test.cpp LIBS kvcustomcompile)
kv_add_test(kvasm_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/kvasm_test.cpp LIBS Qt6::Core)
add_dependencies(kvasm_test kvasm)
