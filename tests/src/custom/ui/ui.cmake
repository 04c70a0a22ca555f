# The schema block dialogs and the menu editor window.
if(KV_GUI)
  kv_add_test(kvcustomui_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/uDDUstavBitForm_test.cpp ${CMAKE_CURRENT_LIST_DIR}/uUstavListForm_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/uLabelEditForm_test.cpp ${CMAKE_CURRENT_LIST_DIR}/uFunctionEditForm_test.cpp
    LIBS kvcustomui)
  kv_add_test(uSchemaEditor_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSchemaEditor_test.cpp LIBS kvcustomui demodevice Qt6::Test)
  kv_add_test(DDMenuEditorForm_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/DDMenuEditorForm_test.cpp
    LIBS kvcustomui demodevice)
endif()
if(KV_GUI)
  kv_add_test(uCustomNameForms_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/../../gui/gui_app.cpp ${CMAKE_CURRENT_LIST_DIR}/uCustomNameForms_test.cpp
    LIBS kvcustomui)
endif()
if(KV_GUI)
  kv_add_test(uCustomFrameLink_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/../../gui/gui_app.cpp ${CMAKE_CURRENT_LIST_DIR}/uCustomFrameLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
if(KV_GUI)
  kv_add_test(uCustomFrameLanguage_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/../../gui/gui_app.cpp ${CMAKE_CURRENT_LIST_DIR}/uCustomFrameLanguage_test.cpp
    LIBS kvgui demodevice Qt6::Test)
  target_include_directories(uCustomFrameLanguage_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../../gui)
endif()
