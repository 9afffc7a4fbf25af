#include "store/unattended_user.h"

#include <gtest/gtest.h>
#include <sstream>

namespace kelvara {
namespace {

TEST(UnattendedUser, GivesNothingUpAndWritesMessagesAsOneLineEach) {
    std::ostringstream messages;
    TUnattendedUser user(messages);
    EXPECT_EQ(user.AskYesNoCancel("Do you want to save changes to current table first?"),
              TAnswer::Cancel);
    EXPECT_EQ(user.ChooseFileToOpen({"Open", {"Paradox Tables|*.db", 1}, true, true}),
              std::nullopt);
    EXPECT_EQ(user.ChooseFileToSave({"Backup", {"Paradox Tables|*.db", 1}, true, true}),
              std::nullopt);
    user.SetBusyCursor(true);
    user.ShowNotice("Reverting table to last saved version will\rlose all current changes.");
    user.ShowError("EDatabaseError: line\none");
    EXPECT_EQ(messages.str(), "Reverting table to last saved version will lose all current "
                              "changes.\nEDatabaseError: line one\n");
}

} // namespace
} // namespace kelvara
