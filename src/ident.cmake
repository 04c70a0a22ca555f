# Identification of the device and the password re-read: part of the shell.
if(KV_GUI)
  target_sources(kvgui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/uIdentification.cpp)
endif()
