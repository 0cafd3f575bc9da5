#include "app/frmdll.h"
#include "app/result_box.h"

#include "cache/backup.h"
#include "cache/program_files.h"
#include "cache/restore.h"
#include "platform/win32_services.h"
#include "resources/resource.h"

#include <windowsx.h>

namespace app {

namespace {

constexpr wchar_t windowClassName[] = L"KestrumFrmdll";
// No WS_CLIPCHILDREN: the frame and the label inside it overlap as
// siblings, and clipping leaves the parts between them unpainted.
constexpr DWORD windowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD windowExStyle = 0;

constexpr wchar_t aboutText[] =
    L"用法介绍:本软件用于备份与还原windows系统的dllcache功能。-R 自动还原  -D\u3000自毁";

struct ControlClass {
    const wchar_t* className;
    DWORD style;
    int id;
    const wchar_t* text;
};

ControlClass classOf(Control id) {
    constexpr DWORD label = WS_CHILD | WS_VISIBLE | SS_LEFT;
    switch (id) {
    // SS_NOTIFY on every static: mouse events go to the control under the
    // pointer, so the window's own mouse move means bare surface only.
    case Control::Image1:
        return {L"STATIC", WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_NOTIFY, IDC_IMAGE1, L""};
    case Control::lblabout:
        return {L"STATIC", label | SS_NOTIFY, IDC_LBLABOUT, aboutText};
    case Control::Frame1:
        return {L"BUTTON", WS_CHILD | WS_VISIBLE | BS_GROUPBOX, IDC_FRAME1, L""};
    case Control::lbladv:
        return {L"STATIC", label | SS_NOTIFY | SS_NOPREFIX, IDC_LBLADV, L""};
    case Control::cmdBak:
        return {L"BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, IDC_CMDBAK, L"备份"};
    case Control::cmdRestore:
        return {L"BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, IDC_CMDRESTORE,
                L"还原"};
    case Control::cmdExit:
        return {L"BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, IDC_CMDEXIT,
                L"退出"};
    case Control::lblcount:
        return {L"STATIC", label | SS_NOTIFY | WS_DISABLED, IDC_LBLCOUNT, L""};
    }
    return {L"STATIC", label, 0, L""};
}

// The window's DPI: per window where the system can tell (Windows 10),
// else the screen's.
int dpiFor(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow =
        platform::systemFunction<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
    if (getDpiForWindow != nullptr && hwnd != nullptr) {
        const UINT dpi = getDpiForWindow(hwnd);
        if (dpi != 0) return static_cast<int>(dpi);
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

} // namespace

std::wstring advertisementText() {
    const std::wstring web(makerWebAddress,
                           makerWebAddress + std::char_traits<char>::length(makerWebAddress));
    return L"  Kestrum 示例工作室出品,专业守护您的系统文件" + std::wstring(10, L' ') +
           L"咨询电话:555-0100  QQ：5550100\r\n" + std::wstring(23, L' ') +
           L"E-mail:kestrum@example.com\r\n\r\n" + std::wstring(4, L' ') +
           L"更多详情，请点击网站:" + web;
}

Frmdll::Frmdll(platform::Services& services)
    : File1(services), Dir1(services), services_(services) {}

Frmdll::~Frmdll() {
    if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
}

bool Frmdll::create(HINSTANCE instance) {
    instance_ = instance;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &Frmdll::windowProc;
    // Dialog extra bytes: the window is run by the dialog manager, which
    // gives Tab, Enter, Esc and the default push button their usual meaning.
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = instance;
    wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = ::GetSysColorBrush(COLOR_WINDOW);
    wc.lpszClassName = windowClassName;
    ::RegisterClassExW(&wc); // fails harmlessly when already registered

    dpi_ = dpiFor(nullptr);
    RECT outer = {0, 0, twipsToPixels(clientWidthTwips, dpi_),
                  twipsToPixels(clientHeightTwips, dpi_)};
    ::AdjustWindowRectEx(&outer, windowStyle, FALSE, windowExStyle);
    hwnd_ = ::CreateWindowExW(windowExStyle, windowClassName, windowCaption, windowStyle,
                              CW_USEDEFAULT, CW_USEDEFAULT, outer.right - outer.left,
                              outer.bottom - outer.top, nullptr, nullptr, instance, this);
    return hwnd_ != nullptr;
}

void Frmdll::show(int showCommand) {
    // Centred on the screen's work area.
    RECT work = {};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT r = {};
    ::GetWindowRect(hwnd_, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    ::SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - w) / 2,
                   work.top + (work.bottom - work.top - h) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::ShowWindow(hwnd_, showCommand);
    // Through the dialog manager, so "还原" also becomes the default button.
    ::SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control(Control::cmdRestore)),
                   TRUE);
    ::UpdateWindow(hwnd_);
}

bool Frmdll::preTranslateMessage(MSG& msg) {
    if (hwnd_ == nullptr) return false;
    if ((msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) &&
        (msg.hwnd == hwnd_ || ::IsChild(hwnd_, msg.hwnd))) {
        const int shift = (::GetKeyState(VK_SHIFT) < 0 ? 1 : 0) |
                          (::GetKeyState(VK_CONTROL) < 0 ? 2 : 0) |
                          (::GetKeyState(VK_MENU) < 0 ? 4 : 0);
        Form_KeyDown(static_cast<int>(msg.wParam), shift);
    }
    return ::IsDialogMessageW(hwnd_, &msg) != FALSE;
}

LRESULT CALLBACK Frmdll::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* self = static_cast<Frmdll*>(create->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Frmdll*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return ::DefDlgProcW(hwnd, message, wParam, lParam);
    return self->handleMessage(message, wParam, lParam);
}

LRESULT Frmdll::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT answered = 0;
    if (command_.filter(message, wParam, lParam, answered)) return answered;
    switch (message) {
    case WM_CREATE:
        onCreate();
        return 0;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CTLCOLORSTATIC:
        return onCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_CTLCOLORDLG:
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
    case WM_SETCURSOR:
        if (onSetCursor(reinterpret_cast<HWND>(wParam), LOWORD(lParam))) return TRUE;
        break;
    case WM_MOUSEMOVE:
        Form_MouseMove();
        return 0;
    case WM_CLOSE:
        cmdExit_Click();
        return 0;
    case WM_DESTROY:
        onDestroy();
        return 0;
    case WM_NCDESTROY: {
        const LRESULT r = ::DefDlgProcW(hwnd_, message, wParam, lParam);
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        return r;
    }
    default:
        break;
    }
    return ::DefDlgProcW(hwnd_, message, wParam, lParam);
}

void Frmdll::onCreate() {
    command_.attach(hwnd_);
    dpi_ = dpiFor(hwnd_);
    bigIcon_.reset(static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXICON),
                                                   ::GetSystemMetrics(SM_CYICON), 0)));
    smallIcon_.reset(static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_APP),
                                                     IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                     ::GetSystemMetrics(SM_CYSMICON), 0)));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
    linkCursor_ = ::LoadCursorW(instance_, MAKEINTRESOURCEW(IDC_LINK));

    createControls();
    applyFont();
    layoutControls();
    Form_Load();
}

