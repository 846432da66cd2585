# The POSIX build: the platform layer, the plug-in as a shared library, zhost, tests.
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)
find_package(Threads REQUIRED)

# Platform layer: the Windows API subset over POSIX and OpenSSL.
file(GLOB PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/src/*.cpp)
add_library(zwin SHARED ${PLATFORM_SOURCES})
target_include_directories(zwin PUBLIC ${CMAKE_SOURCE_DIR}/platform/include ${CMAKE_SOURCE_DIR}/platform/extensions)
target_link_libraries(zwin PRIVATE OpenSSL::Crypto ${CMAKE_DL_LIBS})

# The module's objects, shared by the plug-in and the unit tests.
add_library(zsmime_objects OBJECT ${MODULE_SOURCES})
target_include_directories(zsmime_objects PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(zsmime_objects PUBLIC zwin)

# The plug-in: only the module entry and the fifteen events are exported, so
# that its own symbols never bind to a host's.
add_library(zsmime SHARED $<TARGET_OBJECTS:zsmime_objects>)
target_link_libraries(zsmime PRIVATE zwin)
target_link_options(zsmime PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/host/zsmime.map -Wl,--no-undefined -Wl,-Bsymbolic)
set_target_properties(zsmime PROPERTIES LINK_DEPENDS ${CMAKE_SOURCE_DIR}/host/zsmime.map)

# zhost, the stand-in host: its core is shared with the tests and fuzzers.
file(GLOB ZHOST_CORE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/zhost/*.cpp)
list(REMOVE_ITEM ZHOST_CORE_SOURCES ${CMAKE_SOURCE_DIR}/zhost/main.cpp)
file(GLOB ZHOST_POSIX_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/zhost/posix/*.cpp)
set(ZHOST_LARGE_BLOCKS ${CMAKE_SOURCE_DIR}/zhost/posix/large_blocks.cpp)
list(REMOVE_ITEM ZHOST_POSIX_SOURCES ${ZHOST_LARGE_BLOCKS})
add_library(zhost_core OBJECT ${ZHOST_CORE_SOURCES} ${ZHOST_POSIX_SOURCES})
target_include_directories(zhost_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(zhost_core PUBLIC zwin)

add_executable(zhost ${CMAKE_SOURCE_DIR}/zhost/main.cpp $<TARGET_OBJECTS:zhost_core>)
target_include_directories(zhost PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(zhost PRIVATE zwin)
set_target_properties(zhost PROPERTIES ENABLE_EXPORTS ON BUILD_RPATH "$ORIGIN")
if(NOT ZSMIME_SANITIZE)
  target_sources(zhost PRIVATE ${ZHOST_LARGE_BLOCKS})
endif()
add_dependencies(zhost zsmime)

set_target_properties(zwin zsmime PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set_target_properties(zhost PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

enable_testing()
add_subdirectory(tests)
if(ZSMIME_BENCH AND EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
if(ZSMIME_FUZZ AND EXISTS ${CMAKE_SOURCE_DIR}/fuzz/CMakeLists.txt)
  add_subdirectory(fuzz)
endif()

# The module's resources: the POSIX platform has no resource section, so the
# resource script is turned into a table linked into the module.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(RESOURCE_TABLE ${CMAKE_BINARY_DIR}/generated/resource_table.cpp)
add_custom_command(OUTPUT ${RESOURCE_TABLE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/resources/gen_resource_table.py
          ${CMAKE_SOURCE_DIR}/resources/zsmime.rc ${RESOURCE_TABLE}
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/gen_resource_table.py ${CMAKE_SOURCE_DIR}/resources/zsmime.rc
          ${CMAKE_SOURCE_DIR}/resources/resource.h ${CMAKE_SOURCE_DIR}/resources/lock.bmp
  COMMENT "Generating the resource table from zsmime.rc"
  VERBATIM)
target_sources(zsmime_objects PRIVATE ${RESOURCE_TABLE})
