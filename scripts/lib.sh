# What the scripts share; sourced from the top of the checkout, never run:
#   cd "$(dirname "$0")/.." && . scripts/lib.sh
#
#   bv_build_preset PRESET [TARGET...]   configure PRESET and build it, all of it
#                                        or only the targets named
#   bv_require_root_or_skip WHAT [WHY]   unless root: say WHAT is skipped and end
#                                        the script with status 0
#   bv_fail MESSAGE                      MESSAGE on standard error, end with status 1
#
# BV_JOBS sets the build's parallel jobs (all processors by default).

bv_build_preset() {
  bv_preset=$1
  shift
  # Configuring says little worth reading when it works; its errors go to
  # standard error all the same.
  cmake --preset "$bv_preset" >/dev/null
  if [ $# -gt 0 ]; then
    cmake --build --preset "$bv_preset" -j "${BV_JOBS:-$(nproc)}" --target "$@"
  else
    cmake --build --preset "$bv_preset" -j "${BV_JOBS:-$(nproc)}"
  fi
}

bv_require_root_or_skip() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "$1: skipped, it needs root${2:+ ($2)}"
    exit 0
  fi
}

bv_fail() {
  echo "$*" >&2
  exit 1
}
