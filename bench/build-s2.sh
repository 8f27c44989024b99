#!/usr/bin/env bash
# Builds the S2 peer the benchmarks compare with: Debian's own source package
# of the same version as the installed libs2-dev, compiled -O2 -DNDEBUG (the
# Debian build keeps S2's debug checks). The result is cached in OUT and not
# rebuilt when present. The system's apt sources are left alone: a private
# source list naming the machine's own Debian mirror is written into OUT.
#   bench/build-s2.sh OUT [JOBS]
set -eu
out=${1:?usage: build-s2.sh OUT [JOBS]}
jobs=${2:-1}
mkdir -p "$out"
out=$(cd "$out" && pwd)
lib="$out/build/libs2.so"
if [ -e "$out/done" ] && [ -e "$lib" ] && [ -d "$out/include/s2" ]; then
  exit 0
fi

version=$(dpkg-query -W -f='${source:Version}' libs2-dev 2>/dev/null || true)
if [ -z "$version" ]; then
  echo "build-s2: libs2-dev is not installed (make deps)" >&2
  exit 1
fi
upstream=${version%-*}
upstream=${upstream#*:}

src="$out/s2geometry-$upstream"
if [ ! -d "$src/src/s2" ]; then
  # The machine's own Debian mirror and release, from its apt sources.
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  mirror=""
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list; do
    [ -r "$f" ] || continue
    case "$f" in
      *.sources)
        m=$(awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i ~ /\/debian\/?$/) { print $i; exit } }' "$f") ;;
      *)
        m=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\// ) { if ($i ~ /\/debian\/?$/) { print $i; exit } else break } }' "$f") ;;
    esac
    if [ -n "$m" ]; then mirror=$m; break; fi
  done
  if [ -z "$mirror" ] || [ -z "$codename" ]; then
    echo "build-s2: no Debian mirror found in /etc/apt/sources.list*" >&2
    exit 1
  fi
  apt_dir="$out/apt"
  mkdir -p "$apt_dir/lists/partial"
  printf 'deb-src %s %s main\n' "$mirror" "$codename" > "$apt_dir/sources.list"
  apt_opts=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
            -o Dir::State::Lists="$apt_dir/lists" -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
  echo "build-s2: fetching s2geometry $version from $mirror"
  apt-get "${apt_opts[@]}" -qq update
  (cd "$apt_dir" && apt-get "${apt_opts[@]}" -qq source --download-only "s2geometry=$version")
  rm -rf "$src.tmp"
  # apt checked the files against the signed Sources index; dpkg-source may
  # still warn that it has no key for the .dsc's own signature.
  dpkg-source -x "$apt_dir/s2geometry_${version#*:}.dsc" "$src.tmp" > /dev/null
  mv "$src.tmp" "$src"
fi

echo "build-s2: compiling S2 $upstream with -O2 -DNDEBUG (-j$jobs)"
cmake -S "$src" -B "$out/build" -G Ninja -Wno-dev \
  -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS="-O2 -DNDEBUG" -DCMAKE_CXX_STANDARD=17 \
  -DBUILD_SHARED_LIBS=ON -DBUILD_EXAMPLES=OFF -DWITH_PYTHON=OFF -DWITH_GFLAGS=OFF \
  -DCMAKE_CXX_COMPILER_LAUNCHER= > "$out/configure.log"
nice cmake --build "$out/build" -j "$jobs" --target s2
# The headers the peer programs compile against: this source's own.
ln -sfn "$src/src" "$out/include"
touch "$out/done"
