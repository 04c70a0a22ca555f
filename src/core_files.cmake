# Device file transfer of the IO chains (the read, write and compare steps).
if(NOT TARGET kvcore)
  add_library(kvcore STATIC)
endif()
target_sources(kvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/uIOChainFile.h
  ${CMAKE_CURRENT_LIST_DIR}/uIOChainFile.cpp
)
target_link_libraries(kvcore PUBLIC kvcommon ZLIB::ZLIB)
