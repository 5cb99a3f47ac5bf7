// A DLL the stand-in program links, found in the stand-in Qt prefix's bin\.
__declspec(dllexport) int standin_core_answer(void) {
    return 42;
}
