// The program's one window, frmdll: its controls, its handlers and what the
// commands need from it.
#pragma once

#include "app/command_run.h"
#include "app/layout.h"
#include "cache/folder_lists.h"
#include "cache/window_port.h"
#include "platform/handles.h"
#include "platform/services.h"

#include <windows.h>

#include <optional>
#include <string>

namespace app {

inline constexpr const wchar_t* windowCaption = L"Kestrum管理软件 V1.0";

// The maker's details, fictitious: the example.com domain is reserved and
// 555 numbers are never assigned.
inline constexpr const char* makerWebAddress = "http://www.example.com/kestrum";
inline constexpr const wchar_t* captionSuffix = L" | Kestrum 示例工作室 版权所有";
inline constexpr COLORREF advOverLabel = 0x000000FF;  // pure red
inline constexpr COLORREF advOverWindow = 0x00FF0000; // pure blue

// The advertisement label's text, as Form_Load builds it.
std::wstring advertisementText();

class Frmdll : public cache::WindowPort {
  public:
    explicit Frmdll(platform::Services& services);
    ~Frmdll() override;
    Frmdll(const Frmdll&) = delete;
    Frmdll& operator=(const Frmdll&) = delete;

    // Creates the window with its controls and runs Form_Load; the window
    // stays hidden until show().
    bool create(HINSTANCE instance);
    // Shows it centred with the focus on "还原".
    void show(int showCommand);
    HWND hwnd() const { return hwnd_; }
    HWND control(Control id) const { return controls_[static_cast<int>(id)]; }
    int dpi() const { return dpi_; }
    // The colour lbladv's text is drawn in now.
    COLORREF advTextColor() const;

    // Gives the window the first look at each key (key preview), then lets
    // the dialog manager handle Tab, Enter and Esc. True when consumed.
    bool preTranslateMessage(MSG& msg);

    // Handlers named after control and event.
    void Form_Load();
    void Form_KeyDown(int keyCode, int shift);
    void Form_MouseMove();
    void lbladv_MouseDown();
    void lbladv_MouseMove();
    void cmdBak_Click();
    void cmdRestore_Click();
    void cmdExit_Click();

    // The program-files lookup on its own (a restore keeps one search for
    // its whole run).
    std::wstring SearchedFile(const std::wstring& fName, const std::wstring& SearchPath);

    // cache::WindowPort
    cache::Answer messageBox(const std::wstring& text, const std::wstring& title,
                             cache::Buttons buttons, cache::Icon icon) override;
    void setBackupEnabled(bool enabled) override;
    void setRestoreEnabled(bool enabled) override;
    void beginChanges(const std::wstring& reason, std::unique_ptr<platform::Held> guard) override;
    void endChanges() override;
    void setCountEnabled(bool enabled) override;
    void setCountText(const std::wstring& text) override;
    void keepAlive() override;
    void showProgress(const std::wstring& text) override;
    void setBusyCursor(bool busy) override;
    bool sessionEnding() const override { return command_.sessionEnding(); }

    // The hidden folder enumerators.
    cache::FileList File1;
    cache::DirList Dir1;

  protected:
    // Before a box: a result box ends the span in which files change, and
    // keys typed meanwhile must not answer it.
    void beforeBox();

  private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void onCreate();
    void onCommand(int id, int code);
    LRESULT onCtlColorStatic(HDC dc, HWND control);
    bool onSetCursor(HWND under, int hitTest);
    // lbladv and Frame1 answer the mouse themselves: the label for its own
    // events, the frame so that its margin is not bare window surface.
    static LRESULT CALLBACK controlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void subclass(HWND child, WNDPROC& original);
    void setAdvColor(COLORREF color);
    void onDestroy();

    void createControls();
    void layoutControls();
    void applyFont();

    platform::Services& services_;
    HINSTANCE instance_ = nullptr;
    HWND hwnd_ = nullptr;
    HWND controls_[controlCount] = {};
    int dpi_ = 96;
    platform::GdiObject font_;
    platform::GdiObject logo_;
    platform::IconHandle bigIcon_;
    platform::IconHandle smallIcon_;
    HCURSOR linkCursor_ = nullptr; // shared resource cursor, not destroyed
    WNDPROC advProc_ = nullptr;    // the controls' own procedures, subclassed
    WNDPROC frameProc_ = nullptr;
    bool busyCursor_ = false; // the hourglass over the whole window
    CommandRun command_;
    std::optional<COLORREF> advColor_; // unset: the highlight system colour
};

} // namespace app
