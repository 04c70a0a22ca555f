# Event records: layout, decoding and the journal ring, on rings the simulator writes.
kv_add_test(uEventLogItem_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uEventLogItem_test.cpp LIBS kvosc devsimfiles)
# The oscillogram directory, limit window, side file and channel description.
kv_add_test(uOscHead_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uOscHead_test.cpp LIBS kvosc devsimfiles)
