# The newcomer's verbs. Each first runs scripts/setup, which installs what is
# missing (quick when nothing is).
JOBS ?= 2

.PHONY: setup build clang check demo bench lint clean

setup:
	@scripts/setup

build: setup
	cmake --preset i686 >/dev/null && cmake --build build/i686 -j$(JOBS)
	cmake --preset x86_64 >/dev/null && cmake --build build/x86_64 -j$(JOBS)
	cmake --preset native >/dev/null && cmake --build build/native -j$(JOBS)

# The same sources with a second compiler: built and checked, never run.
clang: setup
	cmake --preset clang-i686 >/dev/null && cmake --build build/clang-i686 -j$(JOBS)
	cmake --preset clang-x86_64 >/dev/null && cmake --build build/clang-x86_64 -j$(JOBS)

check: build clang
	scripts/check

demo: build
	scripts/demo

bench: build
	scripts/bench

lint: build
	scripts/lint

clean:
	rm -rf build
