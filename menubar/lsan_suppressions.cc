// Leaks that LeakSanitizer is to ignore in the Qt programs and tests: fontconfig keeps caches
// that Qt's font database never gives back. Only allocations made inside fontconfig match.
// Without the sanitizer nothing calls this.

extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
