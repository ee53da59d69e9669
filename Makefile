# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# The two commands of the README, `make run` and `make test`, and `make bench`.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps configure build build-run run run-remote test bench package clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# What make run needs: the program and the simulated tuner, not the tests and benchmarks.
build-run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target orvel orvel-tuner-sim

run: build-run
	@scripts/run-orvel $(BUILD) $(ARGS)

# The same with the simulated tuner behind ser2net on 127.0.0.1, reached over RFC 2217.
run-remote: build-run
	@ORVEL_RUN_REMOTE=1 scripts/run-orvel $(BUILD) $(ARGS)

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) \
	  || { echo "make test: FAILED (see the output above)" >&2; exit 1; }

# Each benchmark prints its figures beside their targets; the README keeps the latest ones.
bench: build
	@$(BUILD)/bench/bench_serial
	@QT_QPA_PLATFORM=offscreen $(BUILD)/bench/bench_receive
	@QT_QPA_PLATFORM=offscreen $(BUILD)/bench/bench_monitor
	@$(BUILD)/bench/bench_program $(BUILD)/orvel

package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD)
