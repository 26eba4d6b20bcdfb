# Entry points: `make demo` and `make test` do all set-up on a fresh Debian 12
# machine (packages, configure, build) before they run.
.PHONY: deps build test sanitize-test clang-test demo bench clean

deps:
	./cmake/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

# Every test of the default build, the unit tests under ASan + UBSan, and
# every test of a clang++ build (all builds treat warnings as errors).
test: build sanitize-test clang-test
	ctest --preset default

sanitize-test: deps
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

clang-test: deps
	cmake --preset clang
	cmake --build --preset clang
	ctest --preset clang

demo: build
	./examples/run-demo.sh build

bench: build
	./bench/run-all.sh build

clean:
	rm -rf build build-clang build-sanitize
