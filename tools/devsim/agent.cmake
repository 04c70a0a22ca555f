# A minimal HTTP gateway agent for the agent dialog's tests.
add_library(simagent STATIC ${CMAKE_CURRENT_LIST_DIR}/uSimAgent.cpp)
target_include_directories(simagent PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(simagent PUBLIC kvcommon Qt6::Core Qt6::Network)
