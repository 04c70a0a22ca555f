# Widget tests under the offscreen platform: shared widgets, the main window,
# its panes and the page shells it builds.
if(KV_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kv_add_test(gui_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/../widgets/uPageControlHelper_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/../widgets/uTranslateForms_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/../widgets/uExcelFrame_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/../widgets/uStringGridEditor_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/../widgets/uStringGrid_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/../widgets/uPrintDialog_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/../widgets/uWindowPlacement_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uLogFrame_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uModbusFrame_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/../oscview/uOscHeadFrame_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uMainForm_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uPreferenceForm_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uDialogSinks_test.cpp
    LIBS kvgui Qt6::Test)

  # The program itself starts, shows its window and ends cleanly (exit code 0,
  # no leaks), with a scratch home for its per-user state.
  add_test(NAME kv_starts_and_exits COMMAND kv --quit-after=300)
  set_tests_properties(kv_starts_and_exits PROPERTIES TIMEOUT 120
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;HOME=${CMAKE_CURRENT_BINARY_DIR}/kv-home;XDG_CONFIG_HOME=${CMAKE_CURRENT_BINARY_DIR}/kv-home/.config")
endif()
