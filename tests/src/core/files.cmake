# Device file transfer of the IO chains: against a fake front, and end to end
# against the devsim program over Modbus TCP and a pseudo-terminal.
kv_add_test(uIOChainFile_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/uIOChainFile_test.cpp
  LIBS kvcore devsimfiles ZLIB::ZLIB
  LABELS tsan)
target_include_directories(uIOChainFile_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/tools)
add_dependencies(uIOChainFile_test devsim_app)
# The external FLASH image, checked against devsim's own writer.
kv_add_test(uExtFlash_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uExtFlash_test.cpp LIBS kvcore devsimfiles ZLIB::ZLIB)
target_include_directories(uExtFlash_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/tools)
