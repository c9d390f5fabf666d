# The front door. `make demo` and `make test` install what is missing, build and run.
.PHONY: all deps build demo test test-native test-windows windows package-windows test-asan \
	arm64 test-arm64 package-arm64 \
	bench figures fuzz fuzz-ci package package-check install clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset default
	cmake --build --preset default

# The demo needs only the programs, the simulator and the screen grabber (no tests, no
# Windows tool chain).
demo:
	@KELTA_NO_WINDOWS=1 scripts/install-deps
	cmake --preset default
	cmake --build --preset default --target qm880-config qm880ctl qm880-sim qm880-grab-screen
	scripts/demo

# The Windows leg builds Qt for Windows once per machine (scripts/build-qt-windows, kept
# outside the tree) and runs its tests under Wine against the native qm880-sim.
test: deps
	cmake --preset default
	cmake --build --preset default
	ctest --preset default
	scripts/build-qt-windows >/dev/null
	cmake --preset windows-cross
	cmake --build --preset windows-cross
	ctest --preset windows-cross
	cmake --preset arm64
	nice cmake --build --preset arm64
	ctest --preset arm64

test-native: deps
	cmake --preset default
	cmake --build --preset default
	ctest --preset default

# The Windows tests run against the native simulator; the screen grabber saves the
# Windows program's screenshot.
test-windows: deps
	cmake --preset default
	cmake --build --preset default --target qm880-sim qm880-grab-screen
	scripts/build-qt-windows >/dev/null
	cmake --preset windows-cross
	cmake --build --preset windows-cross
	ctest --preset windows-cross

# The Windows installer and the portable zip of the same folder: every program they
# carry (not the tests), their checksums in build/windows/packages/SHA256SUMS.
windows package-windows: deps
	scripts/build-qt-windows >/dev/null
	cmake --preset windows-cross
	cmake --build --preset windows-cross --target package-contents
	rm -rf build/windows/packages
	cd build/windows && cpack
	cd build/windows/packages && sha256sum *-setup.exe *.zip | tee SHA256SUMS

# The command line, the simulator and their tests for arm64 (Debian's cross tool chain);
# the tests run under qemu-user.
arm64: deps
	cmake --preset arm64
	nice cmake --build --preset arm64

test-arm64: arm64
	ctest --preset arm64

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

bench: build
	scripts/bench

# The start-up figures count instructions with callgrind (valgrind).
figures: build
	@scripts/install-deps valgrind
	scripts/figures

fuzz:
	@scripts/install-deps clang libclang-rt-14-dev
	scripts/fuzz

# Every fuzz target for a fixed seed and number of runs: what CI runs.
fuzz-ci:
	@KELTA_NO_WINDOWS=1 scripts/install-deps clang libclang-rt-14-dev
	scripts/fuzz --ci

# The Debian packages: kelta-reader-config-cli and kelta-reader-config for amd64, and
# kelta-reader-config-cli for arm64, with the programs and what else they carry (not the
# tests); their checksums in build/default/packages/SHA256SUMS and
# build/arm64/packages/SHA256SUMS.
package: deps
	cmake --preset default
	cmake --build --preset default --target package-contents
	rm -rf build/default/packages
	cd build/default && cpack -G DEB
	cd build/default/packages && sha256sum *.deb | tee SHA256SUMS
	$(MAKE) package-arm64

package-arm64: deps
	cmake --preset arm64
	nice cmake --build --preset arm64 --target package-contents
	rm -rf build/arm64/packages
	cd build/arm64 && cpack -G DEB
	cd build/arm64/packages && sha256sum *.deb | tee SHA256SUMS

# Debian's checker on the packages: no error and no warning may stand.
package-check: package
	@scripts/install-deps lintian
	for deb in build/default/packages/*.deb build/arm64/packages/*.deb; do \
	  scripts/check-package $$deb || exit 1; done

install: build
	cmake --install build/default

clean:
	rm -rf build
