// The stand-in platform plugin: it links a DLL the program itself does not, as qwindows.dll links
// Qt6Gui.
__declspec(dllimport) int standin_gui_answer(void);
__declspec(dllexport) int standin_plugin_answer(void) {
    return standin_gui_answer();
}
