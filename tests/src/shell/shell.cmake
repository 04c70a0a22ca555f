# The main window's rules without widgets.
kv_add_test(shell_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/uNumberFormat_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uLocker_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uPollTimer_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uMultiLingual_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uPlacement_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uMainSettings_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uVersionInfo_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uFileDialogSink_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uMessageSink_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uActionRules_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uCloseRules_test.cpp
  LIBS kvshell)
# The agent's notation and its HTTP client against the test agent.
kv_add_test(agent_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/uJsonParser_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uAgentClient_test.cpp
  LIBS kvshell simagent)
