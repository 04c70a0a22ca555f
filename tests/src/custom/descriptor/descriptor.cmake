# The design-time descriptor with its image, and the front-panel menu.
kv_add_test(uDeviceDescriptor_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uDeviceDescriptor_test.cpp LIBS kvcustomdesc kvcore)
kv_add_test(DDMenuEditor_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/DDMenuEditor_test.cpp LIBS kvcustomdesc)
