# Entry points: `make test` (sanitizer build, every test, the clang check
# build and clang-check, then the tsan suite), `make run` (program against the simulated device),
# `make fuzz`, `make tsan`, `make bench`.
JOBS ?= $(shell nproc)
# Most link tests wait on the simulated device, not on a core: the tests of
# the sanitizer build run two to a core (the thread sanitizer's one to a core).
TEST_JOBS ?= $(shell echo $$(( $(JOBS) * 2 )))
export QT_QPA_PLATFORM ?= offscreen

.PHONY: deps deps-run test build-test fuzz-build check-build clang-check tsan fuzz bench release run clean

# Every package the tests, fuzzers and benchmarks need; deps-run only those
# of the program and devsim.
deps:
	@./scripts/install-deps.sh
deps-run:
	@./scripts/install-deps.sh run

# The program and its tests; the benchmarks and screenshot tools are compiled
# by the clang check build (check-build) instead.
build-test: deps
	cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON -DKV_BENCH=OFF >/dev/null
	cmake --build build/test -j $(JOBS)

# Then the thread sanitizer's suite (make tsan), so that a race or a lock
# order that could deadlock fails every landing, not only a run by hand; it
# runs when the tests above failed too (a flaky failure must not hide its
# verdict), and the target fails when either did.
test: build-test clang-check
	@status=0; \
	(cd build/test && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(TEST_JOBS) --timeout 600) || status=1; \
	$(MAKE) --no-print-directory tsan JOBS=$(JOBS) || status=1; \
	if [ $$status -ne 0 ]; then echo "make test: the tests failed (see above)"; fi; \
	exit $$status

release: deps
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_TESTS=ON >/dev/null
	cmake --build build/release -j $(JOBS)

# The program against the simulated demo terminal (devsim --demo on 127.0.0.1);
# devsim stops when the program window is closed. Installs only the packages
# the program and devsim need and builds only them. The program runs from the
# folder it is installed to, RUN_FOLDER/kv (run/kv/, outside build/ and
# ignored by git), so that deleting build/ deletes none of its settings,
# panels, cache, oscillograms or logs; what an earlier `make run` left beside
# the program in build/release/src/ is moved there once. Needs a display: the
# offscreen platform set above for the tests is dropped unless the caller set it.
RUN_FOLDER ?= $(CURDIR)/run
RUN_QPA := $(if $(filter environment command line,$(origin QT_QPA_PLATFORM)),$(QT_QPA_PLATFORM),)
run: deps-run
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_TESTS=OFF >/dev/null
	cmake --build build/release -j $(JOBS) --target kv devsim_app
	cmake --install build/release --prefix $(RUN_FOLDER) >/dev/null
	./scripts/move-build-files.sh build/release/src $(RUN_FOLDER)/kv
	$(if $(RUN_QPA),QT_QPA_PLATFORM=$(RUN_QPA),env -u QT_QPA_PLATFORM) KV_PROGRAM_FOLDER=$(RUN_FOLDER)/kv \
	  ./scripts/run-demo.sh build/release

# The tests labelled tsan (worker, chains, link, devsim, fault mix) in a
# ThreadSanitizer build of the non-GUI tree (Qt is not instrumented). The fault
# mix runs a shorter schedule there.
tsan: deps
	cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_TSAN=ON -DKV_GUI=OFF >/dev/null
	cmake --build build/tsan -j $(JOBS) --target tsan_tests
	cd build/tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/reliability/tsan.supp \
	  KV_FAULT_MIX_TCP=2000 KV_FAULT_MIX_RTU=500 \
	  ctest --output-on-failure -j $(JOBS) --timeout 600 -L tsan

# Builds the release configuration and runs every benchmark program in it
# (bench/X.cmake gives X_bench); each prints its own figures. One that fails
# is named and the others still run; the target fails at the end if one did.
bench: release
	@failed=""; for b in build/release/bench/*_bench; do \
	  echo "== $$(basename $$b)"; \
	  $$b || { echo "== $$(basename $$b) failed (exit status $$?)"; failed="$$failed $$(basename $$b)"; }; \
	done; \
	if [ -n "$$failed" ]; then echo "benchmarks that failed:$$failed"; exit 1; fi

# Builds the libFuzzer targets with clang and runs each (fuzz/X.cmake gives
# X_fuzz, and X_seeds when it writes seed inputs) for FUZZ_SECONDS, every one
# even after another found something (fuzz/run-all.sh): one line per target
# (runs, findings) at the end, and a failure when any found something.
FUZZ_SECONDS ?= 30
fuzz: fuzz-build
	./fuzz/run-all.sh build/fuzz $(FUZZ_SECONDS)

fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_FUZZ=ON -DKV_GUI=OFF -DKV_BENCH=OFF >/dev/null
	cmake --build build/fuzz -j $(JOBS)

# clang at -O0 compiles what the tests do not run: the fuzz targets, the
# benchmarks and the screenshot tools, and with them the GUI; nothing of it
# runs here, so nothing is optimised. A change that breaks any of them fails
# the landing.
check-build: deps
	CC=clang CXX=clang++ cmake -S . -B build/clang -G Ninja -DCMAKE_BUILD_TYPE= -DKV_FUZZ=ON -DKV_GUI=ON -DKV_BENCH=ON >/dev/null
	cmake --build build/clang -j $(JOBS)

# Then parses whatever of src/ and common/ that build left out: a construct
# only gcc accepts fails here, and so on CI.
clang-check: check-build
	./scripts/clang-syntax.sh build/clang-syntax $(JOBS) build/clang

clean:
	rm -rf build
