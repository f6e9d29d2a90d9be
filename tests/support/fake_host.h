// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/host.h"

namespace kestrel::test {

// A host that records what the core showed and answers questions from a script.
class FakeHost : public Host {
public:
    struct Box {
        std::string text;
        MsgIcon icon;
        MsgButtons buttons;
    };

    void yield() override {
        ++yields;
        if (onYield) {
            onYield();
        }
    }
    bool windowVisible() const override { return visible; }
    bool hasEventLoop() const override { return eventLoop; }
    bool canAsk() const override { return askable; }
    void logLine(const std::string& line) override { logLines.push_back(line); }
    void setStatusText(int panel, const std::string& text) override {
        if (panel == 1) {
            status1 = text;
        }
    }
    void setCaptionSuffix(const std::string&) override {}
    void setTrayTip(const std::string&) override {}
    void showProgress(const std::string& title) override { progressTitles.push_back(title); }
    void updateProgress(const std::string& title, const std::string&, double, double) override {
        progressTitles.push_back(title);
    }
    void closeProgress() override {}
    void setFileCancellable(bool cancellable) override {
        fileCancellable = cancellable;
        fileCancellableHistory.push_back(cancellable);
    }
    // Answers with the next scripted answer, else with the safe default.
    MsgAnswer messageBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                         MsgAnswer safeDefault) override {
        boxes.push_back({text, icon, buttons});
        if (answers.empty()) {
            return safeDefault;
        }
        const MsgAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    // Takes the next scripted choice, else the safe default.
    int choiceBox(const std::string& text, const std::vector<std::string>& offered,
                  int safeDefault) override {
        boxes.push_back({text, MsgIcon::Question, MsgButtons::YesNoCancel});
        offers.push_back(offered);
        if (choices.empty()) {
            return safeDefault;
        }
        const int c = choices.front();
        choices.pop_front();
        return c;
    }
    void notice(const std::string& text, MsgIcon) override { notices.push_back(text); }
    std::function<void()> onYield;  // lets a test act in the middle of a long operation
    bool visible = false;
    bool eventLoop = false;
    bool askable = true;  // questions reach the scripted answers
    std::vector<std::string> notices;
    int yields = 0;
    std::vector<std::string> logLines;
    std::string status1;
    std::vector<std::string> progressTitles;
    // Whether "cancel this file" could act, now and at each change.
    bool fileCancellable = false;
    std::vector<bool> fileCancellableHistory;
    std::vector<Box> boxes;
    std::deque<MsgAnswer> answers;
    std::deque<int> choices;
    std::vector<std::vector<std::string>> offers;
};

}  // namespace kestrel::test
