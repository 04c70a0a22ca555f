# The rules of the device pages and their controls, without widgets.
kv_add_test(pagemodel_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/uControlRules_test.cpp
  LIBS kvpagemodel)
