# Installs the Debian packages the build and the tests need, only those that
# are missing, with a single 'apt-get update' before them. Sourced by the
# other scripts.
KOLVE_PACKAGES="cmake g++ make libgsl-dev googletest libgtest-dev libbenchmark-dev clang libclang-rt-dev acl"

kolve_install_missing() {
  local missing=() pkg
  for pkg in $KOLVE_PACKAGES "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
}
