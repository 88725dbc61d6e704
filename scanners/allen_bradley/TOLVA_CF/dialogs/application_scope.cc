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

}  // namespace

GuiApplicationScope::GuiApplicationScope() {
    if (QCoreApplication::instance() == nullptr) {
        if (!display_configured()) {
            std::fprintf(stderr, "TOLVA_CF: no display is configured; the dialog cannot be shown\n");
            return;
        }
        if (const char* locale = std::setlocale(LC_ALL, nullptr)) saved_locale_ = locale;
        own_ = std::make_unique<QApplication>(g_argc, g_argv);
    }
    ready_ = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
    if (!ready_)
        std::fprintf(stderr,
                     "TOLVA_CF: the program runs no widget application; the dialog cannot be shown\n");
}

GuiApplicationScope::~GuiApplicationScope() {
    if (!own_) return;
    own_.reset();
    if (!saved_locale_.empty()) std::setlocale(LC_ALL, saved_locale_.c_str());
}

}  // namespace tolva::cf
