# Quick start: `make demo` and `make test`. Both install what they need.
SHELL := /bin/bash
.DEFAULT_GOAL := test

PYTHON ?= python3
VENV := .venv
PY := $(VENV)/bin/python
BUILD := build/cpp
JOBS ?= $(shell nproc)

DEBIAN_PACKAGES := capnproto libcapnp-dev libicu-dev libgtest-dev g++ make \
  clang-16 libclang-rt-16-dev valgrind

.PHONY: test demo deps venv install cpp-build cpp-test py-test clean
.PHONY: asan-build asan-test fuzz-build fuzz fuzz-test hostile-test wheel abi3-audit

# Debian packages, only those missing (apt-get update once, then install).
deps:
	@missing=""; for p in $(DEBIAN_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing Debian packages:$$missing"; \
	  SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

$(PY):
	$(PYTHON) -m venv $(VENV)

venv: $(PY)

# The package itself (extension + simulator), with the test tools.
install: deps venv
	$(PY) -m pip install -q '.[sim,test]'

# Starts the bundled gateway simulator on a free loopback port, tours a
# session against it (examples/session_tour.py), and stops the simulator.
demo: install
	bash examples/run_demo.sh $(PY)

cpp-build: deps
	cmake -S . -B $(BUILD) -DORVIK_BUILD_TESTS=ON -DORVIK_BUILD_PYTHON=OFF >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

cpp-test: cpp-build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

py-test: install
	$(PY) -m pytest -q --ignore=tests/hostile

test: cpp-test asan-test fuzz-test py-test hostile-test abi3-audit

clean:
	rm -rf build $(VENV)

# Benchmarks: orvik against the floor and a pycapnp client on a canned C++
# gateway; results in bench/RESULTS.md. `make bench BENCH_ARGS=--smoke` for a
# quick run.
.PHONY: bench
bench: install
	$(PY) bench/run.py $(BENCH_ARGS)

# ---------------------------------------------------------------- robustness

# The C++ tests once more, with AddressSanitizer and UndefinedBehaviorSanitizer.
ASAN_BUILD := build/asan
asan-build: deps
	cmake -S . -B $(ASAN_BUILD) -DORVIK_BUILD_TESTS=ON -DORVIK_BUILD_PYTHON=OFF -DORVIK_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)

asan-test: asan-build
	@start=$$(date +%s); \
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS); rc=$$?; \
	echo "stage asan-test: $$(( $$(date +%s) - $$start )) s"; exit $$rc

# libFuzzer targets (clang, every file compiled with the sanitizers), seeded
# from valid responses of every arm. Every run replays fuzz/regressions first.
# `make fuzz` runs each target FUZZ_SECONDS; `make test` runs each 60 s.
FUZZ_BUILD := build/fuzz
FUZZ_TARGETS := decode_response read_frame frame_reader transact
FUZZ_SECONDS ?= 300
FUZZ_FLAGS = -rss_limit_mb=2048 -timeout=10 -max_len=65536 -print_final_stats=1
fuzz-build: deps
	CC=clang-16 CXX=clang++-16 cmake -S fuzz -B $(FUZZ_BUILD) >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	rm -rf $(FUZZ_BUILD)/seeds && $(FUZZ_BUILD)/seed_corpus $(FUZZ_BUILD)/seeds

# Runs every target for $(1) seconds; the first target that fails ends it.
define run_fuzzers
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/artifacts/$$t; \
	  regressions=fuzz/regressions/$$t; [ -d $$regressions ] || regressions=""; \
	  echo "fuzzing $$t for $(1) s"; \
	  $(FUZZ_BUILD)/$${t}_fuzzer -max_total_time=$(1) $(FUZZ_FLAGS) \
	    -artifact_prefix=$(FUZZ_BUILD)/artifacts/$$t/ \
	    $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/seeds/$$t $$regressions \
	    > $(FUZZ_BUILD)/$$t.log 2>&1 \
	  || { tail -60 $(FUZZ_BUILD)/$$t.log; echo "fuzzer $$t failed; input kept in $(FUZZ_BUILD)/artifacts/$$t"; exit 1; }; \
	  grep -E '^(stat::number_of_executed_units|Done)' $(FUZZ_BUILD)/$$t.log | tr '\n' ' '; echo; \
	done
endef

fuzz: fuzz-build
	$(call run_fuzzers,$(FUZZ_SECONDS))

fuzz-test: fuzz-build
	@start=$$(date +%s); $(MAKE) --no-print-directory fuzz-run FUZZ_SECONDS=60; rc=$$?; \
	echo "stage fuzz-test: $$(( $$(date +%s) - $$start )) s"; exit $$rc

.PHONY: fuzz-run
fuzz-run:
	$(call run_fuzzers,$(FUZZ_SECONDS))

# Hostile gateways, the long leak loop and the valgrind session.
hostile-test: install
	@start=$$(date +%s); $(PY) -m pytest -q tests/hostile; rc=$$?; \
	echo "stage hostile-test: $$(( $$(date +%s) - $$start )) s"; exit $$rc

# The wheel must use nothing outside the stable ABI of CPython 3.9.
WHEEL_DIR := build/wheel
wheel: deps venv
	rm -f $(WHEEL_DIR)/orvik-*.whl
	$(PY) -m pip wheel -q . -w $(WHEEL_DIR) --no-deps -C build-dir=$(WHEEL_DIR)/cmake

abi3-audit: wheel
	@start=$$(date +%s); $(PY) -m pip install -q abi3audit && \
	$(VENV)/bin/abi3audit --strict --verbose --assume-minimum-abi3 3.9 $(WHEEL_DIR)/orvik-*.whl; rc=$$?; \
	echo "stage abi3-audit: $$(( $$(date +%s) - $$start )) s"; exit $$rc
