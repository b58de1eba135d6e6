# Windows (mingw-w64 cross) build: the product, the test VM and the cross unit tests.

# JNI types and function tables come from the build machine's JDK (its include/
# folder only); jni_md.h is our own Windows one.
find_path(OSTREL_JNI_INCLUDE jni.h
  PATHS /usr/lib/jvm/java-17-openjdk-amd64/include /usr/lib/jvm/default-java/include
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_library(ostrel_jni INTERFACE)
target_include_directories(ostrel_jni INTERFACE ${CMAKE_SOURCE_DIR}/src/jni ${OSTREL_JNI_INCLUDE})

set(OSTREL_WIN_DEFINES WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501)
target_compile_definitions(ostrel_core PUBLIC ${OSTREL_WIN_DEFINES})

# The product keeps clear of libstdc++'s exception runtime: it stays small and
# nothing can throw across a WINAPI callback or a JNI frame.
set(OSTREL_PRODUCT_FLAGS -fno-exceptions -fno-rtti)
target_compile_options(ostrel_core PRIVATE ${OSTREL_PRODUCT_FLAGS})

# Sources that talk to the platform. The cross unit tests compile these same files
# with a forced-include header that substitutes recording fakes for platform calls.
set(OSTREL_PLATFORM_SOURCES
  ${CMAKE_SOURCE_DIR}/src/entry/reporting.cpp
  ${CMAKE_SOURCE_DIR}/src/entry/console_output.cpp
  ${CMAKE_SOURCE_DIR}/src/launch/ansi_code_page_win32.cpp
  ${CMAKE_SOURCE_DIR}/src/jvmhost/jvm_host.cpp
  ${CMAKE_SOURCE_DIR}/src/jvmhost/console_control.cpp
  ${CMAKE_SOURCE_DIR}/src/launch/registry_value.cpp
  ${CMAKE_SOURCE_DIR}/src/service/install.cpp
  ${CMAKE_SOURCE_DIR}/src/service/service_main.cpp
  ${CMAKE_SOURCE_DIR}/src/service/system_error_text.cpp
)

add_executable(OstrelServer src/entry/main.cpp ${OSTREL_PLATFORM_SOURCES})
target_link_libraries(OstrelServer PRIVATE ostrel_core ostrel_jni advapi32)
target_compile_options(OstrelServer PRIVATE ${OSTREL_WARNINGS} ${OSTREL_PRODUCT_FLAGS})
target_link_options(OstrelServer PRIVATE -static -static-libgcc -static-libstdc++ -s)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/testvm/CMakeLists.txt)
  add_subdirectory(tests/testvm)
endif()
add_subdirectory(tests/scmclient)
# The real Java VM and its test application run only on x86_64 (Wine here runs
# no 32-bit code).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  include(cmake/avian.cmake)
  add_subdirectory(tests/javaapp)
endif()
enable_testing()
add_subdirectory(tests/cross)
add_subdirectory(bench)
