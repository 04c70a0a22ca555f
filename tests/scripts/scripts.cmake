# The repository's own scripts: the include and link check on a small tree of
# its own, then on the sources; the install rules (the program folder, started
# from, installed over); the move of what `make run` kept in the build folder.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME check_includes_test COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/checkIncludes_test.py)
add_test(NAME check_includes COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/check-includes.py)
if(KV_GUI)
  add_test(NAME install_test COMMAND ${CMAKE_CURRENT_LIST_DIR}/install_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(install_test PROPERTIES TIMEOUT 180)
endif()
add_test(NAME move_build_files_test COMMAND ${CMAKE_CURRENT_LIST_DIR}/moveBuildFiles_test.sh)
