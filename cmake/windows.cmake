# The real plug-in: zsmime.dll for 32-bit x86 Windows, with its export list and resources.
enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 932")
file(GLOB RESOURCE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*.rc)

add_library(zsmime SHARED ${MODULE_SOURCES} ${RESOURCE_SOURCES} ${CMAKE_SOURCE_DIR}/host/zsmime.def)
set_target_properties(zsmime PROPERTIES PREFIX "" OUTPUT_NAME zsmime)
target_include_directories(zsmime PRIVATE ${CMAKE_SOURCE_DIR})
# Static runtime: the DLL imports only Windows system DLLs.
target_link_options(zsmime PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at)
target_link_libraries(zsmime PRIVATE crypt32 user32 kernel32)


# Every build checks that the DLL carries the dialogs and the bitmap as the script gives them.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(Python3_Interpreter_FOUND)
  add_custom_command(TARGET zsmime POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/check_dll_resources.py $<TARGET_FILE:zsmime>
    VERBATIM)
endif()
