# The pages' rules without a display: the workbook, value codecs, bit texts,
# and the rules of the device-bound controls.
kv_add_test(pagemodel_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/uWorkbook_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uParamCodec_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uControlRules_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uUstav_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uWriteGate_test.cpp
  LIBS kvpagemodel)
