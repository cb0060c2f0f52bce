#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need.
# Idempotent: asks apt only for what is missing.
set -euo pipefail

packages=(
  cmake g++ ninja-build pkgconf make
  libsqlite3-dev sqlite3
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev libcpp-httplib-dev
  mdbtools-dev
  libpq-dev postgresql  # the PostgreSQL driver, and the throwaway server its tests start
  libssl-dev  # the editor's HTTPS (kivplc serve --tls-cert), SHA-256 of the Access tests' files and rows
  libxlsxwriter-dev  # kivplc export --xlsx
  python3
  python3-dev pybind11-dev python3-pytest  # the Python package kivplc and its tests
  python3-venv python3-pip python3-setuptools python3-wheel  # pip install of the package into a virtual environment
  valgrind clang libclang-rt-14-dev  # memcheck runs and the libFuzzer run
  clang-tidy-14                      # make tidy: clang-tidy and clang's lock analysis
  clang-format-14                    # make format, make format-check
  chromium chromium-driver           # the editor's browser tests
  wrk                                # bench/web-load.sh: the read API under 50 clients
  doxygen                            # make docs: the API reference
)
# The browser tests need Node.js and npm; a machine that has them from
# elsewhere keeps its own (Debian's npm would conflict with a bundled one).
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)
[ "${KIV_EXTRA_PACKAGES:-}" ] && read -r -a extra <<<"$KIV_EXTRA_PACKAGES" && packages+=("${extra[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
