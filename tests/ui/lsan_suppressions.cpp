// The leak checker's built-in list for the window tests: fontconfig keeps its font caches
// for the life of the process and frees them only in FcFini, which Qt never calls.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