void Frmdll::createControls() {
    for (const ControlLayout& c : layoutTable) {
        const ControlClass k = classOf(c.id);
        HWND child = ::CreateWindowExW(0, k.className, k.text, k.style, 0, 0, 0, 0, hwnd_,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(k.id)),
                                       instance_, nullptr);
        controls_[static_cast<int>(c.id)] = child;
    }
    subclass(control(Control::lbladv), advProc_);
    subclass(control(Control::Frame1), frameProc_);
    logo_.reset(::LoadImageW(instance_, MAKEINTRESOURCEW(IDB_LOGO), IMAGE_BITMAP, 0, 0, 0));
    ::SendMessageW(control(Control::Image1), STM_SETIMAGE, IMAGE_BITMAP,
                   reinterpret_cast<LPARAM>(logo_.get()));
}

void Frmdll::layoutControls() {
    for (const ControlLayout& c : layoutTable) {
        const PixelRect r = clientRect(c.id, dpi_);
        UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
        // The logo keeps its natural size: it is never stretched.
        if (c.kind == Kind::Picture) flags |= SWP_NOSIZE;
        ::SetWindowPos(control(c.id), nullptr, r.left, r.top, r.width, r.height, flags);
    }
}

void Frmdll::applyFont() {
    // One font for the window and every control: the system's default
    // user-interface face at 9 points (SimSun 9 pt on Simplified Chinese
    // Windows), small enough for the advertisement's five lines to fit.
    LOGFONTW face = {};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(face), &face);
    face.lfHeight = -::MulDiv(9, dpi_, 72);
    face.lfWidth = 0;
    font_.reset(::CreateFontIndirectW(&face));
    HGDIOBJ font = font_ ? font_.get() : ::GetStockObject(DEFAULT_GUI_FONT);
    ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    for (HWND child : controls_)
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void Frmdll::onCommand(int id, int code) {
    if (code != BN_CLICKED) return;
    switch (id) {
    case IDC_CMDBAK:
        cmdBak_Click();
        break;
    case IDC_CMDRESTORE:
        cmdRestore_Click();
        break;
    case IDC_CMDEXIT:
        cmdExit_Click();
        break;
    default:
        break;
    }
}

