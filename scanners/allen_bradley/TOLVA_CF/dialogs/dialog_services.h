#pragma once
// The things a dialog asks of the desktop: a warning message box, a Yes/No question and a
// help page. Tests put recorders in their place so that nothing blocks.
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

class QWidget;

namespace tolva::cf {

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // A modal warning (exclamation icon) over `parent`.
    virtual void warning(QWidget* parent, const std::string& text) = 0;
    // A modal Yes/No question: true for Yes. A box that cannot ask answers No.
    virtual bool question(QWidget* /*parent*/, const std::string& /*title*/, const std::string& /*text*/) {
        return false;
    }
};

// While it lives, the runtime library's Yes/No questions (the loggers disabled around
// processor and device control) are asked with `messages` over `parent`; the question that
// was set before is put back at the end.
class LibraryQuestionScope {
  public:
    LibraryQuestionScope(QWidget* parent, MessageBoxes& messages);
    ~LibraryQuestionScope();
    LibraryQuestionScope(const LibraryQuestionScope&) = delete;
    LibraryQuestionScope& operator=(const LibraryQuestionScope&) = delete;

  private:
    std::function<bool(const std::string&, const std::string&)> previous_;
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
    bool question(QWidget* parent, const std::string& title, const std::string& text) override;
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
