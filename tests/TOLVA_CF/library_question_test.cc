// The runtime library's Yes/No question goes to the library's message boxes while a dialog
// runs, and back to what it was afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TOLVA_CF/dialogs/dialog_services.h"
#include "qvr/requests/logger_requests.h"

namespace {

class AnsweringMessages final : public tolva::cf::MessageBoxes {
  public:
    explicit AnsweringMessages(bool yes) : yes_(yes) {}
    void warning(QWidget*, const std::string&) override {}
    bool question(QWidget*, const std::string& title, const std::string& text) override {
        asked.push_back(title + "|" + text);
        return yes_;
    }
    std::vector<std::string> asked;

  private:
    bool yes_;
};

// What the library would ask now (the question is put back as it was).
bool library_answer() {
    auto current = qvr::set_yes_no_question(nullptr);
    const bool yes =
        current && current("Reconfigure Loggers", "Do you wish to disable and re-enable loggers");
    qvr::set_yes_no_question(std::move(current));
    return yes;
}

TEST(LibraryQuestion, IsAskedWithTheDialogsMessageBoxesWhileTheScopeLives) {
    EXPECT_FALSE(library_answer());  // nobody to ask: No
    AnsweringMessages yes(true);
    {
        const tolva::cf::LibraryQuestionScope scope(nullptr, yes);
        EXPECT_TRUE(library_answer());
        AnsweringMessages no(false);
        {
            const tolva::cf::LibraryQuestionScope inner(nullptr, no);
            EXPECT_FALSE(library_answer());
        }
        EXPECT_TRUE(library_answer());
        EXPECT_EQ(no.asked.size(), 1u);
    }
    EXPECT_FALSE(library_answer());
    ASSERT_EQ(yes.asked.size(), 2u);
    EXPECT_EQ(yes.asked[0], "Reconfigure Loggers|Do you wish to disable and re-enable loggers");
}

TEST(LibraryQuestion, ABoxThatCannotAskAnswersNo) {
    class WarningsOnly final : public tolva::cf::MessageBoxes {
      public:
        void warning(QWidget*, const std::string&) override {}
    } boxes;
    const tolva::cf::LibraryQuestionScope scope(nullptr, boxes);
    EXPECT_FALSE(library_answer());
}

}  // namespace
