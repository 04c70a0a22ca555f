# Entry points: `make test` (sanitizer build, every test), `make run` (program
# against the simulated device), `make fuzz`, `make tsan`, `make bench`.
JOBS ?= $(shell nproc)
export QT_QPA_PLATFORM ?= offscreen

.PHONY: deps test build-test tsan fuzz bench release clean

deps:
	@./scripts/install-deps.sh

build-test: deps
	cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON >/dev/null
	cmake --build build/test -j $(JOBS)

test: build-test
	cd build/test && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 600

release: deps
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build/release -j $(JOBS)

tsan: deps
	cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_TSAN=ON >/dev/null
	cmake --build build/tsan -j $(JOBS)
	cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) -L tsan

clean:
	rm -rf build
