# LeakSanitizer in the sanitized build: every program and test links the
# defaults below, so a leak is reported (and fails the run) however the
# program is started, by CTest, by a test that runs it as a child, or by
# hand. lsan.supp names the third-party libraries whose memory is kept on
# purpose until exit; a leak in the project's own code is never suppressed.
# ASAN_OPTIONS and LSAN_OPTIONS still override these defaults.
set(KOVRA610_LSAN_SUPPRESSIONS_FILE ${CMAKE_CURRENT_LIST_DIR}/lsan.supp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KOVRA610_LSAN_SUPPRESSIONS_FILE})
file(READ ${KOVRA610_LSAN_SUPPRESSIONS_FILE} _suppressions)
set(_source ${CMAKE_BINARY_DIR}/lsan_defaults.cpp)
file(CONFIGURE OUTPUT ${_source} CONTENT [[
// Generated from @KOVRA610_LSAN_SUPPRESSIONS_FILE@.
extern "C" const char *__lsan_default_suppressions();
extern "C" const char *__lsan_default_options();

extern "C" const char *__lsan_default_suppressions() {
    return R"suppressions(@_suppressions@)suppressions";
}

// The suppressions that matched are not listed at exit: tests compare what
// a program prints on standard error.
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }
]] @ONLY)
add_library(kovra610_lsan_defaults OBJECT ${_source})
link_libraries(kovra610_lsan_defaults)
