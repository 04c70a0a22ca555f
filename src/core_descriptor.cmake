# The run-time device descriptor: the binary image decoder and the descriptor object.
if(NOT TARGET kvcore)
  add_library(kvcore STATIC)
endif()
target_include_directories(kvcore PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_sources(kvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/uDescriptorDecoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uSimpleDeviceDescriptor.cpp
)
target_link_libraries(kvcore PUBLIC kvcommon)
