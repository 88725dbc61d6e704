#pragma once
// Widgets need a QApplication. A configuration program that has none gets one for the
// duration of a dialog; it is destroyed afterwards and the program's C locale, which Qt
// replaces with the user's at start-up, is put back.
#include <memory>
#include <string>

class QApplication;

namespace tolva::cf {

class GuiApplicationScope {
  public:
    GuiApplicationScope();
    ~GuiApplicationScope();
    GuiApplicationScope(const GuiApplicationScope&) = delete;
    GuiApplicationScope& operator=(const GuiApplicationScope&) = delete;

    // A widget application exists (the program's or this scope's). It does not when the
    // program runs a non-widget application, or when no display is configured at all (Qt
    // would end the process).
    bool ready() const { return ready_; }
    bool owns_application() const { return own_ != nullptr; }

  private:
    std::unique_ptr<QApplication> own_;
    std::string saved_locale_;
    bool ready_ = false;
};

}  // namespace tolva::cf
