# The repository's own checks: the include and link check on a small tree of
# its own, then on the sources.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME check_includes_test COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/checkIncludes_test.py)
add_test(NAME check_includes COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/check-includes.py)
