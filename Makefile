# Halvoren Vesk: top-level commands. See README.md.
#   make demo    build, then render the demo through vesk-host into out/demo/
#   make test    build and run every test (release build, then again under asan+ubsan, and the
#                all-threads stress test under tsan)
#   make bench   build and run the benchmarks (release build)
#   make bench-peer  CPU per voice against FluidSynth, side by side (installs it; not in make test)
#   make install copy Vesk.clap into ~/.clap

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Paths inside the tree are hashed relative to it, so a fresh clone reuses the compiler cache.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
RELEASE_DIR := build/release
ASAN_DIR := build/asan

.PHONY: all deps release asan tsan demo test test-release test-portable test-asan test-tsan bench bench-peer install clean format

all: release

deps:
	@scripts/install-deps

release: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS)

asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)

tsan: deps
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j $(JOBS) --target vesk_plugin_tests

demo: release
	@scripts/demo.sh $(RELEASE_DIR)

test: test-release test-portable test-asan test-tsan

test-release: release
	@ctest --preset release -j $(JOBS)

# The hot loops that have an AVX2 build chosen at run time, tested again in their portable build
# (what non-x86 machines and older x86 processors run).
test-portable: deps
	@cmake --preset portable >/dev/null
	@cmake --build --preset portable -j $(JOBS) --target vesk_engine_tests vesk_fx_tests
	@build/portable/tests/vesk_engine_tests --gtest_brief=1
	@build/portable/tests/vesk_fx_tests --gtest_brief=1

test-asan: asan
	@ctest --preset asan -j $(JOBS)

# The thread sanitizer over the test that runs every thread of an instance at once.
test-tsan: tsan
	@ctest --preset tsan -R '^Stress\.'

bench: release
	@scripts/bench.sh $(RELEASE_DIR)

bench-peer: release
	@scripts/install-deps --peer
	@python3 scripts/bench_peer.py $(RELEASE_DIR)

install: release
	@mkdir -p $(HOME)/.clap
	@cp -v $(RELEASE_DIR)/plugin/Vesk.clap $(HOME)/.clap/

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build out
