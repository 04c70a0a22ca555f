# The logic package: names, merge, project file, build and write.
kv_add_test(uCustomNames_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uCustomNames_test.cpp LIBS kvcustom)
kv_add_test(uCustomLogic_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uCustomLogic_test.cpp LIBS kvcustom)
kv_add_test(uMultipleFileStream_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uMultipleFileStream_test.cpp LIBS kvcustom)
kv_add_test(uCustomBuild_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uCustomBuild_test.cpp LIBS kvcustom)
kv_add_test(uLogicFiles_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uLogicFiles_test.cpp LIBS kvcustom)
# The write chains against the simulated device, with its fault switches.
kv_add_test(uCustomWrite_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uCustomWrite_test.cpp LIBS kvcustom devsim ZLIB::ZLIB)
