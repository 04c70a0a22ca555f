kv_add_test(uDescriptorDecoder_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uDescriptorDecoder_test.cpp
  LIBS kvcore devcontent)
kv_add_test(uSimpleDeviceDescriptor_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSimpleDeviceDescriptor_test.cpp
  LIBS kvcore devcontent)
