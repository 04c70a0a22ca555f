# The files the simulated device serves (event ring, oscillogram directory and
# records, external FLASH, descriptor image), in the device's layouts.
add_library(devsimfiles STATIC ${CMAKE_CURRENT_LIST_DIR}/uDevSimFiles.cpp)
target_include_directories(devsimfiles PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(devsimfiles PUBLIC devsim devcontent osccontent kvcommon ZLIB::ZLIB)
target_link_libraries(devsim_app PRIVATE devsimfiles)
