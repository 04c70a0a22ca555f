kv_add_test(uComtrade_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uComtrade_test.cpp LIBS kvosc)
