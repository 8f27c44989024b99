# Ombrel: the commands a person (and CI) types.
#   make deps   install what the build and the checks need (Debian, as root)
#   make build  Release build into build/, programs and data in build/bin/,
#               tests and fuzz replays included
#   make programs  only the programs and their data (no tests; installs
#               only the build packages)
#   make test   deps + build + every test (ctest)
#   make demo   deps + programs + the demo job, ending in map images
#   make asan   the tests again under AddressSanitizer and UBSan (build-asan/)
#   make fuzz   fuzz every reader for FUZZ_SECONDS each (build-fuzz/, clang)
#   make bench  the benchmarks beside their peer libraries (S2 built -O2 -DNDEBUG
#               from Debian's source package once, kept in build-bench/s2-ndebug)

JOBS        ?= $(shell nproc)
FUZZ_SECONDS ?= 120
APT := apt-get -o DPkg::Lock::Timeout=600

# Build tools and the libraries the programs link.
PKGS_BUILD := cmake ninja-build g++ pkg-config libgtest-dev libbenchmark-dev \
  libpng-dev libjpeg-dev zlib1g-dev libcairo2-dev libsdl2-dev fonts-dejavu-core \
  libsodium-dev libgeographiclib-dev nlohmann-json3-dev
# Oracles and tools used only by tests and benchmarks.
PKGS_TEST := libs2-dev proj-bin libproj-dev libqhull-dev clang libclang-rt-14-dev \
  xvfb xauth xdotool imagemagick tmux python3-sgp4 libgeos-dev libnanoflann-dev hp2xx

.PHONY: deps deps-build build programs test demo asan fuzz fuzz-replay bench clean

# install-missing LIST: installs the packages of LIST that are not installed.
define install-missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  if [ "$$(id -u)" != 0 ]; then echo "make deps: run as root to install:$$missing" >&2; exit 1; fi; \
	  $(APT) update -qq && DEBIAN_FRONTEND=noninteractive $(APT) install -y -qq $$missing; \
	fi
endef

deps:
	$(call install-missing,$(PKGS_BUILD) $(PKGS_TEST))

# What the programs alone need (make programs, make demo).
deps-build:
	$(call install-missing,$(PKGS_BUILD))

build/build.ninja:
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release

build: deps build/build.ninja
	cmake --build build -j $(JOBS)

programs: deps-build build/build.ninja
	cmake --build build -j $(JOBS) --target ombrel_programs

test: build
	cd build && ctest --output-on-failure -j $(JOBS)

demo: programs
	cd build/bin && SDL_VIDEODRIVER=$${SDL_VIDEODRIVER:-dummy} ./ombrel --batch demo.omb
	cd build/bin && ./sheeter atlas/plotters.ini a4 atlas "" world.atl europe.scn N50 E10 2e7 stereo 0 europe.hpg

build-asan/build.ninja:
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBREL_SANITIZE=ON

asan: deps build-asan/build.ninja
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  OMBREL_SANITIZED=1 ctest --output-on-failure -j $(JOBS)

build-fuzz/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBREL_FUZZ=ON

fuzz-replay: deps build-fuzz/build.ninja
	cmake --build build-fuzz -j $(JOBS)
	fuzz/run-corpus.sh build-fuzz

fuzz: deps build-fuzz/build.ninja
	cmake --build build-fuzz -j $(JOBS)
	fuzz/run-corpus.sh build-fuzz $(FUZZ_SECONDS)

build-bench/build.ninja:
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBREL_BENCH=ON -DOMBREL_S2_JOBS=$(JOBS)

bench: deps build-bench/build.ninja
	cmake --build build-bench -j $(JOBS) --target s2_ndebug
	cmake --build build-bench -j $(JOBS)
	cd build-bench && SDL_VIDEODRIVER=$${SDL_VIDEODRIVER:-dummy} ../bench/run-all.sh

clean:
	rm -rf build build-asan build-fuzz build-bench
