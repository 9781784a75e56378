# The hardening Debian builds its packages with (dpkg-buildflags with hardening=+all):
# a stack protector, checked string and memory functions, position-independent
# programs, and relocations made read-only before the program runs. On by default, so
# the package and the portable folder are the programs the tests ran; off for the
# sanitizer and fuzzing builds, whose own checks fortify would get in the way of, and
# for comparing the data path's speed with and without it (tools/bench/README.md).
option(QVCP_HARDENING "Build with Debian's hardening flags" ON)
if(QVCP_HARDENING AND NOT (QVCP_SANITIZE OR QVCP_FUZZ))
  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
  # The checked functions need the optimizer: a Debug build goes without them.
  if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    add_compile_definitions(_FORTIFY_SOURCE=2)
  endif()
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
