# The device simulator: its model and framing, and the simulator against an
# independent Modbus implementation (libmodbus).
kv_add_test(devsim_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/uSimDevice_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/uSimFault_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/uSimSlave_test.cpp
  LIBS devsim)

find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBMODBUS REQUIRED IMPORTED_TARGET libmodbus)
kv_add_test(devsim_peer_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/devsimPeer_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/uDevSimServer_test.cpp
  LIBS devsim PkgConfig::LIBMODBUS
  LABELS tsan)
add_dependencies(devsim_peer_test devsim_app)

# The program's link (serial port, transport, device operations) end to end
# against the devsim program.
kv_add_test(devsim_link_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/devsimLink_test.cpp
  LIBS kvcommon)
target_include_directories(devsim_link_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})
add_dependencies(devsim_link_test devsim_app)

# Our device operations against Modbus servers that are not ours: libmodbus in
# a thread and Debian's pymodbus (run with /usr/bin/python3) in a process.
kv_add_test(deviceio_peer_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/deviceIOPeer_test.cpp
  LIBS kvcommon PkgConfig::LIBMODBUS)
target_include_directories(deviceio_peer_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})
