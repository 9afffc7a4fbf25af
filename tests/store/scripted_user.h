#pragma once
// A scripted stand-in for the user: records every question, notice and file choice in order and
// answers from a script. Running out of script fails the test and answers Cancel.

#include "store/user_interaction.h"

#include <deque>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace kelvara::testing {

class TScriptedUser : public TUserInteraction {
public:
    // What was shown, in order: "ask: <text>", "notice: <text>", "error: <text>",
    // "open: <title>", "save: <title>", "busy on", "busy off".
    std::vector<std::string> Log;
    std::vector<TOpenFileRequest> OpenRequests;
    std::vector<TSaveFileRequest> SaveRequests;

    TScriptedUser& Answer(TAnswer answer) {
        answers_.push_back(answer);
        return *this;
    }
    // A chosen file, or nothing for Cancel, for the next file dialog.
    TScriptedUser& Choose(std::optional<std::string> path) {
        files_.push_back(std::move(path));
        return *this;
    }
    bool ScriptUsedUp() const { return answers_.empty() && files_.empty(); }

    TAnswer AskYesNoCancel(const std::string& text) override {
        Log.push_back("ask: " + text);
        if (answers_.empty()) {
            ADD_FAILURE() << "unexpected question: " << text;
            return TAnswer::Cancel;
        }
        const TAnswer answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    void ShowNotice(const std::string& text) override { Log.push_back("notice: " + text); }
    void ShowError(const std::string& text) override { Log.push_back("error: " + text); }
    std::optional<std::string> ChooseFileToOpen(const TOpenFileRequest& request) override {
        Log.push_back("open: " + request.Title);
        OpenRequests.push_back(request);
        return NextFile(request.Title);
    }
    std::optional<std::string> ChooseFileToSave(const TSaveFileRequest& request) override {
        Log.push_back("save: " + request.Title);
        SaveRequests.push_back(request);
        return NextFile(request.Title);
    }
    void SetBusyCursor(bool busy) override { Log.push_back(busy ? "busy on" : "busy off"); }

private:
    std::optional<std::string> NextFile(const std::string& title) {
        if (files_.empty()) {
            ADD_FAILURE() << "unexpected file dialog: " << title;
            return std::nullopt;
        }
        auto file = files_.front();
        files_.pop_front();
        return file;
    }

    std::deque<TAnswer> answers_;
    std::deque<std::optional<std::string>> files_;
};

} // namespace kelvara::testing
