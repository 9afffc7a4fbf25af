#include "store/user_interaction.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

TEST(ErrorMessageText, AppendsFullStopAfterCharactersSortingAfterIt) {
    struct Case {
        const char* message;
        const char* shown;
    };
    const Case cases[] = {
        {"", ""},
        {"Field 'Turkish' not found", "Field 'Turkish' not found."},
        {"Already ends.", "Already ends."},
        {"Question?", "Question?."},
        {"Exclaims!", "Exclaims!"},   // '!' sorts before '.'
        {"Closes (x)", "Closes (x)"}, // ')' sorts before '.'
        {"Code 42", "Code 42."},
        {"path/", "path/."}, // '/' sorts right after '.'
        {"dash-", "dash-"},
        {"\xD0\xB4\xD0\xB0", "\xD0\xB4\xD0\xB0."}, // a Cyrillic last character
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ErrorMessageText(c.message), c.shown) << c.message;
    }
}

TEST(BusyCursor, IsResetWhenTheGuardedStepThrows) {
    struct Recorder : TUserInteraction {
        TAnswer AskYesNoCancel(const std::string&) override { return TAnswer::Cancel; }
        void ShowNotice(const std::string&) override {}
        void ShowError(const std::string&) override {}
        std::optional<std::string> ChooseFileToOpen(const TOpenFileRequest&) override { return {}; }
        std::optional<std::string> ChooseFileToSave(const TSaveFileRequest&) override { return {}; }
        void SetBusyCursor(bool busy) override { calls += busy ? "on " : "off "; }
        std::string calls;
    } user;
    try {
        TBusyCursor busy(user);
        throw std::runtime_error("copy failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(user.calls, "on off ");
}

} // namespace
} // namespace kelvara
