# The demo terminal served by `devsim --demo` and used by the identification tests.
add_library(demodevice STATIC ${CMAKE_CURRENT_LIST_DIR}/uDemoDevice.cpp)
target_include_directories(demodevice PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(demodevice PUBLIC devsim devsimfiles devcontent)
if(TARGET devsim_app)
  target_link_libraries(devsim_app PRIVATE demodevice)
endif()
