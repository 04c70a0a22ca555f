# Foundation units: text codecs, day-count dates, file saving, settings, the
# XML wrapper and the descriptor vocabulary.
target_sources(kvcommon PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/uTextCodec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uDateTime.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uFiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uAppIniFile.cpp
)
target_sources(kvcommon PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ixml.cpp)
