# The device simulator: library `devsim` (device model, RTU and TCP slaves,
# server) for tests, and the program `devsim` for use by hand.
add_library(devsim STATIC
  ${CMAKE_CURRENT_LIST_DIR}/uSimFault.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uSimDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uSimSlave.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uDevSimServer.cpp
)
add_library(kv::devsim ALIAS devsim)
target_include_directories(devsim PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(devsim PUBLIC kvcommon Qt6::Core)

add_executable(devsim_app ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
set_target_properties(devsim_app PROPERTIES OUTPUT_NAME devsim RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
target_link_libraries(devsim_app PRIVATE devsim)
