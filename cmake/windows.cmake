# Windows (mingw-w64 cross) build: the product, the test VM and the cross unit tests.

# JNI types and function tables come from the build machine's JDK (its include/
# folder only); jni_md.h is our own Windows one.
find_path(OSTREL_JNI_INCLUDE jni.h
  PATHS /usr/lib/jvm/java-17-openjdk-amd64/include /usr/lib/jvm/default-java/include
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
# The JDK's headers as system headers: on i686 clang warns at each of their
# variadic JNICALL (__stdcall) declarations, which is ignored as on every compiler.
add_library(ostrel_jni INTERFACE)
target_include_directories(ostrel_jni INTERFACE ${CMAKE_SOURCE_DIR}/src/jni)
target_include_directories(ostrel_jni SYSTEM INTERFACE ${OSTREL_JNI_INCLUDE})

set(OSTREL_WIN_DEFINES WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501)
target_compile_definitions(ostrel_core PUBLIC ${OSTREL_WIN_DEFINES})
# The core's one platform need, the ANSI code page's lead bytes (the native
# tests link a code page 932 table instead).
target_sources(ostrel_core PRIVATE ${CMAKE_SOURCE_DIR}/src/launch/ansi_code_page_win32.cpp)

# The product keeps clear of libstdc++'s exception runtime: it stays small and
# nothing can throw across a WINAPI callback or a JNI frame.
set(OSTREL_PRODUCT_FLAGS -fno-exceptions -fno-rtti)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686" AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  # Without exceptions nothing reads the DWARF unwind tables: structured
  # exceptions on x86 unwind by the frame chain. (x86_64 keeps its tables,
  # which its structured exception unwinding needs.)
  list(APPEND OSTREL_PRODUCT_FLAGS -fno-asynchronous-unwind-tables)
endif()
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  # Reproducible: no build path in the objects, wherever the checkout lies.
  list(APPEND OSTREL_PRODUCT_FLAGS -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)
endif()
target_compile_options(ostrel_core PRIVATE ${OSTREL_PRODUCT_FLAGS})

# Sources that talk to the platform. The cross unit tests compile these same files
# with a forced-include header that substitutes recording fakes for platform calls.
set(OSTREL_PLATFORM_SOURCES
  ${CMAKE_SOURCE_DIR}/src/entry/reporting.cpp
  ${CMAKE_SOURCE_DIR}/src/entry/end_claim.cpp
  ${CMAKE_SOURCE_DIR}/src/entry/output_log.cpp
  ${CMAKE_SOURCE_DIR}/src/entry/log_file.cpp
  ${CMAKE_SOURCE_DIR}/src/entry/stream_capture.cpp
  ${CMAKE_SOURCE_DIR}/src/entry/event_log.cpp
  ${CMAKE_SOURCE_DIR}/src/entry/console_output.cpp
  ${CMAKE_SOURCE_DIR}/src/jvmhost/jvm_host.cpp
  ${CMAKE_SOURCE_DIR}/src/jvmhost/vm_library.cpp
  ${CMAKE_SOURCE_DIR}/src/jvmhost/console_control.cpp
  ${CMAKE_SOURCE_DIR}/src/jvmhost/process_end.cpp
  ${CMAKE_SOURCE_DIR}/src/jvmhost/vm_hooks.cpp
  ${CMAKE_SOURCE_DIR}/src/launch/registry_value.cpp
  ${CMAKE_SOURCE_DIR}/src/service/event_source.cpp
  ${CMAKE_SOURCE_DIR}/src/service/install.cpp
  ${CMAKE_SOURCE_DIR}/src/service/service_main.cpp
  ${CMAKE_SOURCE_DIR}/src/service/system_error_text.cpp
)

# The executable's resources: the version information and the manifest, filled
# in from project(), and the event message table, compiled by windmc; all in the
# one resource script that windres compiles.
enable_language(RC)
string(REGEX REPLACE "windres$" "windmc" OSTREL_WINDMC "${CMAKE_RC_COMPILER}")
set(OSTREL_RESOURCE_DIR ${CMAKE_BINARY_DIR}/resources)
set(OSTREL_MESSAGE_TABLE ${OSTREL_RESOURCE_DIR}/messages.rc ${OSTREL_RESOURCE_DIR}/MSG00001.bin)
add_custom_command(OUTPUT ${OSTREL_MESSAGE_TABLE}
  COMMAND ${OSTREL_WINDMC} -h ${OSTREL_RESOURCE_DIR} -r ${OSTREL_RESOURCE_DIR} ${CMAKE_SOURCE_DIR}/src/entry/messages.mc
  DEPENDS ${CMAKE_SOURCE_DIR}/src/entry/messages.mc
  COMMENT "Compiling the event message table"
  VERBATIM)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(OSTREL_MANIFEST_ARCHITECTURE amd64)
else()
  set(OSTREL_MANIFEST_ARCHITECTURE x86)
endif()
configure_file(${CMAKE_SOURCE_DIR}/src/entry/OstrelServer.manifest.in ${OSTREL_RESOURCE_DIR}/OstrelServer.manifest @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/src/entry/resources.rc.in ${OSTREL_RESOURCE_DIR}/resources.rc @ONLY)
set_source_files_properties(${OSTREL_RESOURCE_DIR}/resources.rc PROPERTIES
  OBJECT_DEPENDS "${OSTREL_MESSAGE_TABLE};${OSTREL_RESOURCE_DIR}/OstrelServer.manifest")

add_executable(OstrelServer src/entry/main.cpp src/entry/usage.cpp ${OSTREL_PLATFORM_SOURCES} ${OSTREL_RESOURCE_DIR}/resources.rc)
target_link_libraries(OstrelServer PRIVATE ostrel_core ostrel_jni advapi32)
target_compile_options(OstrelServer PRIVATE ${OSTREL_WARNINGS} ${OSTREL_PRODUCT_FLAGS})
target_link_options(OstrelServer PRIVATE -static -static-libgcc -static-libstdc++ -s)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  # What the static runtime brings but nothing calls is left out; no link time
  # in the header, so that a build can be reproduced byte for byte.
  target_link_options(OstrelServer PRIVATE -Wl,--gc-sections -Wl,--no-insert-timestamp)
endif()
# The product's version for the release's name (make dist).
file(WRITE ${CMAKE_BINARY_DIR}/version.txt "${PROJECT_VERSION}\n")

# The release (make dist) builds the executable alone.
option(OSTREL_PRODUCT_ONLY "Build only the product executable, without tests and benchmarks" OFF)
if(OSTREL_PRODUCT_ONLY)
  return()
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/testvm/CMakeLists.txt)
  add_subdirectory(tests/testvm)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    # The test VM defines JNI's variadic functions itself, declared JNICALL as
    # in the tables; i686 clang says that __stdcall cannot apply to them (every
    # compiler makes them cdecl). The one suppression: the product has none.
    foreach(vm testvm testvm_noentry testvm_runtime_import)
      target_compile_options(${vm} PRIVATE -Wno-ignored-attributes)
    endforeach()
  endif()
endif()
add_subdirectory(tests/scmclient)
# The real Java VM of the tree's architecture and the test application it runs.
# The i686 ones serve the 32-bit layer alone, which builds them itself
# (scripts/check): make build and make demo wait for no second VM.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(OSTREL_REAL_VM_ALL ALL)
endif()
include(cmake/avian.cmake)
add_subdirectory(tests/javaapp)
enable_testing()
add_subdirectory(tests/cross)
add_subdirectory(bench)
