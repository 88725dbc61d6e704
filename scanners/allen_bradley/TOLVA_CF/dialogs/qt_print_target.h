#pragma once
// The Qt back end of the printout: a print target on a QPrinter, a PDF file or a CUPS
// printer, in DejaVu Sans Mono sized so that a 160-column line fits the printable width.
#include <memory>
#include <string_view>

#include "TOLVA_CF/exports.h"
#include "TOLVA_CF/logic/printout_format.h"

namespace tolva::cf {

inline constexpr int kPrintColumns = static_cast<int>(kMaxPrintoutLine);

// Null with errno set when there is no application, printer or file to print on. The
// target's release member finishes the job and frees it.
TolvaPrintTarget* open_qt_print_target(std::string_view output);

// Qt's wait cursor for the life of the scope, when the program runs a GUI application.
class WaitCursorScope {
  public:
    WaitCursorScope();
    ~WaitCursorScope();
    WaitCursorScope(const WaitCursorScope&) = delete;
    WaitCursorScope& operator=(const WaitCursorScope&) = delete;

  private:
    bool set_ = false;
};

}  // namespace tolva::cf
