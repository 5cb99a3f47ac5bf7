// A DLL only the stand-in platform plugin links.
__declspec(dllexport) int standin_gui_answer(void) {
    return 7;
}
