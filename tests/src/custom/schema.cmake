# Function library, schema model, file, drawing, undo, script host and compiler.
kv_add_test(uConfigurator_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uConfigurator_test.cpp LIBS kvcustom)
kv_add_test(uSchemaModule_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSchemaModule_test.cpp ${CMAKE_CURRENT_LIST_DIR}/uSchemaModuleFile_test.cpp
  LIBS kvcustom)
kv_add_test(uGraphic_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uGraphic_test.cpp LIBS kvcustom)
kv_add_test(uUndoRedoTool_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uUndoRedoTool_test.cpp LIBS kvcustom)
kv_add_test(uSchemaEditorState_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSchemaEditorState_test.cpp LIBS kvcustom)
# The script host runs a watchdog thread: also under ThreadSanitizer.
kv_add_test(uScriptHost_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uScriptHost_test.cpp LIBS kvcustom LABELS tsan)
kv_add_test(uSchemaCompileRun_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSchemaCompileRun_test.cpp LIBS kvcustom)
kv_add_test(uCustomLogic_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uCustomLogic_test.cpp LIBS kvcustom)
kv_add_test(uMultipleFileStream_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uMultipleFileStream_test.cpp LIBS kvcustom)
kv_add_test(uCustomBuild_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uCustomBuild_test.cpp LIBS kvcustom)
# The write chains against the simulated device, with its fault switches.
kv_add_test(uCustomWrite_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uCustomWrite_test.cpp LIBS kvcustom devsim ZLIB::ZLIB)
