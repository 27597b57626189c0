# Debian packages the build, the tests and the benchmarks need. Sourced by
# run.sh and test.sh: `orv_install_deps` installs whatever is missing, running
# apt-get update first only when something must be installed.
ORV_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libicu-dev zlib1g-dev libsqlite3-dev sqlite3
  qt6-base-dev qt6-base-dev-tools libgl-dev xvfb xauth x11-apps fonts-noto-cjk
  zip unzip p7zip-full python3 clang libclang-rt-14-dev
  dpkg-dev file
)

orv_install_deps() {
  local missing=()
  local p
  for p in "${ORV_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}
