# make demo       build the plug-in and the test host, run a backup job's life
#                 cycle against a simulated array (everything under build/)
# make test       build everything and run every test (the stress runs: make stress-short)
# make test-asan  the same under AddressSanitizer + UndefinedBehaviorSanitizer
# make fuzz-smoke build the libFuzzer targets with clang and run each briefly
# make fuzz       run every fuzz target for FUZZ_SECONDS (default 600), all at once
# make bench      build and run the benchmarks
# make stress     the full reliability and scale runs (fault matrix, 200 kills,
#                 8 x 50 life cycles, growth to 512 devices, the tampered-record
#                 matrix); figures in build/stress-report/
# make stress-short  the short forms (CTest label stress), as CI runs them
# make package    build the Debian package (build/packages/)
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 600
SMOKE_SECONDS ?= 20
STRESS_WORKERS ?= 6
PACKAGES = cmake g++ make libboost-dev libgtest-dev libgmock-dev libbenchmark-dev clang nlohmann-json3-dev libsqlite3-dev

.PHONY: deps demo test test-asan fuzz-smoke fuzz bench stress stress-short package clean

deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else echo "missing packages (run as root to install):$$missing"; fi; \
	fi

# The demo: every file it makes stays under build/ (build/demo is the work
# directory; build/demo-build.log the build's output). It exits 0 only when
# every step of the scenario met its expectation.
demo: deps
	@mkdir -p build
	@echo "demo: configuring and building (log: build/demo-build.log) ..."
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > build/demo-build.log 2>&1 || \
	  { tail -20 build/demo-build.log; echo "demo: FAILED - the build could not be configured"; exit 1; }
	@cmake --build build -j $(JOBS) --target zrtesthost ccisim_tools >> build/demo-build.log 2>&1 || \
	  { tail -20 build/demo-build.log; echo "demo: FAILED - the test host could not be built"; exit 1; }
	@cmake --build build -j $(JOBS) --target zrhdscli >> build/demo-build.log 2>&1 || \
	  { grep -E "error|undefined reference" build/demo-build.log | head -10; \
	    echo "demo: FAILED - the plug-in libzrhdscli.so could not be built; no step can run"; exit 1; }
	@build/testhost/zrtesthost run testhost/scenarios/demo.json --work build/demo

test: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)
	cd build && ctest -LE stress --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZR_SANITIZE=ON -DZR_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest -LE stress --output-on-failure -j $(JOBS)

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

stress-short: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS) --target zrstress
	cd build && ctest -L stress --output-on-failure -j 3

STRESS_REPORT = build/stress-report
stress: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS) --target zrstress
	@mkdir -p $(STRESS_REPORT)
	@rc=0; \
	build/stress/zrstress faults --full --workers $(STRESS_WORKERS) \
	  --report $(STRESS_REPORT)/faults.md --work build/stress-work/faults || rc=1; \
	build/stress/zrstress crashes --kills 200 --seed 1 --report $(STRESS_REPORT)/crashes.md \
	  --work build/stress-work/crashes || rc=1; \
	build/stress/zrstress load --procs 8 --cycles 50 --report $(STRESS_REPORT)/load.md \
	  --work build/stress-work/load || rc=1; \
	build/stress/zrstress growth --sizes 1,16,256,512 --report $(STRESS_REPORT)/growth.md \
	  --work build/stress-work/growth || rc=1; \
	build/stress/zrstress tamper --full --workers $(STRESS_WORKERS) \
	  --report $(STRESS_REPORT)/tamper.md --work build/stress-work/tamper || rc=1; \
	exit $$rc

package: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)
	cd build && cpack

clean:
	rm -rf build build-asan build-fuzz
