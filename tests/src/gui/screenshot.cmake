# The screenshot program of scripts/screenshot-page.sh: a page of the main
# window against the in-process demo terminal (not a test).
if(KV_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  add_executable(screenshot_page ${CMAKE_CURRENT_LIST_DIR}/screenshotPage.cpp)
  target_link_libraries(screenshot_page PRIVATE kvgui demodevice Qt6::Test)
  target_compile_definitions(screenshot_page PRIVATE KV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
