kv_add_test(uComtrade_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uComtrade_test.cpp LIBS kvosc)

set(KV_COMTRADE_STREAM_TESTS ${CMAKE_CURRENT_LIST_DIR}/uComtradeStream_test.cpp)
set(KV_COMTRADE_STREAM_LIBS kvosc osccontent)
# With the device-content library and the run-time descriptor at hand, the
# conversion is also fed from a decoded device image.
if(TARGET devcontent AND TARGET kvcore)
  list(APPEND KV_COMTRADE_STREAM_TESTS ${CMAKE_CURRENT_LIST_DIR}/uComtradeStreamDevice_test.cpp)
  list(APPEND KV_COMTRADE_STREAM_LIBS devcontent kvcore)
endif()
kv_add_test(uComtradeStream_test SOURCES ${KV_COMTRADE_STREAM_TESTS} LIBS ${KV_COMTRADE_STREAM_LIBS})

kv_add_test(uOscView_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uOscStripCache_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/uOscView_test.cpp ${CMAKE_CURRENT_LIST_DIR}/uOscSideFile_test.cpp LIBS kvosc)
