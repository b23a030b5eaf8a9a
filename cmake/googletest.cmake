# GoogleTest: an installed package if there is one for the target, else
# built from its sources (Debian's googletest package puts them in
# /usr/src/googletest). Test programs link `boardflash_gtest`; programs
# with a main() of their own that use its headers, `boardflash_gtest_nomain`.
set(BOARDFLASH_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH
    "GoogleTest sources, built when no installed GoogleTest is found")

find_package(GTest QUIET CONFIG)
add_library(boardflash_gtest INTERFACE)
add_library(boardflash_gtest_nomain INTERFACE)
if(TARGET GTest::gmock AND TARGET GTest::gtest_main)
  target_link_libraries(boardflash_gtest INTERFACE GTest::gmock GTest::gtest_main)
  target_link_libraries(boardflash_gtest_nomain INTERFACE GTest::gtest)
else()
  if(NOT EXISTS ${BOARDFLASH_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest: install it, or set BOARDFLASH_GTEST_SOURCE_DIR to its "
                        "sources (now ${BOARDFLASH_GTEST_SOURCE_DIR})")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${BOARDFLASH_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  target_link_libraries(boardflash_gtest INTERFACE gmock gtest_main)
  target_link_libraries(boardflash_gtest_nomain INTERFACE gtest)
endif()