LRESULT Frmdll::onCtlColorStatic(HDC dc, HWND child) {
    COLORREF text = ::GetSysColor(COLOR_WINDOWTEXT);
    if (child == control(Control::lblabout))
        text = ::GetSysColor(COLOR_BTNTEXT);
    else if (child == control(Control::lbladv))
        text = advTextColor();
    ::SetTextColor(dc, text);
    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
}

bool Frmdll::onSetCursor(HWND under, int hitTest) {
    // While busy the label is no link: nothing there answers a click.
    if (busyCursor_) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
        return true;
    }
    if (under == control(Control::lbladv)) {
        ::SetCursor(linkCursor_);
        return true;
    }
    if (hitTest != HTCLIENT) return false;
    ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
    return true;
}

// Through the window procedure itself: Windows 2000's common controls
// export the subclassing helpers by ordinal only.
void Frmdll::subclass(HWND child, WNDPROC& original) {
    ::SetWindowLongPtrW(child, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    original = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Frmdll::controlProc)));
}

LRESULT CALLBACK Frmdll::controlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Frmdll*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    const bool isLabel = hwnd == self->control(Control::lbladv);
    const WNDPROC original = isLabel ? self->advProc_ : self->frameProc_;
    if (isLabel) {
        switch (message) {
        case WM_MOUSEMOVE:
            self->lbladv_MouseMove();
            return 0;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_XBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDBLCLK:
        case WM_XBUTTONDBLCLK:
            self->lbladv_MouseDown();
            return 0;
        default:
            break;
        }
    } else if (message == WM_NCHITTEST) {
        // A group box lets the mouse through to its parent; Frame1 keeps it,
        // except over the label it holds, which lies beneath it.
        RECT label = {};
        ::GetWindowRect(self->control(Control::lbladv), &label);
        const POINT p = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        return ::PtInRect(&label, p) ? HTTRANSPARENT : HTCLIENT;
    }
    if (message == WM_NCDESTROY)
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    return ::CallWindowProcW(original, hwnd, message, wParam, lParam);
}

void Frmdll::onDestroy() {
    ::PostQuitMessage(0);
}

COLORREF Frmdll::advTextColor() const {
    return advColor_ ? *advColor_ : ::GetSysColor(COLOR_HIGHLIGHT);
}

