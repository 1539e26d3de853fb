# Sourced by ./run, ./test and ./package: installs the Debian packages that are
# missing, then (unless QUADRIVEL_NO_BUILD is set) configures and builds
# Quadrivel in build/. Extra packages can be asked for in QUADRIVEL_EXTRA_PACKAGES.

# Qt Charts' CMake package needs Qt6OpenGL, which qt6-charts-dev does not pull in.
QUADRIVEL_PACKAGES="cmake g++ make pkgconf qt6-base-dev qt6-charts-dev libqt6opengl6-dev \
libqt6sql6-sqlite libqt6sql6-psql qt6-translations-l10n libgl-dev libsqlite3-dev sqlite3 \
libpq-dev postgresql libbenchmark-dev librsvg2-bin desktop-file-utils appstream \
libxlsxwriter-dev zlib1g-dev python3-openpyxl procps poppler-utils ${QUADRIVEL_EXTRA_PACKAGES:-}"

quadrivel_install_packages() {
    local missing=()
    local package
    for package in $QUADRIVEL_PACKAGES; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installation des paquets manquants : ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

quadrivel_build() {
    local jobs
    jobs=$(nproc 2>/dev/null || echo 2)
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo ${QUADRIVEL_CMAKE_ARGS:-} >/dev/null
    cmake --build build -j "$jobs"
}

quadrivel_install_packages
[ -n "${QUADRIVEL_NO_BUILD:-}" ] || quadrivel_build
