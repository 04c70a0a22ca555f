# Function library, schema model, file, drawing, undo and the editor's state.
kv_add_test(uConfigurator_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uConfigurator_test.cpp LIBS kvcustomschema)
kv_add_test(uSchemaModule_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSchemaModule_test.cpp ${CMAKE_CURRENT_LIST_DIR}/uSchemaModuleFile_test.cpp
  LIBS kvcustomschema kvcustomcompile) # the file test stores a schema with a device descriptor
kv_add_test(uGraphic_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uGraphic_test.cpp LIBS kvcustomschema)
kv_add_test(uUndoRedoTool_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uUndoRedoTool_test.cpp LIBS kvcustomschema)
kv_add_test(uSchemaEditorState_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSchemaEditorState_test.cpp LIBS kvcustomschema)
