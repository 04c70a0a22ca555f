# The pages' rules without a display: the workbook, value codecs, bit texts.
kv_add_test(pagemodel_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/uWorkbook_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uParamCodec_test.cpp
  LIBS kvpagemodel)
