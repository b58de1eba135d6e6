# The real Java VM of the end-to-end tests and the demo: Avian, built as a
# Windows jvm.dll of the tree's architecture from the sources in
# OSTREL_AVIAN_DIR (environment; default ../shared/avian beside the source
# tree) by their own build.sh, into build/avian/<x86_64|i386>/jvm.dll beside
# the preset trees, so that a fresh build/x86_64 or build/i686 does not cost
# another minute. Rebuilt only when an input changes.
# Without the sources nothing is built; the tests say so (tests/e2e/realvm.py).
set(OSTREL_AVIAN_DIR "$ENV{OSTREL_AVIAN_DIR}")
if(NOT OSTREL_AVIAN_DIR)
  set(OSTREL_AVIAN_DIR ${CMAKE_SOURCE_DIR}/../shared/avian)
endif()
get_filename_component(avian_out ${CMAKE_BINARY_DIR}/../avian ABSOLUTE)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(avian_arch x86_64)
else()
  set(avian_arch i386)
endif()
if(EXISTS ${OSTREL_AVIAN_DIR}/build.sh)
  set(avian_inputs avian-src.tar.gz avian.patch jni_md.h build.sh)
  list(TRANSFORM avian_inputs PREPEND ${OSTREL_AVIAN_DIR}/)
  add_custom_command(OUTPUT ${avian_out}/${avian_arch}/jvm.dll
    COMMAND ${OSTREL_AVIAN_DIR}/build.sh ${avian_out} ${avian_arch}
    DEPENDS ${avian_inputs}
    COMMENT "Building the Avian Java VM into ${avian_out} (about a minute, once)"
    VERBATIM)
  add_custom_target(avian ${OSTREL_REAL_VM_ALL} DEPENDS ${avian_out}/${avian_arch}/jvm.dll)
else()
  add_custom_target(avian)
endif()
