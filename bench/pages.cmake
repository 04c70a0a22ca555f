if(KV_GUI)
  add_executable(pages_bench ${CMAKE_CURRENT_LIST_DIR}/pages_bench.cpp)
  target_link_libraries(pages_bench PRIVATE kvpages devcontent)
endif()
