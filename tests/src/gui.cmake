# Tests of the shell: the GUI-free rules always, the widgets when built.
kv_add_test(shell_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/uNumberFormat_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uLocker_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uPollTimer_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uMultiLingual_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uPlacement_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uMainSettings_test.cpp
  LIBS kvshell)
