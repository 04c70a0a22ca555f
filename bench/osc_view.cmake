# The oscillogram viewer on a ten-minute record: load, strip caches, first
# paint and redraws at every zoom step, memory.
if(TARGET comtrade_records AND TARGET kvoscview)
  add_executable(osc_view_bench ${CMAKE_CURRENT_LIST_DIR}/osc_view_bench.cpp)
  target_link_libraries(osc_view_bench PRIVATE comtrade_records kvoscview)
endif()
