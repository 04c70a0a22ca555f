kv_add_test(uIOChain3_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uIOChain3_test.cpp LIBS kvcore LABELS tsan)
kv_add_test(uUnitIdentity_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/uUnitIdentity_test.cpp LIBS kvcore)
