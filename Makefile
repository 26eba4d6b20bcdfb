# Entry points: `make demo` and `make test` do all set-up on a fresh Debian 12
# machine (packages, configure, build) before they run.
.PHONY: deps build check test sanitize-test clang-test fuzz-test fuzz demo bench install uninstall deb clean cross-setup cross-build test-cross

# Where `make install` puts tvx, the staging root in front of it, and the
# build tree it installs from.
PREFIX ?= /usr/local
DESTDIR ?=
BUILD_DIR ?= build

# `make fuzz`: seconds per harness, harnesses run at once.
FUZZ_SECONDS ?= 180
FUZZ_JOBS ?= 1

deps:
	./cmake/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

# The quick check for daily work: the default build and its own tests (unit
# and end-to-end), a few minutes. `make test` is the full run CI executes.
check: build
	ctest --preset default

# Every test of the default build first (make check, the quickest signal),
# then the unit tests under ASan + UBSan, a whole clang++ build and its unit
# tests (all builds treat warnings as errors; the end-to-end tests already ran
# on the g++ build), each fuzz
# harness over its seed corpus and for about 20 seconds, the Debian package
# with its lintian check, and every test of the aarch64, armhf and i386
# builds (test-cross).
test: check sanitize-test clang-test fuzz-test deb test-cross

sanitize-test: deps
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

clang-test: deps
	cmake --preset clang
	cmake --build --preset clang
	ctest --preset clang

fuzz-test: deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	ctest --preset fuzz

# Each fuzz harness for FUZZ_SECONDS (at nice 19); crashing inputs are kept
# in build-fuzz/fuzz/crashes/<harness>/.
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	./tests/fuzz/run-fuzzers.sh --dir build-fuzz/fuzz --seconds $(FUZZ_SECONDS) --jobs $(FUZZ_JOBS)

# The aarch64, armhf and i386 builds (cross compiled on this x86-64 machine,
# ARM tests under qemu-user). cross-setup installs the cross toolchains, qemu
# and the processors' libraries, registers qemu with binfmt_misc and unpacks
# each processor's OpenJDK 17 runtime into build-<processor>/runtime.
CROSS_PROCESSORS := aarch64 armhf i386

cross-setup: deps
	./cmake/cross/setup.sh $(CROSS_PROCESSORS)

# tvx-pack stays a build machine program, taken from the default build.
cross-build: build cross-setup
	for p in $(CROSS_PROCESSORS); do \
	  cmake --preset $$p && cmake --build --preset $$p || exit 1; \
	done

# Every test of every cross build; each processor's suite runs even when an
# earlier one failed.
test-cross: cross-build
	status=0; for p in $(CROSS_PROCESSORS); do ctest --preset $$p || status=1; done; exit $$status

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
# all of Debian's hardening flags (build-deb/), checked by lintian; it also
# carries tvx-maven-plugin in Debian's Maven repository, /usr/share/maven-repo.
deb: export DEB_BUILD_MAINT_OPTIONS = hardening=+all
deb: deps
	cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DTVX_E2E_TESTS=OFF \
	  -DCMAKE_C_FLAGS="$$(dpkg-buildflags --get CFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" -DTVX_MAVEN_PLUGIN=ON
	cmake --build build-deb --target tvx-pack tvx-launcher tvx_helpers_jar tvx_maven_plugin -j 2
	rm -f tvx_*.deb
	./packaging/make-deb.sh --build build-deb --out .
	lintian --fail-on error,warning tvx_*.deb

clean:
	rm -rf build build-clang build-sanitize build-fuzz build-deb tvx_*.deb $(addprefix build-,$(CROSS_PROCESSORS))
