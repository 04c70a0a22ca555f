# kvosc: COMTRADE files and the conversion of device oscillogram records.
# GUI-free: QtCore only, so the tests run without a display.
add_library(kvosc STATIC
  ${CMAKE_CURRENT_LIST_DIR}/uComtrade.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uComtradeStream.cpp
)
add_library(kv::osc ALIAS kvosc)
target_include_directories(kvosc PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kvosc PUBLIC kvcommon Qt6::Core)
if(TARGET kvcore)
  target_link_libraries(kvosc PUBLIC kvcore)
endif()
