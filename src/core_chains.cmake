# IO chains: the model, builders and run loop, and the device steps.
if(NOT TARGET kvcore)
  add_library(kvcore STATIC)
endif()
target_include_directories(kvcore PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_sources(kvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/uIOChain3.h
  ${CMAKE_CURRENT_LIST_DIR}/uIOChain3.cpp
)
target_link_libraries(kvcore PUBLIC kvcommon)
