kv_add_test(uTextCodec_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uTextCodec_test.cpp LIBS kvcommon)
kv_add_test(uDateTime_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uDateTime_test.cpp LIBS kvcommon)
kv_add_test(uFiles_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uFiles_test.cpp LIBS kvcommon)
kv_add_test(uAppIniFile_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uAppIniFile_test.cpp LIBS kvcommon)
