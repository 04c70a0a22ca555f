# The script host and the schema compiler's whole road.
# The script host runs a watchdog thread: also under ThreadSanitizer.
kv_add_test(uScriptHost_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uScriptHost_test.cpp LIBS kvcustomcompile LABELS tsan)
kv_add_test(uSchemaCompileRun_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSchemaCompileRun_test.cpp LIBS kvcustomcompile)
