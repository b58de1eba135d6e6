# The newcomer's verbs. Each first runs scripts/setup, which installs what is
# missing (quick when nothing is).
JOBS ?= 2

.PHONY: setup build check demo bench lint clean

setup:
	@scripts/setup

build: setup
	cmake --preset i686 >/dev/null && cmake --build build/i686 -j$(JOBS)
	cmake --preset x86_64 >/dev/null && cmake --build build/x86_64 -j$(JOBS)
	cmake --preset native >/dev/null && cmake --build build/native -j$(JOBS)

check: build
	scripts/check

demo: build
	scripts/demo

bench: build
	scripts/bench

lint: build
	scripts/lint

clean:
	rm -rf build
