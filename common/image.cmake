# The register image and the device character map.
target_sources(kvcommon PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/uCharMap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uModbus.cpp
)
