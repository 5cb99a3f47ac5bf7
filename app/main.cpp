// Glimmerly: press Print anywhere, get the picture's address.

#include "app/glimmerly_application.h"
#include "app/main_form.h"
#include "app/new_session_form.h"
#include "app/shared_state.h"
#include "editor/image_editor_form.h"
#include "platform/create_platform.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    // A second copy ends at once, silently.
    const auto instance = glimmerly::platform::AcquireInstanceGuard("Screenshot");
    if (!instance)
        return 0;

    glimmerly::GlimmerlyApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(true);

    std::unique_ptr<glimmerly::platform::Platform> platform;
    try {
        platform = glimmerly::platform::CreatePlatform();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Glimmerly braucht einen X11-Desktop: %s\n", e.what());
        return 1;
    }
    glimmerly::SharedState state;
    glimmerly::MainForm mainForm(state, *platform);
    glimmerly::NewSessionForm sessionForm(&mainForm);
    glimmerly::ImageEditorForm editor(platform->screen->Monitors(), &mainForm);
    mainForm.SetDialogs(&sessionForm, &editor);
    app.SetMessageHook(
        [&editor](QObject* receiver, QEvent* event) { return editor.AppMessage(receiver, event); });

    mainForm.show();
    const int result = app.exec();
    app.SetMessageHook({});
    mainForm.FormDestroy();
    return result;
}
