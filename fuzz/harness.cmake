# Fuzz targets of the reliability harness: the device link (RTU answers over a
# pseudo-terminal, Modbus TCP answer streams whole and in pieces), our XML
# readers and the settings reader. Each X_fuzz has an X_seeds that writes its
# seed inputs with our own writers and the simulated device.
function(kv_harness_fuzz name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS;SEED_SOURCES;SEED_LIBS;SEED_DEFS" ${ARGN})
  add_executable(${name}_fuzz ${F_SOURCES})
  target_include_directories(${name}_fuzz PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(${name}_fuzz PRIVATE ${F_LIBS})
  target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
  add_executable(${name}_seeds ${F_SEED_SOURCES})
  target_link_libraries(${name}_seeds PRIVATE ${F_SEED_LIBS})
  target_compile_definitions(${name}_seeds PRIVATE ${F_SEED_DEFS})
endfunction()

kv_harness_fuzz(rtu_answer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/rtu_answer_fuzz.cpp LIBS kvcommon
  SEED_SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_seeds.cpp SEED_LIBS devsim SEED_DEFS KV_SEED_CHUNKED=true)
kv_harness_fuzz(tcp_stream
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tcp_stream_fuzz.cpp LIBS kvcommon
  SEED_SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_seeds.cpp SEED_LIBS devsim SEED_DEFS KV_SEED_TCP=true)
kv_harness_fuzz(tcp_chunks
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tcp_chunks_fuzz.cpp LIBS kvcommon
  SEED_SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_seeds.cpp SEED_LIBS devsim SEED_DEFS KV_SEED_TCP=true KV_SEED_CHUNKED=true)
kv_harness_fuzz(xml
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/xml_fuzz.cpp LIBS kvcore kvcustom
  SEED_SOURCES ${CMAKE_CURRENT_LIST_DIR}/xml_seeds.cpp SEED_LIBS kvcore kvcustom devcontent)
kv_harness_fuzz(ini
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ini_fuzz.cpp LIBS kvcommon
  SEED_SOURCES ${CMAKE_CURRENT_LIST_DIR}/ini_seeds.cpp SEED_LIBS kvcommon)
kv_harness_fuzz(file_read
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_read_fuzz.cpp LIBS kvcore ZLIB::ZLIB
  SEED_SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_read_seeds.cpp SEED_LIBS kvcore devcontent ZLIB::ZLIB)
