# Device content: binary descriptor images written from a description in C++.
add_library(devcontent STATIC ${CMAKE_CURRENT_LIST_DIR}/uDeviceContent.cpp)
target_include_directories(devcontent PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(devcontent PUBLIC kvcommon)
