#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine, and
# generates the host locales that the Wine runs use.
# Idempotent: does nothing when everything is present.
#
# A package mirror in the middle of a sync is normal: the index update is
# retried and an index that still fails is tolerated; when the plain install
# cannot be resolved (an amd64 package from the security suite whose i386
# twin exists only in the release suite, say), the install is done from the
# release suite. Which install is used is decided by a simulation first, so
# a failure never leaves the machine half set up.
#
#   scripts/setup.sh           install what is missing, and fetch the kernel
#                              package that the emulated 32-bit machine boots
#                              (scripts/vm32.sh fetch: unpacked into a cache,
#                              never installed)
#   scripts/setup.sh --check   only simulate a fresh machine's install of the
#                              whole set (no download); exit 1 when neither the
#                              plain install nor the release-suite install resolves,
#                              or when the index offers no kernel package
set -euo pipefail

packages=(
  cmake make git ca-certificates
  g++-mingw-w64-i686-posix              # the Windows toolchain (posix threads)
  g++-mingw-w64-x86-64-posix            # the 64-bit test build, for hosts that cannot run 32-bit code
  wine wine32:i386 wine64               # runs the program and its tests
  fonts-wine                            # Wine's own fonts (Marlett: the title-bar buttons)
  xvfb xauth x11-utils imagemagick      # virtual display and screenshots
  fonts-wqy-microhei                    # CJK glyphs for the window
  googletest                            # GoogleTest sources, built with our toolchain
  clang libclang-rt-14-dev              # host build: sanitizers and libFuzzer
  python3 openssl curl                  # the loopback servers, the test CA
  espeak-ng lame mpg123                 # the emulator's speech and MP3 encoding
  locales                               # host locales for Wine's code pages
  zip                                   # the release archive
  e2fsprogs                             # chattr, for the unwritable-directory test
  qemu-system-x86 busybox-static        # the emulated machine that runs the 32-bit exe (scripts/vm32.sh)
)

# Host locales Wine runs in: zh_CN (code page 936), en_US (1252). Without
# them glibc falls back to ASCII and Wine cannot open a non-ASCII path.
locales_needed=(zh_CN.UTF-8 en_US.UTF-8)

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
APT=(env DEBIAN_FRONTEND=noninteractive $SUDO apt-get -q -o Acquire::Retries=3)

release_suite() {
  (. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
}

# Retries the index update; an index that still fails after that is
# tolerated (the install below tells whether what we need is there).
update_index() {
  local i
  for i in 1 2 3; do
    if "${APT[@]}" update; then return 0; fi
    echo "setup: the package index update failed (try $i of 3)" >&2
    sleep $((i * 5))
  done
  echo "setup: going on with the indexes that could be fetched" >&2
}

# Simulates an install; "$@" are extra apt-get options (an empty status file
# simulates a fresh machine).
resolves() {
  apt-get -s -q "$@" install --no-install-recommends "${packages[@]}" >/dev/null 2>&1
}

ensure_i386() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    return 1
  fi
}

if [ "${1:-}" = --check ]; then
  empty=$(mktemp)
  trap 'rm -f "$empty"' EXIT
  fresh=(-o Dir::State::status="$empty")
  if resolves "${fresh[@]}"; then
    echo "setup check: a fresh machine's install resolves"
  elif resolves "${fresh[@]}" -t "$(release_suite)"; then
    echo "setup check: a fresh machine's install resolves from the release suite $(release_suite) only"
  else
    echo "setup check: a fresh machine's install does not resolve, neither plainly nor from $(release_suite):" >&2
    apt-get -s -q "${fresh[@]}" -t "$(release_suite)" install --no-install-recommends "${packages[@]}" 2>&1 | tail -20 >&2
    exit 1
  fi
  # The emulated 32-bit machine boots a kernel package that is fetched, not
  # installed: the index must offer one.
  if ! apt-cache pkgnames linux-image- | grep -E '^linux-image-[0-9.]+-[0-9]+-amd64$' >/dev/null; then
    echo "setup check: the package index offers no linux-image-*-amd64 for the emulated 32-bit machine" >&2
    exit 1
  fi
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  name=${p%%:*}
  arch=
  [[ $p == *:* ]] && arch=":${p##*:}"
  if ! dpkg-query -W -f='${Status}' "$name$arch" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} > 0)); then
  echo "setup: installing ${missing[*]}" >&2
  ensure_i386 || true
  update_index
  # Decide by simulation which install resolves before changing anything.
  target=()
  if ! resolves; then
    target=(-t "$(release_suite)")
    if ! resolves "${target[@]}"; then
      echo "setup: the packages cannot be installed, neither plainly nor from $(release_suite):" >&2
      apt-get -s -q "${target[@]}" install --no-install-recommends "${packages[@]}" 2>&1 | tail -20 >&2
      exit 1
    fi
    echo "setup: installing from the release suite $(release_suite) (the plain install does not resolve)" >&2
  fi
  "${APT[@]}" "${target[@]}" install -y --no-install-recommends "${packages[@]}"
fi

missing_locales=()
for l in "${locales_needed[@]}"; do
  norm=$(echo "$l" | sed 's/UTF-8/utf8/')
  locale -a 2>/dev/null | grep -qx "$norm" || missing_locales+=("$l")
done
for l in "${missing_locales[@]}"; do
  echo "setup: generating the locale $l" >&2
  $SUDO localedef -i "${l%%.*}" -f UTF-8 "$l"
done

"$(dirname "$0")/vm32.sh" fetch
