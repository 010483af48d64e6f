# The test suites of a Windows cross build, run under Wine by CTest (the toolchain file sets Wine as
# the emulator). Included by tests/CMakeLists.txt in place of its native list.
#
# GoogleTest is built from Debian's sources with the cross compiler; the system's libgtest is a
# Linux library.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(lib gtest gtest_main gmock gmock_main)
  if(TARGET ${lib} AND NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()
include(GoogleTest)

# Every suite runs as one test: Wine starts a process in about a second, so listing and running
# each case in a process of its own would cost minutes.
function(gtest_discover_tests target)
  add_test(NAME ${target} COMMAND ${target})
endfunction()

# The suites built and run under Wine: those written for Windows, the platform-neutral core
# suites (the base layer's among them) (the browser cache sources' with change notifications by ReadDirectoryChangesW), whose
# page helpers and paths have Windows counterparts, and with the window the suites of
# the window and its folder dialog on the offscreen platform.
set(TAVRIN_WINDOWS_TEST_DIRS windows memory base harvest cache)
if(TAVRIN_BUILD_GUI)
  list(APPEND TAVRIN_WINDOWS_TEST_DIRS main dialogs)
endif()
foreach(dir ${TAVRIN_WINDOWS_TEST_DIRS})
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
