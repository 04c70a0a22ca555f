# Link tests: a scripted responder on a pseudo-terminal pair and on 127.0.0.1.
kv_add_test(uComPort_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uComPort_test.cpp LIBS kvcommon LABELS tsan)
kv_add_test(oi_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/oi_test.cpp LIBS kvcommon LABELS tsan)
kv_add_test(uDeviceIO_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uDeviceIO_test.cpp LIBS kvcommon LABELS tsan)
kv_add_test(uLinkText_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uLinkText_test.cpp LIBS kvcommon)
# The test-side Modbus TCP gateway (uTcpGateway.h, header only) between a
# client and two devsim servers.
kv_add_test(uTcpGateway_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uTcpGateway_test.cpp LIBS devsim LABELS tsan)
