# The report layer (layout read from the display list, PDF through poppler's
# tools), the register map report and the preview dialog.
if(KV_GUI)
  kv_add_test(report_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/../gui/gui_app.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uReportDocument_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uModbusPDF_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uEventReport_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/view/uReportPreviewForm_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/view/uEventPDFReportFrame_test.cpp
    LIBS kvreportview demodevice)
endif()
