if(KV_GUI)
  kv_add_test(DDMenuEditorForm_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/DDMenuEditorForm_test.cpp
    LIBS kvcustomui demodevice)
endif()
