#pragma once

// The sanitizer options every test program starts with, so that a run by hand outside the test
// scripts behaves as theirs do (the scripts' ASAN_OPTIONS still take precedence, key by key).
// Included by exactly one file of each program: the one with its main.
//
// Libraries loaded at run time keep their thread-locals in dynamic TLS blocks, whose bounds this
// toolchain's runtime misjudges by chance when it follows __tls_get_addr; the leak checker then
// walks a made-up range at exit and its tracer dies after the tests have passed
// (scripts/sanitizer-env says more).
//
// `KORVANE_TEST_ENGINE_TEARDOWN`: the web engine's own library (not instrumented, not ours)
// frees some of its objects through a base of another size as it tears a page down; only that
// one check is off, only in the programs that open the engine.

#if defined(__SANITIZE_ADDRESS__)
#define KORVANE_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVANE_TEST_UNDER_ASAN 1
#endif
#endif

#ifdef KORVANE_TEST_UNDER_ASAN
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options()
{
#ifdef KORVANE_TEST_ENGINE_TEARDOWN
    return "intercept_tls_get_addr=0:new_delete_type_mismatch=0";
#else
    return "intercept_tls_get_addr=0";
#endif
}

// What system libraries keep until exit, read only by the leak checker. The font library links
// a pattern to its values by offsets from the pattern, not by pointers, so the checker cannot
// follow them and calls every value array of a pattern the text layout keeps for its fallback
// fonts a leak at exit. The web engine and the bus library it loads keep theirs until exit too.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions()
{
#ifdef KORVANE_TEST_ENGINE_TEARDOWN
    return "leak:libfontconfig.so\n"
           "leak:libQt6WebEngineCore.so\n"
           "leak:libdbus-1.so\n";
#else
    return "leak:libfontconfig.so\n";
#endif
}
#endif
