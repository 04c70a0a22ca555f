# The files the simulated device serves.
kv_add_test(devsim_files_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uDevSimFiles_test.cpp LIBS devsimfiles)
