# Reliability harness: fuzz inputs kept under fuzz/regress/ replayed through
# their targets; saving under faults; the work-folder lock across processes;
# the fault mix against the simulated device.
# The replay is compiled once for every target: each executable
# (fuzz_regress_NAME) finds its target's inputs by its own name.
add_library(kv_fuzz_replay OBJECT ${CMAKE_CURRENT_LIST_DIR}/fuzzReplay_test.cpp)
target_link_libraries(kv_fuzz_replay PRIVATE Qt6::Core GTest::gtest)
target_compile_definitions(kv_fuzz_replay PRIVATE KV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
function(kv_fuzz_replay name)
  kv_add_test(fuzz_regress_${name}
    SOURCES $<TARGET_OBJECTS:kv_fuzz_replay> ${KV_SOURCE_DIR}/fuzz/${name}_fuzz.cpp
    LIBS ${ARGN})
  target_include_directories(fuzz_regress_${name} PRIVATE ${KV_SOURCE_DIR}/fuzz)
endfunction()
set(KV_SOURCE_DIR ${CMAKE_SOURCE_DIR})
kv_fuzz_replay(rtu_answer kvcommon)
kv_fuzz_replay(tcp_stream kvcommon)
kv_fuzz_replay(tcp_chunks kvcommon)
kv_fuzz_replay(xml kvcore kvcustom)
kv_fuzz_replay(ini kvcommon)
kv_fuzz_replay(file_read kvcore ZLIB::ZLIB)
kv_fuzz_replay(comtrade_cfg kvosc)
kv_fuzz_replay(comtrade_osc kvosc)
kv_fuzz_replay(descriptor kvcore)
kv_fuzz_replay(devdesc kvcustomdesc kvcore)
kv_fuzz_replay(schema kvcustomschema)

add_executable(saveLoop ${CMAKE_CURRENT_LIST_DIR}/saveLoop.cpp)
target_link_libraries(saveLoop PRIVATE kvcommon)
set_target_properties(saveLoop PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
kv_add_test(saveFaults_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/saveFaults_test.cpp LIBS kvcommon)
add_dependencies(saveFaults_test saveLoop)

add_executable(lockHolder ${CMAKE_CURRENT_LIST_DIR}/lockHolder.cpp)
target_link_libraries(lockHolder PRIVATE kvshell)
set_target_properties(lockHolder PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
if(KV_GUI)
  kv_add_test(workFolderLock_test
    SOURCES ${KV_SOURCE_DIR}/tests/src/gui/gui_app.cpp ${CMAKE_CURRENT_LIST_DIR}/workFolderLock_test.cpp
    LIBS kvgui)
  add_dependencies(workFolderLock_test lockHolder)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kv_add_test(folderFaults_test
    SOURCES ${KV_SOURCE_DIR}/tests/src/gui/gui_app.cpp ${CMAKE_CURRENT_LIST_DIR}/folderFaults_test.cpp
    LIBS kvgui demodevice Qt6::Test)
  target_include_directories(folderFaults_test PRIVATE ${KV_SOURCE_DIR}/tests/common)
endif()

kv_add_test(faultMix_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/faultMix_test.cpp LIBS kvcore devsim LABELS tsan)
if(KV_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kv_add_test(lossyIdentification_test
    SOURCES ${KV_SOURCE_DIR}/tests/src/gui/gui_app.cpp ${CMAKE_CURRENT_LIST_DIR}/lossyIdentification_test.cpp
    LIBS kvgui demodevice Qt6::Test)
endif()
kv_add_test(saveHelper_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/saveHelper_test.cpp LIBS Qt6::Core)
kv_fuzz_replay(flash_header kvcore)
kv_fuzz_replay(ider_list kvcustomasm)
kv_fuzz_replay(event_record kvosc devcontent)
kv_fuzz_replay(osc_directory kvosc)
kv_fuzz_replay(agent_answer kvshell)
kv_fuzz_replay(project kvcustom)
kv_fuzz_replay(sim_slave devsim)
kv_fuzz_replay(assembler kvcustomasm)
kv_fuzz_replay(page_file kvpagemodel)
kv_fuzz_replay(ustav_set kvpagemodel)
kv_fuzz_replay(osc_side kvosc)
kv_fuzz_replay(event_template kvreport)
kv_fuzz_replay(comtrade_dat kvosc)