void Frmdll::setAdvColor(COLORREF color) {
    if (advColor_ == color) return;
    advColor_ = color;
    ::InvalidateRect(control(Control::lbladv), nullptr, TRUE);
}

void Frmdll::Form_Load() {
    ::SetWindowTextW(control(Control::lbladv), advertisementText().c_str());
}

void Frmdll::Form_KeyDown(int keyCode, int shift) {
    constexpr int shiftAndCtrl = 3;
    if (keyCode != VK_F12 || shift != shiftAndCtrl) return;
    const int length = ::GetWindowTextLengthW(hwnd_);
    std::wstring caption(static_cast<std::size_t>(length) + 1, L'\0');
    caption.resize(static_cast<std::size_t>(::GetWindowTextW(hwnd_, &caption[0], length + 1)));
    ::SetWindowTextW(hwnd_, (caption + captionSuffix).c_str());
}

void Frmdll::Form_MouseMove() {
    setAdvColor(advOverWindow);
    busyCursor_ = false; // the window's pointer back to the default arrow
    ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
}

void Frmdll::lbladv_MouseDown() {
    // Shown normally: a browser that is not running yet would otherwise
    // start hidden, and the click would seem to do nothing.
    services_.shellOpen(makerWebAddress, SW_SHOWNORMAL);
}

void Frmdll::lbladv_MouseMove() {
    setAdvColor(advOverLabel);
}

// A click that reaches the window while a command runs (sent by another
// program, say) starts nothing.
void Frmdll::cmdBak_Click() {
    const CommandRun::Scope one(command_);
    if (one.entered()) cache::runBackup(services_, *this, File1);
}

void Frmdll::cmdRestore_Click() {
    const CommandRun::Scope one(command_);
    if (one.entered()) cache::runRestore(services_, *this, Dir1);
}

std::wstring Frmdll::SearchedFile(const std::wstring& fName, const std::wstring& SearchPath) {
    cache::ProgramFilesSearch search(services_, Dir1);
    return search.SearchedFile(fName, SearchPath);
}

void Frmdll::cmdExit_Click() {
    if (hwnd_ != nullptr && !command_.running()) ::DestroyWindow(hwnd_);
}

cache::Answer Frmdll::messageBox(const std::wstring& text, const std::wstring& title,
                                 cache::Buttons buttons, cache::Icon icon) {
    // No one is left to read it.
    if (command_.sessionEnding()) return cache::Answer::Cancel;
    beforeBox();
    return showMessageBox(hwnd_, text, title, buttons, icon);
}

void Frmdll::beforeBox() {
    if (!command_.working()) return;
    command_.endWork();
    command_.dropInput();
}

void Frmdll::setBackupEnabled(bool enabled) {
    ::EnableWindow(control(Control::cmdBak), enabled ? TRUE : FALSE);
}

void Frmdll::setRestoreEnabled(bool enabled) {
    ::EnableWindow(control(Control::cmdRestore), enabled ? TRUE : FALSE);
}

void Frmdll::beginChanges(const std::wstring& reason, std::unique_ptr<platform::Held> guard) {
    command_.beginWork(reason.c_str(), std::move(guard));
}

void Frmdll::endChanges() {
    command_.endWork();
}

void Frmdll::setCountEnabled(bool enabled) {
    ::EnableWindow(control(Control::lblcount), enabled ? TRUE : FALSE);
}

void Frmdll::setCountText(const std::wstring& text) {
    ::SetWindowTextW(control(Control::lblcount), text.c_str());
}

void Frmdll::keepAlive() {
    if (command_.dueForPump()) command_.pump();
}

void Frmdll::showProgress(const std::wstring& text) {
    if (!command_.dueForPump()) return;
    setCountText(text);
    command_.pump();
}

void Frmdll::setBusyCursor(bool busy) {
    busyCursor_ = busy;
    command_.restartPace();
    ::SetCursor(::LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

} // namespace app
