#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need. Safe to run again.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6sql6-odbc libgl-dev
  tdsodbc unixodbc unixodbc-dev freetds-bin
  libsqlite3-dev sqlite3 libre2-dev libssl-dev openssl
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format clang-tidy
  xvfb xauth x11-utils xdotool qt6-qpa-plugins
  qt6-translations-l10n
  fonts-urw-base35 fonts-dejavu-core fonts-liberation
  poppler-utils
  default-jdk-headless libjtds-java
  lintian
  g++-mingw-w64-x86-64-posix wine wine64 msitools wixl ninja-build
  python3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
