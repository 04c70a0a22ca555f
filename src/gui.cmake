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

