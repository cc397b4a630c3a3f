#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need.
# Runs apt-get only when something is missing; uses sudo when not root.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  libwxgtk3.2-dev libwxgtk-webview3.2-dev libgtk-3-dev libwebkit2gtk-4.0-dev
  unixodbc unixodbc-dev odbcinst
  libsqlite3-dev sqlite3
  libssl-dev openssl ca-certificates
  libglib2.0-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsqliteodbc postgresql odbc-postgresql
  python3 python3-aiosmtpd
  xvfb xauth xdg-utils fonts-dejavu-core imagemagick
  libatspi2.0-dev at-spi2-core dbus-bin dbus-daemon
  clang-format
  locales tzdata
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The tests that check texts under another locale need a German one; made once.
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  echo "Generating the de_DE.UTF-8 locale"
  $sudo sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  $sudo locale-gen >/dev/null
fi
