# The native build's parts, included by the root CMakeLists.txt on a host
# that is not Windows.
add_subdirectory(linux)
if(BOARDFLASH_TESTS)
  enable_testing()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_subdirectory(testing/i2csim)
  add_subdirectory(tests/linux)
endif()
