# Shared helpers for the project's scripts (sourced, not run).

# need_packages PKG...: installs the Debian packages that are not installed yet.
need_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if [ -z "${KESTREL_APT_UPDATED:-}" ]; then
    $sudo apt-get update -q
    export KESTREL_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Packages the native build and its tests need.
# libcurl and the CA store for forwarding telemetry; OpenSSL and its program for
# the tests' HTTPS server and throw-away certificates; JSON for Modern C++ for
# reading SatNOGS DB's telemetry pages.
NATIVE_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev qt6-base-dev libgl-dev fonts-dejavu-core
  libcurl4-openssl-dev ca-certificates libssl-dev openssl nlohmann-json3-dev)

# Packages the Windows build (mingw-w64) and its runs under Wine need.
WINE_PACKAGES=(cmake ninja-build gcc libc6-dev googletest g++-mingw-w64-x86-64-posix wine wine64 socat nlohmann-json3-dev)

# need_locale NAME: generates a locale (de_DE.UTF-8) when the system lacks it;
# the tests run the programs under a decimal-comma locale.
need_locale() {
  local name=$1
  locale -a 2>/dev/null | grep -qix "$(echo "$name" | sed 's/UTF-8/utf8/I')" && return 0
  need_packages locales
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "== generating the locale $name"
  $sudo localedef -i "${name%%.*}" -f "${name##*.}" "$name"
}

jobs() { nproc 2>/dev/null || echo 2; }

# per_core FUNCTION ITEM...: FUNCTION ITEM for every item in the background, as
# many at a time as there are cores (or as per_core_jobs says); returns when
# all have ended. FUNCTION keeps its own outcome (in a file per item): the exit
# statuses are not kept.
per_core() {
  local fn=$1 running=0 item at_once=${per_core_jobs:-$(jobs)}
  shift
  for item in "$@"; do
    "$fn" "$item" &
    running=$((running + 1))
    if [ "$running" -ge "$at_once" ]; then
      wait -n || true
      running=$((running - 1))
    fi
  done
  wait
}

# New build trees are Ninja's: a full build spends about a seventh less CPU
# than with make, whose per-target steps start CMake again and again. A tree
# keeps the generator it was made with.
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}

# unity_option: what the first configure of a build tree adds when
# KESTREL_UNITY_BUILD=1 (the test command sets it): a few source files to a
# compiler run, which builds a tree anew in about 60 % of the CPU time; the
# cache keeps the choice for later configures. Day-to-day trees stay one file
# to a run, so that a change recompiles one file and an include a file forgot
# is not hidden by its neighbour's.
unity_option() { [ -z "${KESTREL_UNITY_BUILD:-}" ] || echo -DCMAKE_UNITY_BUILD=ON; }

# deb_build_flags: the CMake options of a build as Debian builds its packages
# (dpkg-buildflags: -O2, the hardening flags). The Debian package is built
# with them; the test command builds build/ with them too, so that its
# package stage reuses that tree instead of compiling everything again.
deb_build_flags() {
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  printf '%s\n' -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_C_FLAGS=$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)"
}
