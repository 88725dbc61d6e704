#pragma once
// The two things a dialog asks of the desktop: a warning message box and a help page. Tests
// put recorders in their place so that nothing blocks.
#include <filesystem>
#include <string>
#include <string_view>

class QWidget;

namespace tolva::cf {

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // A modal warning (exclamation icon) over `parent`.
    virtual void warning(QWidget* parent, const std::string& text) = 0;
};

class HelpPages {
  public:
    virtual ~HelpPages() = default;
    virtual void open(QWidget* parent, std::string_view topic) = 0;
};

// QMessageBox::warning, titled with the parent's window title.
class QtMessageBoxes final : public MessageBoxes {
  public:
    void warning(QWidget* parent, const std::string& text) override;
};

// Opens "<topic>.htm" beside `module_path` (help_page_path) with the desktop's URL
// handler; a missing page or a desktop that cannot open it is reported by `messages`.
class DesktopHelpPages final : public HelpPages {
  public:
    DesktopHelpPages(std::filesystem::path module_path, MessageBoxes& messages)
        : module_path_(std::move(module_path)), messages_(messages) {}
    void open(QWidget* parent, std::string_view topic) override;

  private:
    std::filesystem::path module_path_;
    MessageBoxes& messages_;
};

}  // namespace tolva::cf
