# Quick start: `make demo` and `make test`. Both install what they need.
SHELL := /bin/bash
.DEFAULT_GOAL := test

PYTHON ?= python3
VENV := .venv
PY := $(VENV)/bin/python
BUILD := build/cpp
JOBS ?= $(shell nproc)

DEBIAN_PACKAGES := capnproto libcapnp-dev libicu-dev libgtest-dev g++ make

.PHONY: test demo deps venv install cpp-build cpp-test py-test clean

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
	$(PY) -m pytest -q

test: cpp-test py-test

clean:
	rm -rf build $(VENV)

# Benchmarks: orvik against the floor and a pycapnp client on a canned C++
# gateway; results in bench/RESULTS.md. `make bench BENCH_ARGS=--smoke` for a
# quick run.
.PHONY: bench
bench: install
	$(PY) bench/run.py $(BENCH_ARGS)
