# The front door. `make demo` and `make test` install what is missing, build and run.
.PHONY: all deps build demo test test-native test-windows windows package-windows test-asan \
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

# The Debian package: the programs and what else it carries (not the tests), its checksum
# in build/default/packages/SHA256SUMS.
package: deps
	cmake --preset default
	cmake --build --preset default --target package-contents
	rm -rf build/default/packages
	cd build/default && cpack -G DEB
	cd build/default/packages && sha256sum *.deb | tee SHA256SUMS

# Debian's checker on the package: no error and no warning may stand.
package-check: package
	@scripts/install-deps lintian
	scripts/check-package build/default/packages/kelta-reader-config_*_amd64.deb

install: build
	cmake --install build/default

clean:
	rm -rf build
