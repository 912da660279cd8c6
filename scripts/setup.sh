# Shared set-up for scripts/run, scripts/test and scripts/package (sourced, not
# run): the Debian packages the project needs, and a CMake build folder.

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# lld links every tree faster.
# libjpeg-dev lets the tests write CMYK JPEGs.
# dpkg-dev (dpkg-shlibdeps) gives the Debian package its library dependencies;
# desktop-file-utils checks its menu entry.
# libmicrohttpd-dev and libqrencode-dev: the sharing page's server and QR codes.
packages=(cmake g++ ninja-build qtbase5-dev qttranslations5-l10n libopencv-dev libjpeg-dev ffmpeg
          lld dpkg-dev desktop-file-utils pkg-config libmicrohttpd-dev libqrencode-dev)
# Only for the tests (scripts/test): headless Chromium renders the sharing page
# and zbarimg reads its QR code back. Chromium is large (about 300 MB), so a
# plain build or package does not install it.
test_packages=(chromium zbar-tools)
# Only for the fuzz targets (scripts/fuzz): clang and libFuzzer, about 300 MB
# installed, which no other tree needs.
fuzz_packages=(clang libclang-rt-14-dev)

# install_missing_packages [PACKAGE...]: the project's packages and these.
install_missing_packages() {
    local missing=() package
    for package in "${packages[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing Debian packages: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build FOLDER [CMAKE-ARGUMENTS...]: configure once, then build incrementally.
build() {
    local folder="$1"
    shift
    if [ ! -f "$folder/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$folder" -G Ninja "$@"
    fi
    cmake --build "$folder" --parallel "$(nproc)"
}
