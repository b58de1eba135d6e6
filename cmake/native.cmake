# Native (Linux) build: the pure core and its unit tests under ASan and UBSan.
set(OSTREL_SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
target_compile_options(ostrel_core PRIVATE ${OSTREL_SANITIZE})
target_link_options(ostrel_core PUBLIC ${OSTREL_SANITIZE})

enable_testing()
add_subdirectory(tests/unit)
