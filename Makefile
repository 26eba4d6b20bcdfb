# Entry points: `make demo` and `make test` do all set-up on a fresh Debian 12
# machine (packages, configure, build) before they run.
.PHONY: deps build test unit-test sanitize-test demo bench clean

deps:
	./cmake/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

# Every test of the default build, then the unit tests under ASan + UBSan.
test: build sanitize-test
	ctest --preset default

sanitize-test: deps
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

demo: build
	./examples/run-demo.sh build

bench: build
	./bench/run-all.sh build

clean:
	rm -rf build build-clang build-sanitize
