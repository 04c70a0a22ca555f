# The schema block dialogs: their fill, checks and write-back.
kv_add_test(kvcustomui_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/uDDUstavBitForm_test.cpp ${CMAKE_CURRENT_LIST_DIR}/uUstavListForm_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/uLabelEditForm_test.cpp ${CMAKE_CURRENT_LIST_DIR}/uFunctionEditForm_test.cpp
  LIBS kvcustomui)
