# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# The two commands of the README: `make run` and `make test`.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run run-remote test package clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-orvel $(BUILD) $(ARGS)

# The same with the simulated tuner behind ser2net on 127.0.0.1, reached over RFC 2217.
run-remote: build
	@ORVEL_RUN_REMOTE=1 scripts/run-orvel $(BUILD) $(ARGS)

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) \
	  || { echo "make test: FAILED (see the output above)" >&2; exit 1; }

package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD)
