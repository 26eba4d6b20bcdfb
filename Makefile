# Entry points: `make demo` and `make test` do all set-up on a fresh Debian 12
# machine (packages, configure, build) before they run.
.PHONY: deps build test sanitize-test clang-test demo bench install uninstall deb clean

# Where `make install` puts tvx, the staging root in front of it, and the
# build tree it installs from.
PREFIX ?= /usr/local
DESTDIR ?=
BUILD_DIR ?= build

deps:
	./cmake/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

# Every test of the default build, the unit tests under ASan + UBSan, every
# test of a clang++ build (all builds treat warnings as errors), and the
# Debian package with its lintian check.
test: build sanitize-test clang-test deb
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

# bin/tvx-pack, lib/tvx/<processor>/tvx-launcher (this build's and those of
# build-aarch64/, build-armhf/, build-i386/ when built), share/java,
# share/man, share/doc/tvx; uninstall removes exactly what install added.
install: build
	./packaging/install.sh install --prefix "$(PREFIX)" --destdir "$(DESTDIR)" --build "$(BUILD_DIR)"

uninstall:
	./packaging/install.sh uninstall --prefix "$(PREFIX)" --destdir "$(DESTDIR)"

# tvx_<version>_<arch>.deb in this directory, from a release build with
# all of Debian's hardening flags (build-deb/), checked by lintian.
deb: export DEB_BUILD_MAINT_OPTIONS = hardening=+all
deb: deps
	cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DTVX_E2E_TESTS=OFF \
	  -DCMAKE_C_FLAGS="$$(dpkg-buildflags --get CFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)"
	cmake --build build-deb --target tvx-pack tvx-launcher tvx_helpers_jar -j 2
	rm -f tvx_*.deb
	./packaging/make-deb.sh --build build-deb --out .
	lintian --fail-on error,warning tvx_*.deb

clean:
	rm -rf build build-clang build-sanitize build-deb tvx_*.deb
