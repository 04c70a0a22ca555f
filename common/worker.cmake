# Request records, the answer parser and the device worker with its front.
target_sources(kvcommon PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/uModbusTools.cpp
)
