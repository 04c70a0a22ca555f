# The agent's answers under libFuzzer, and their seed writer.
add_executable(agent_answer_fuzz ${CMAKE_CURRENT_LIST_DIR}/agent_answer_fuzz.cpp)
target_link_libraries(agent_answer_fuzz PRIVATE kvshell)
target_link_options(agent_answer_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(agent_answer_seeds ${CMAKE_CURRENT_LIST_DIR}/agent_answer_seeds.cpp)
target_link_libraries(agent_answer_seeds PRIVATE kvcommon)
