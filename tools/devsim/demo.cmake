# The demo terminal served by `devsim --demo` and used by the identification tests.
add_library(demodevice STATIC ${CMAKE_CURRENT_LIST_DIR}/uDemoDevice.cpp ${CMAKE_CURRENT_LIST_DIR}/uDemoLogic.cpp)
# The logic package carries the program's built-in instruction table and the
# project's function library as they are.
set_source_files_properties(${CMAKE_SOURCE_DIR}/src/custom/asm/SchemaCode.xml PROPERTIES QT_RESOURCE_ALIAS SchemaCode.xml)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/logic/config.xml PROPERTIES QT_RESOURCE_ALIAS config.xml)
qt_add_resources(demodevice demologic PREFIX /demologic
  FILES ${CMAKE_SOURCE_DIR}/src/custom/asm/SchemaCode.xml ${CMAKE_CURRENT_LIST_DIR}/logic/config.xml)
target_include_directories(demodevice PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(demodevice PUBLIC devsim devsimfiles devcontent)
if(TARGET devsim_app)
  target_link_libraries(devsim_app PRIVATE demodevice)
endif()
