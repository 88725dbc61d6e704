#pragma once
// Widgets need a QApplication. A configuration program that has none gets one for the
// duration of a dialog or a print job; it is destroyed afterwards and the program's C
// locale, which Qt replaces with the user's at start-up, is put back. Printing shows
// nothing, so without a display it runs on Qt's offscreen platform.
#include <memory>
#include <string>

class QApplication;

namespace tolva::cf {

enum class GuiUse { dialog, printing };

class GuiApplicationScope {
  public:
    explicit GuiApplicationScope(GuiUse use = GuiUse::dialog);
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
