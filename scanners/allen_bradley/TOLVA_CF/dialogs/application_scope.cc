#include "TOLVA_CF/dialogs/application_scope.h"

#include <QApplication>
#include <QCoreApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace tolva::cf {

namespace {

bool has_value(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Without any of these Qt's default platform cannot connect and aborts the process.
bool display_configured() {
    return has_value("QT_QPA_PLATFORM") || has_value("DISPLAY") || has_value("WAYLAND_DISPLAY");
}

// QApplication keeps references to its arguments for its whole life.
int g_argc = 1;
char g_program_name[] = "TOLVA_CF";
char* g_argv[] = {g_program_name, nullptr};
int g_offscreen_argc = 3;
char g_platform_option[] = "-platform";
char g_offscreen[] = "offscreen";
char* g_offscreen_argv[] = {g_program_name, g_platform_option, g_offscreen, nullptr};

}  // namespace

GuiApplicationScope::GuiApplicationScope(GuiUse use) {
    const char* what = use == GuiUse::dialog ? "the dialog cannot be shown" : "nothing can be printed";
    if (QCoreApplication::instance() == nullptr) {
        const bool display = display_configured();
        if (!display && use == GuiUse::dialog) {
            std::fprintf(stderr,
                         "TOLVA_CF: no display is configured (DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM); %s\n",
                         what);
            return;
        }
        if (const char* locale = std::setlocale(LC_ALL, nullptr)) saved_locale_ = locale;
        own_ = display ? std::make_unique<QApplication>(g_argc, g_argv)
                       : std::make_unique<QApplication>(g_offscreen_argc, g_offscreen_argv);
    }
    ready_ = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
    if (!ready_) std::fprintf(stderr, "TOLVA_CF: the program runs no widget application; %s\n", what);
}

GuiApplicationScope::~GuiApplicationScope() {
    if (!own_) return;
    own_.reset();
    if (!saved_locale_.empty()) std::setlocale(LC_ALL, saved_locale_.c_str());
}

}  // namespace tolva::cf
