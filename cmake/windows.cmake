# The real plug-in: zsmime.dll for 32-bit x86 Windows, with its export list and resources.
enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 932")
file(GLOB RESOURCE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*.rc)

set(ZSMIME_DEF ${CMAKE_SOURCE_DIR}/host/zsmime.def)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  # x64 has one calling convention and no stdcall decoration.
  file(READ ${ZSMIME_DEF} def_text)
  string(REGEX REPLACE "@[0-9]+ @" " @" def_text "${def_text}")
  set(ZSMIME_DEF ${CMAKE_BINARY_DIR}/zsmime64.def)
  file(WRITE ${ZSMIME_DEF} "${def_text}")
endif()
add_library(zsmime SHARED ${MODULE_SOURCES} ${RESOURCE_SOURCES} ${ZSMIME_DEF})
set_target_properties(zsmime PROPERTIES PREFIX "" OUTPUT_NAME zsmime)
target_include_directories(zsmime PRIVATE ${CMAKE_SOURCE_DIR})
# Static runtime: the DLL imports only Windows system DLLs.
# Stripped: the DLL users install carries no symbols.
target_link_options(zsmime PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at -s)
target_link_libraries(zsmime PRIVATE crypt32 advapi32 user32 kernel32)


# Every build checks that the DLL carries the dialogs and the bitmap as the script gives them.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(Python3_Interpreter_FOUND)
  add_custom_command(TARGET zsmime POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/check_dll_resources.py $<TARGET_FILE:zsmime>
    VERBATIM)
endif()

# zhost.exe, the stand-in host as a PE executable: the plug-in binds to the
# ZDA_ functions it exports, by their plain names. The dialog driver is written
# against the Windows API and drives the real dialog here; zhost/win32/ has
# the hooks that hand it the dialog and answer the message boxes.
file(GLOB ZHOST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/zhost/*.cpp ${CMAKE_SOURCE_DIR}/zhost/win32/*.cpp)
add_executable(zhost ${ZHOST_SOURCES})
target_include_directories(zhost PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform/extensions)
target_link_options(zhost PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at)
target_link_libraries(zhost PRIVATE crypt32 user32 kernel32)
add_dependencies(zhost zsmime)

# A host without ZDA_Connect, into which the plug-in must refuse to load.
add_executable(bare_host ${CMAKE_SOURCE_DIR}/tests/support/bare_host_main.cpp ${CMAKE_SOURCE_DIR}/zhost/host_functions.cpp
  ${CMAKE_SOURCE_DIR}/zhost/transcript.cpp ${CMAKE_SOURCE_DIR}/zhost/composer.cpp)
target_include_directories(bare_host PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(bare_host PRIVATE ZHOST_WITHOUT_CONNECT)
target_link_options(bare_host PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at)

# The platform tests against Windows' own DLLs, with GoogleTest built from
# Debian's sources by the same toolchain; tests/wine runs them under Wine.
option(ZSMIME_PLATFORM_TESTS "Build platform_tests.exe" ON)
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(ZSMIME_PLATFORM_TESTS AND EXISTS ${GTEST_SOURCE_DIR}/CMakeLists.txt)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  target_compile_options(gtest PUBLIC -include ${CMAKE_SOURCE_DIR}/tests/platform/gtest_notification_win32.h)
  file(GLOB PLATFORM_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/platform/*.cpp)
  add_executable(platform_tests ${PLATFORM_TEST_SOURCES} ${RESOURCE_SOURCES})
  target_include_directories(platform_tests PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_options(platform_tests PRIVATE -static -static-libgcc -static-libstdc++)
  target_link_libraries(platform_tests PRIVATE gtest crypt32 user32 kernel32)
endif()
