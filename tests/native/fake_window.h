// The main window as the commands see it, recording what they ask of it.
#pragma once

#include "cache/window_port.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace fake {

struct Box {
    std::wstring text;
    std::wstring title;
    cache::Buttons buttons;
    cache::Icon icon;
};

class Window : public cache::WindowPort {
  public:
    std::vector<Box> boxes;
    std::deque<cache::Answer> answers; // scripted replies; Ok when none left
    std::vector<std::wstring> events;  // state changes in order
    bool backupEnabled = true;
    bool restoreEnabled = true;
    bool countEnabled = false;
    std::wstring countText;
    bool busy = false;

    cache::Answer messageBox(const std::wstring& text, const std::wstring& title,
                             cache::Buttons buttons, cache::Icon icon) override {
        boxes.push_back({text, title, buttons, icon});
        events.push_back(L"box:" + text);
        guard.reset(); // as the window does: the files are done changing
        if (answers.empty()) return cache::Answer::Ok;
        const cache::Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    void setBackupEnabled(bool enabled) override {
        backupEnabled = enabled;
        events.push_back(enabled ? L"bak:on" : L"bak:off");
    }
    bool changing = false; // inside the span that may change files
    std::unique_ptr<platform::Held> guard;
    void beginChanges(const std::wstring&, std::unique_ptr<platform::Held> g) override {
        changing = true;
        guard = std::move(g);
    }
    void endChanges() override {
        changing = false;
        guard.reset();
    }
    void setRestoreEnabled(bool enabled) override {
        restoreEnabled = enabled;
        events.push_back(enabled ? L"restore:on" : L"restore:off");
    }
    void setCountEnabled(bool enabled) override {
        countEnabled = enabled;
        events.push_back(enabled ? L"count:on" : L"count:off");
    }
    void setCountText(const std::wstring& text) override { countText = text; }
    std::vector<std::wstring> progress;
    int keptAlive = 0; // heartbeats from long calls
    void keepAlive() override { ++keptAlive; }
    void showProgress(const std::wstring& text) override {
        progress.push_back(text);
        countText = text;
    }
    void setBusyCursor(bool b) override {
        busy = b;
        events.push_back(b ? L"cursor:wait" : L"cursor:arrow");
    }
    bool ending = false; // the session ends; set by a test, perhaps from a heartbeat
    bool sessionEnding() const override { return ending; }
};

} // namespace fake
