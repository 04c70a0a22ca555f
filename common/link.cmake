# The device link: serial port, Modbus RTU/TCP transport and device operations.
target_sources(kvcommon PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/uComPort.cpp
  ${CMAKE_CURRENT_LIST_DIR}/oi.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uDeviceIO.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uLinkText.cpp
)
