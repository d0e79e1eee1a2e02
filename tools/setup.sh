# Sourced by the project's commands: makes sure the Debian packages that the
# build and the tests need are installed (installs them when running as root),
# and builds the program as a modeller runs it.
orvistad_need_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
  else
    echo "These Debian packages are needed: ${missing[*]}" >&2
    echo "Install them as root (or with sudo): apt-get install ${missing[*]}" >&2
    exit 1
  fi
}

# orvistad_build_release: the program alone, built for speed (the release
# preset, build/release, which builds neither the tests nor the
# micro-benchmarks), so that g++, cmake and ninja-build are all it needs.
orvistad_build_release() {
  orvistad_need_packages g++ cmake ninja-build
  cmake --preset release >/dev/null
  cmake --build --preset release
}
