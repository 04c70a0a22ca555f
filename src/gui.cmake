# The shell of the program. kvshell: the shell's rules without widgets
# (translation table, number texts, poll timer decisions, start-up settings,
# the work-folder lock, the per-user store, message sink); tests link it
# without a display. kvgui: the main window, its panes and page frames.
# kv: the program.
set(KV_VERSION_TEXT "2.2.0.0")

add_library(kvshell STATIC
  ${CMAKE_CURRENT_LIST_DIR}/uNumberFormat.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uLocker.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uPollTimer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uMessageSink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uMultiLingual.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uPlacement.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uVersionInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uMainSettings.cpp
)
add_library(kv::shell_core ALIAS kvshell)
target_include_directories(kvshell PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kvshell PUBLIC kvcommon Qt6::Core)
target_compile_definitions(kvshell PRIVATE KV_VERSION_TEXT="${KV_VERSION_TEXT}")

if(KV_GUI)
  add_library(kvgui STATIC
    ${CMAKE_CURRENT_LIST_DIR}/uStringGrid.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uTranslateForms.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uPageControlHelper.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uLogFrame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uModbusFrame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uAboutBox.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uPasswdForm.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uDashboardSetupForm.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uAppForms.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uDashboardFrame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uDescriptorGridFrame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uParamFrame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uUstavFrame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uEventFrame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uOscHeadFrame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uMainForm.cpp
  )
  add_library(kv::shell ALIAS kvgui)
  target_include_directories(kvgui PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(kvgui PUBLIC kvshell kvcore Qt6::Widgets)

  add_executable(kv ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
  target_link_libraries(kv PRIVATE kvgui)
  # The translation table lies beside the program, where it is looked for.
  add_custom_command(TARGET kv POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different
      ${CMAKE_CURRENT_LIST_DIR}/resources/MultiLingual.txt $<TARGET_FILE_DIR:kv>/MultiLingual.txt)
endif()
