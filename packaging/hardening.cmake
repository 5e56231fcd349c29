# Debian's hardening flags, as dpkg-buildflags gives them with
# hardening=+all: fortified string and memory functions, the stack
# protector, format-string checks, and a relocation table made read-only
# and bound at start (relro, bind-now). The build type keeps its own
# optimisation and debug flags, and source paths stay as they are.
# _FORTIFY_SOURCE needs the optimiser, so Debug builds go without it.
# Sanitizer and fuzzing builds go without all of it: AddressSanitizer
# checks the same and more, and the fortified functions get in its way.
option(KOVRA610_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)"
       ON)
if(KOVRA610_SANITIZE OR KOVRA610_FUZZ)
  set(KOVRA610_HARDENING OFF)
endif()
find_program(KOVRA610_DPKG_BUILDFLAGS dpkg-buildflags)
if(KOVRA610_HARDENING AND NOT KOVRA610_DPKG_BUILDFLAGS)
  message(STATUS "dpkg-buildflags not found (dpkg-dev): building without hardening flags")
elseif(KOVRA610_HARDENING)
  foreach(_kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${KOVRA610_DPKG_BUILDFLAGS} --get ${_kind}
      OUTPUT_VARIABLE _flags
      OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(_flags UNIX_COMMAND "${_flags}")
    foreach(_flag IN LISTS _flags)
      if(_flag MATCHES "^-(O|g)" OR _flag MATCHES "-prefix-map=")
        continue()
      elseif(_flag MATCHES "^-D_FORTIFY_SOURCE")
        add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:${_flag}>")
      elseif(_kind STREQUAL "LDFLAGS")
        add_link_options(${_flag})
      else()
        add_compile_options(${_flag})
      endif()
    endforeach()
  endforeach()
endif()
