# Identification, the password dialog and the demo device: rules without a
# device, and the whole script against devsim over TCP and a pseudo-terminal.
if(KV_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kv_add_test(ident_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uIdentification_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uPasswdForm_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/../../tools/uDemoDevice_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
if(KV_GUI)
  kv_add_test(ident_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uIdentificationLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
if(KV_GUI)
  kv_add_test(param_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uParamFrameLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
if(KV_GUI)
  kv_add_test(ustav_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uUstavFrameLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
if(KV_GUI)
  kv_add_test(commands_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uMainCommandsLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
if(KV_GUI)
  kv_add_test(identity_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uIdentityCheckLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
if(KV_GUI)
  kv_add_test(readcheck_link_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uReadCheckLink_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
