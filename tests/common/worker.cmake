kv_add_test(uModbusTools_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uModbusTools_test.cpp LIBS kvcommon LABELS tsan)
if(TARGET devsim)
  kv_add_test(uModbusTools_worker_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uModbusTools_worker_test.cpp
    LIBS kvcommon devsim LABELS tsan)
endif()
