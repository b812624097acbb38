# The Debian packages the build, the tests and the demo need: the one list, sourced by
# every entry point. Later work adds to it here.
QRV_PACKAGES=(
  # toolchain and tests
  cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  # GUI
  qt6-base-dev qt6-svg-dev
  # codecs
  libavcodec-dev libavutil-dev libswscale-dev libjpeg62-turbo-dev libspeex-dev libspeexdsp-dev
  # sound and system volume
  libsdl2-dev libpulse-dev libasound2-dev
  # fonts for the Korean texts, an X server for screenshots
  fonts-noto-cjk xvfb xauth
  # the recording file type for the user's desktop, and reading it back in tests
  xdg-utils shared-mime-info desktop-file-utils libglib2.0-bin
)

# Installs the packages given (default: the list above) that are not installed yet.
qrv_install_packages() {
  local wanted=("$@")
  [ ${#wanted[@]} -gt 0 ] || wanted=("${QRV_PACKAGES[@]}")
  local missing=() p
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Need root (or sudo) to install: ${missing[*]}" >&2; return 1; }
    sudo=(sudo)
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Configures (once) and builds the preset given, incrementally.
qrv_build() {
  local preset=$1
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
}
