# make test       build everything and run every test
# make test-asan  the same under AddressSanitizer + UndefinedBehaviorSanitizer
# make fuzz-smoke build the libFuzzer targets with clang and run each briefly
# make fuzz       run each fuzz target for FUZZ_SECONDS (default 600)
# make bench      build and run the benchmarks
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 600
SMOKE_SECONDS ?= 20
PACKAGES = cmake g++ make libboost-dev libgtest-dev libgmock-dev libbenchmark-dev clang nlohmann-json3-dev libsqlite3-dev

.PHONY: deps test test-asan fuzz-smoke fuzz bench clean

deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else echo "missing packages (run as root to install):$$missing"; fi; \
	fi

test: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)
	cd build && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZR_SANITIZE=ON -DZR_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

fuzz-smoke: deps
	CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZR_FUZZ=ON -DZR_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS)
	./fuzz/run-all build-fuzz $(SMOKE_SECONDS)

fuzz: deps
	CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZR_FUZZ=ON -DZR_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS)
	./fuzz/run-all build-fuzz $(FUZZ_SECONDS)

bench: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)
	@for b in build/bench/*_bench; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf build build-asan build-fuzz
