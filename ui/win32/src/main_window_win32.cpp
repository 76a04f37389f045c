#include "zk/ui_win32/main_window_win32.hpp"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <thread>

#include "dialogs.hpp"
#include "text.hpp"
#include "twips.hpp"
#include "zk/ui/window_design.hpp"
#include "zk/ui_win32/preview_window.hpp"
#include "zk/ui_win32/report_window.hpp"

namespace zk::ui_win32 {

using ui::Control;

namespace {

using ui::designOf;
using Design = ui::ControlDesign;
constexpr const auto& kDesign = ui::kWindowDesign;
constexpr int kClientWidth = ui::kClientWidthTwips;
constexpr int kClientHeight = ui::kClientHeightTwips;

std::size_t index(Control c) {
    return static_cast<std::size_t>(c);
}

int idOf(Control c) {
    return static_cast<int>(c) + 100;
}

bool isOption(Control c) {
    return c >= Control::Option1 && c <= Control::Option4;
}

bool isCheckBox(Control c) {
    return c >= Control::chkData && c <= Control::chkHeader;
}

bool inFrame(Control c, Control frame) {
    return designOf(c).container == frame && c != frame;
}

// The menu items' ids.
enum MenuId : int {
    kFileExit = 2001,
    kViewPreview,
    kViewReport,
    kOptionsSeconds,
    kOptionsConductance,
    kOptionsExport,
    kHelpAbout,
};

// Posted to the window: load the next recording of pendingLoads_.
constexpr UINT kLoadPending = WM_APP + 1;

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_ACCEPTFILES;
constexpr const wchar_t* kClassName = L"zkFileExportMain";

std::wstring windowText(HWND w) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(w, text.data(), static_cast<int>(text.size()))));
    return text;
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The "description\0pattern\0" of a filter "description|pattern"; a folder type matches no file.
std::wstring filterOf(const std::string& type) {
    const auto bar = type.rfind('|');
    std::wstring pattern = widen(type.substr(bar + 1));
    return widen(type.substr(0, bar)) + L'\0' + (pattern.empty() ? L":" : pattern) + L'\0';
}

// ---- The save dialog: the name follows the file type; a folder type returns where it points.

struct SaveState {
    std::vector<bool> folder;
    std::vector<std::wstring> extensions;  // "csv"; empty for a folder
    std::size_t type = 0;
    bool folderChosen = false;
    std::wstring pointedAt;
    WNDPROC dialogProc = nullptr;
};

std::wstring dialogText(HWND dialog, UINT message) {
    wchar_t buffer[32768];
    const LRESULT n =
        SendMessageW(dialog, message, std::size(buffer), reinterpret_cast<LPARAM>(buffer));
    return n > 0 ? std::wstring(buffer) : std::wstring();
}

void typeChanged(HWND dialog, SaveState& state, std::size_t type) {
    if (type >= state.folder.size()) {
        return;
    }
    state.type = type;
    const bool folder = state.folder[type];
    SendMessageW(dialog, CDM_SETDEFEXT, 0,
                 reinterpret_cast<LPARAM>(state.extensions[type].c_str()));
    SendMessageW(dialog, CDM_SETCONTROLTEXT, IDOK,
                 reinterpret_cast<LPARAM>(folder ? L"Choose Folder..." : L"&Save"));
    std::wstring name = dialogText(dialog, CDM_GETSPEC);
    if (name.empty()) {
        return;
    }
    // Whatever file type's extension the name has goes, then the new type's comes.
    for (const std::wstring& ext : state.extensions) {
        if (!ext.empty() && name.size() > ext.size() + 1 &&
            _wcsicmp(name.c_str() + name.size() - ext.size() - 1, (L"." + ext).c_str()) == 0) {
            name.resize(name.size() - ext.size() - 1);
            break;
        }
    }
    if (!folder) {
        name += L"." + state.extensions[type];
    }
    for (int box : {cmb13, edt1}) {
        SendMessageW(dialog, CDM_SETCONTROLTEXT, static_cast<WPARAM>(box),
                     reinterpret_cast<LPARAM>(name.c_str()));
    }
}

LRESULT CALLBACK saveDialogProc(HWND dialog, UINT message, WPARAM w, LPARAM l) {
    auto* state = static_cast<SaveState*>(GetPropW(dialog, L"zkSaveState"));
    if (message == WM_COMMAND && LOWORD(w) == IDOK && state->folder[state->type]) {
        // The folder selected or typed when it exists, else the folder shown, ending in "\".
        std::wstring shown = dialogText(dialog, CDM_GETFOLDERPATH);
        const std::wstring typed = dialogText(dialog, CDM_GETSPEC);
        if (!shown.empty() && shown.back() != L'\\') {
            shown += L'\\';
        }
        state->pointedAt = shown;
        if (!typed.empty()) {
            const bool absolute = typed.size() > 1 && (typed[1] == L':' || typed[0] == L'\\');
            const std::wstring candidate = absolute ? typed : shown + typed;
            if (isFolder(candidate)) {
                state->pointedAt = candidate;
            }
        }
        state->folderChosen = true;
        return CallWindowProcW(state->dialogProc, dialog, WM_COMMAND, IDCANCEL, 0);
    }
    const WNDPROC proc = state->dialogProc;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
        RemovePropW(dialog, L"zkSaveState");
        forgetName(dialog);
    }
    return CallWindowProcW(proc, dialog, message, w, l);
}

UINT_PTR CALLBACK saveHook(HWND hook, UINT message, WPARAM, LPARAM l) {
    if (message == WM_INITDIALOG) {
        const auto* ofn = reinterpret_cast<const OPENFILENAMEW*>(l);
        auto* state = reinterpret_cast<SaveState*>(ofn->lCustData);
        HWND dialog = GetParent(hook);
        SetPropW(dialog, L"zkSaveState", state);
        setName(dialog, "cdlFile");
        state->dialogProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&saveDialogProc)));
        return 0;
    }
    if (message == WM_NOTIFY) {
        const auto* note = reinterpret_cast<const OFNOTIFYW*>(l);
        if (note->hdr.code == CDN_TYPECHANGE) {
            HWND dialog = GetParent(hook);
            auto* state = static_cast<SaveState*>(GetPropW(dialog, L"zkSaveState"));
            typeChanged(dialog, *state, note->lpOFN->nFilterIndex - 1);
        }
    }
    return 0;
}

UINT_PTR CALLBACK openHook(HWND hook, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        setName(GetParent(hook), "cdlFile");
    } else if (message == WM_DESTROY) {
        forgetName(GetParent(hook));
    }
    return 0;
}

struct FolderStart {
    std::wstring title;
    std::wstring path;
};

int CALLBACK folderCallback(HWND dialog, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED) {
        const auto* start = reinterpret_cast<const FolderStart*>(data);
        SetWindowTextW(dialog, start->title.c_str());
        setName(dialog, "cdlFolder");
        if (!start->path.empty()) {
            SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE,
                         reinterpret_cast<LPARAM>(start->path.c_str()));
        }
    }
    return 0;
}

}  // namespace

Win32MainWindow::Win32MainWindow(std::filesystem::path programDir)
    : programDir_(std::move(programDir)), logic_(*this) {
    INITCOMMONCONTROLSEX common{
        sizeof(INITCOMMONCONTROLSEX),
        ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&common);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = &Win32MainWindow::windowProc;
    cls.hInstance = instance;
    cls.hIcon = programIcon(GetSystemMetrics(SM_CXICON));
    cls.hIconSm = programIcon(GetSystemMetrics(SM_CXSMICON));
    cls.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = kClassName;
    RegisterClassExW(&cls);
    buildMenus();
    window_ =
        CreateWindowExW(kExStyle, kClassName, widen(ui::MainWindow::kCaption).c_str(), kStyle,
                        CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr, menu_, instance, this);
    dpi_ = dpiOf(window_);
    setName(window_, "frmMain");
    makeFonts();
    buildControls();
    layout();
    logic_.Form_Load();
}

Win32MainWindow::~Win32MainWindow() {
    preview_.reset();
    report_.reset();
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
    for (HFONT f : {messageFont_, dialogFont_, boldFont_}) {
        DeleteObject(f);
    }
}

void Win32MainWindow::show(int how) {
    ShowWindow(window_, how);
    // The control with the focus is marked from the start, not only after the first key press.
    SendMessageW(window_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    UpdateWindow(window_);
    SetFocus(control(Control::cmdLoad));
}

void Win32MainWindow::loadLater(const std::string& path) {
    pendingLoads_.push_back(path);
    PostMessageW(window_, kLoadPending, 0, 0);
}

bool Win32MainWindow::preTranslate(MSG& message) {
    if (message.hwnd == nullptr) {
        return false;
    }
    HWND root = GetAncestor(message.hwnd, GA_ROOT);
    const bool ours = root == window_ || (preview_ && root == preview_->handle()) ||
                      (report_ && root == report_->handle());
    return ours && root != nullptr && IsDialogMessageW(root, &message);
}

void Win32MainWindow::buildMenus() {
    // Every menu and item has an access key; F10 opens the first menu, as the system does.
    menu_ = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, kFileExit, L"E&xit");
    AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    HMENU view = CreatePopupMenu();
    AppendMenuW(view, MF_STRING | MF_GRAYED, kViewPreview, L"Recording &Preview");
    AppendMenuW(view, MF_STRING | MF_GRAYED, kViewReport, L"Recording &Report");
    AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(view), L"&View");
    HMENU options = CreatePopupMenu();
    AppendMenuW(options, MF_STRING, kOptionsSeconds, L"&Time(sec) Column");
    AppendMenuW(options, MF_STRING, kOptionsConductance, L"&Conductance(uS) Column");
    AppendMenuW(options, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(options, MF_STRING, kOptionsExport, L"&Export Options...");
    AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(options), L"&Options");
    HMENU help = CreatePopupMenu();
    AppendMenuW(help, MF_STRING, kHelpAbout, L"&About");
    AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"&Help");
}

void Win32MainWindow::buildControls() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    for (const Design& d : kDesign) {
        const char* caption = d.caption;
        for (const ui::RateOption& rate : ui::kRateOptions) {
            caption = rate.option == d.control ? rate.caption : caption;
        }
        captions_[index(d.control)] = caption;
        const wchar_t* cls = L"BUTTON";
        DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
        DWORD exStyle = 0;
        switch (d.control) {
            case Control::cmdLoad:
            case Control::cmdExport:
                style |= BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP;
                break;
            case Control::lblSource:
                style |= SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS | SS_NOTIFY | WS_GROUP;
                cls = L"STATIC";
                break;
            case Control::lblHeading:
            case Control::lblColumns:
                style |= SS_LEFT | SS_NOPREFIX | WS_GROUP;
                cls = L"STATIC";
                break;
            case Control::Frame1:
            case Control::Frame2:
                style |= BS_GROUPBOX | WS_GROUP;
                break;
            case Control::txtHeading:
                style |= ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP;
                exStyle = WS_EX_CLIENTEDGE;
                cls = L"EDIT";
                break;
            default:
                if (isOption(d.control)) {
                    style |= BS_AUTORADIOBUTTON | (d.control == Control::Option1 ? WS_GROUP : 0);
                } else {
                    style |= BS_AUTOCHECKBOX | WS_TABSTOP |
                             (d.control == Control::chkData ? WS_GROUP : 0);
                }
                break;
        }
        HWND w = CreateWindowExW(exStyle, cls, widen(caption).c_str(), style, 0, 0, 0, 0, window_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(idOf(d.control))),
                                 instance, nullptr);
        setName(w, ui::controlName(d.control));
        controls_[index(d.control)] = w;
    }
    // The frames lie under their controls, so that they draw first and the controls over them;
    // they take no focus, so the tab order stays that of the design.
    for (Control frame : {Control::Frame1, Control::Frame2}) {
        SetWindowPos(control(frame), HWND_BOTTOM, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    // The status line under the controls: its whole text, wrapped to the lines it needs.
    status_ = CreateWindowExW(
        0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL, 0, 0, 0,
        0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(99)), instance, nullptr);
    setName(status_, "lblStatus");
    // lblSource shortens a long path in its middle: the whole of it is its tooltip.
    tooltip_ =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance, nullptr);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(control(Control::lblSource));
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 32767);

    // The state as designed; Restore_Settings then checks and shows what the settings ask.
    SendMessageW(control(Control::Option1), BM_SETCHECK, BST_CHECKED, 0);
    ShowWindow(control(Control::txtHeading), SW_HIDE);
    ShowWindow(control(Control::lblHeading), SW_HIDE);
    EnableWindow(control(Control::cmdExport), FALSE);
    followRateSelection();
}

void Win32MainWindow::makeFonts() {
    for (HFONT f : {messageFont_, dialogFont_, boldFont_}) {
        DeleteObject(f);
    }
    messageFont_ = messageFont(dpi_);
    dialogFont_ = dialogFont(dpi_, 975, false);
    boldFont_ = dialogFont(dpi_, 975, true);
}

int Win32MainWindow::statusHeight(int width) const {
    const int lines = statusText_.empty() ? 1 : 0;
    const SIZE text = textSize(status_, messageFont_, widen(statusText_), width);
    const int line = textSize(status_, messageFont_, L"Ag", 0).cy;
    return std::max(static_cast<int>(text.cy), lines * line);
}

void Win32MainWindow::layout() {
    const auto t = [this](int twips) { return pixels(twips, dpi_); };
    for (const Design& d : kDesign) {
        HWND w = control(d.control);
        HFONT font = messageFont_;
        if (d.control == Control::cmdLoad || d.control == Control::cmdExport) {
            font = dialogFont_;
        } else if (d.control == Control::lblSource) {
            font = boldFont_;
        }
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        int left = d.left;
        int top = d.top;
        if (d.container != Control::cmdLoad) {
            left += designOf(d.container).left;
            top += designOf(d.container).top;
        }
        int width = t(d.width);
        int height = t(d.height);
        if (isOption(d.control) || isCheckBox(d.control)) {
            // A caption wider than its designed box would be cut off in this system's fonts:
            // the box grows to the right, as far as its frame allows.
            const Design& frame = designOf(d.container);
            const int room = t(frame.left + frame.width) - t(left) - 4;
            const int wanted = textSize(w, font, widen(captions_[index(d.control)]), 0).cx +
                               MulDiv(20, static_cast<int>(dpi_), 96);
            width = std::max(width, std::min(wanted, room));
        } else if (d.control == Control::lblHeading) {
            // Lower than its text: it keeps its place and grows to the text's size.
            const SIZE need = textSize(w, font, widen(captions_[index(d.control)]), 0);
            width = std::max(width, static_cast<int>(need.cx));
            height = std::max(height, static_cast<int>(need.cy));
        }
        SetWindowPos(w, nullptr, t(left), t(top), width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SendMessageW(status_, WM_SETFONT, reinterpret_cast<WPARAM>(messageFont_), FALSE);
    fitStatus();
    InvalidateRect(window_, nullptr, TRUE);
}

void Win32MainWindow::fitStatus() {
    // The window is the client area as designed, and under it the status line, as high as its
    // text needs at the window's width.
    const int width = pixels(kClientWidth, dpi_);
    const int margin = MulDiv(6, static_cast<int>(dpi_), 96);
    const int gap = MulDiv(3, static_cast<int>(dpi_), 96);
    const int height = statusHeight(width - 2 * margin);
    const int top = pixels(kClientHeight, dpi_);
    SetWindowPos(status_, nullptr, margin, top + gap, width - 2 * margin, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    const SIZE outer = outerSize(width, top + height + 2 * gap, kStyle, kExStyle, true, dpi_);
    RECT now;
    GetWindowRect(window_, &now);
    if (now.right - now.left != outer.cx || now.bottom - now.top != outer.cy) {
        SetWindowPos(window_, nullptr, 0, 0, outer.cx, outer.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The menu bar may wrap at a large font: the client area, not the guess, is what counts.
    RECT client;
    GetClientRect(window_, &client);
    const int missing = top + height + 2 * gap - client.bottom;
    if (missing > 0) {
        SetWindowPos(window_, nullptr, 0, 0, outer.cx, outer.cy + missing,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // Never beyond the bottom of the screen: the window moves up as far as it must.
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &info);
    GetWindowRect(window_, &now);
    if (IsWindowVisible(window_) && now.bottom > info.rcWork.bottom) {
        const int up = std::min(now.bottom - info.rcWork.bottom, now.top - info.rcWork.top);
        if (up > 0) {
            SetWindowPos(window_, nullptr, now.left, now.top - up, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
}

void Win32MainWindow::followRateSelection() {
    // The rate options are one stop of the tab order, at the selected option; the arrow keys
    // move between them.
    for (const ui::RateOption& rate : ui::kRateOptions) {
        HWND w = control(rate.option);
        LONG_PTR style = GetWindowLongPtrW(w, GWL_STYLE);
        const bool checked = SendMessageW(w, BM_GETCHECK, 0, 0) == BST_CHECKED;
        style = checked ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP));
        SetWindowLongPtrW(w, GWL_STYLE, style);
    }
}

LRESULT CALLBACK Win32MainWindow::windowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<Win32MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->window_ = window;
    }
    auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcW(window, message, w, l);
    }
    return self->handle(message, w, l);
}

LRESULT Win32MainWindow::handle(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_COMMAND:
            command(LOWORD(w), HIWORD(w));
            return 0;
        case WM_CLOSE:
            if (busy_) {
                closeAfterJob_ = true;  // the job is cancelled; the close follows its end
                return 0;
            }
            queryUnload();
            DestroyWindow(window_);
            return 0;
        case WM_ACTIVATE:
            // The control that had the focus gets it back when the window is active again.
            if (LOWORD(w) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus != nullptr && IsChild(window_, focus)) {
                    focus_ = focus;
                }
            } else {
                SetFocus(focus_ != nullptr && IsWindowEnabled(focus_) && IsWindowVisible(focus_)
                             ? focus_
                             : control(Control::cmdLoad));
            }
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;  // never refused
        case WM_ENDSESSION:
            if (w != 0 && !busy_) {
                queryUnload();
            }
            return 0;
        case WM_DESTROY:
            preview_.reset();
            report_.reset();
            for (HWND c : controls_) {
                forgetName(c);
            }
            forgetName(status_);
            forgetName(window_);
            PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY: {
            HWND gone = window_;
            window_ = nullptr;
            SetWindowLongPtrW(gone, GWLP_USERDATA, 0);
            return DefWindowProcW(gone, message, w, l);
        }
        case WM_DROPFILES: {
            auto* drop = reinterpret_cast<HDROP>(w);
            std::string path;
            if (DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
                const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
                std::wstring name(length + 1, L'\0');
                DragQueryFileW(drop, 0, name.data(), length + 1);
                name.resize(length);
                path = narrow(name);
            }
            DragFinish(drop);
            // Loaded once the drop has finished, so that a message box doesn't hold up the
            // program the file came from.
            if (!path.empty() && logic_.acceptsLoad()) {
                loadLater(path);
            }
            return 0;
        }
        case kLoadPending:
            while (!pendingLoads_.empty()) {
                const std::string path = pendingLoads_.front();
                pendingLoads_.erase(pendingLoads_.begin());
                logic_.loadRecording(path);
            }
            return 0;
        case WM_DPICHANGED: {
            dpi_ = HIWORD(w);
            const auto* suggested = reinterpret_cast<const RECT*>(l);
            SetWindowPos(window_, nullptr, suggested->left, suggested->top, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            makeFonts();
            layout();
            return 0;
        }
        default:
            return DefWindowProcW(window_, message, w, l);
    }
}

void Win32MainWindow::command(int id, int code) {
    switch (id) {
        case kFileExit:
            logic_.mnuFileExit_Click();
            return;
        case kViewPreview:
            logic_.mnuViewPreview_Click();
            return;
        case kViewReport:
            logic_.mnuViewReport_Click();
            return;
        case kOptionsSeconds:
        case kOptionsConductance: {
            // The item's check mark turns over, then the logic takes it.
            const bool checked =
                !(GetMenuState(menu_, static_cast<UINT>(id), MF_BYCOMMAND) & MF_CHECKED);
            CheckMenuItem(menu_, static_cast<UINT>(id),
                          MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
            id == kOptionsSeconds ? logic_.mnuOptionsSeconds_Click(checked)
                                  : logic_.mnuOptionsConductance_Click(checked);
            return;
        }
        case kOptionsExport:
            logic_.mnuOptionsExport_Click();
            return;
        case kHelpAbout:
            logic_.mnuHelpAbout_Click();
            return;
        case IDOK: {
            // Enter, like Space, presses the push button that has the focus.
            HWND focus = GetFocus();
            if (focus == control(Control::cmdLoad) || focus == control(Control::cmdExport)) {
                SendMessageW(focus, BM_CLICK, 0, 0);
            }
            return;
        }
        default:
            break;
    }
    if (id < 100 || id > idOf(Control::cmdExport)) {
        return;
    }
    const auto c = static_cast<Control>(id - 100);
    const ui::ControlHandler handler = ui::handlerOf(c);
    if (handler == nullptr) {
        return;
    }
    if (c == Control::txtHeading) {
        if (code == EN_CHANGE) {
            (logic_.*handler)();
        }
        return;
    }
    if (code != BN_CLICKED) {
        return;
    }
    if (isOption(c)) {
        // An option counts once the click has checked it.
        if (SendMessageW(control(c), BM_GETCHECK, 0, 0) != BST_CHECKED) {
            return;
        }
        followRateSelection();
    }
    (logic_.*handler)();
}

void Win32MainWindow::queryUnload() {
    if (!closed_) {
        closed_ = true;
        logic_.Form_QueryUnload();
    }
}

ui::SizeTwips Win32MainWindow::screenSize() const {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &info);
    const float perPixel = static_cast<float>(kTwipsPerInch) / static_cast<float>(dpi_);
    return {static_cast<float>(info.rcMonitor.right - info.rcMonitor.left) * perPixel,
            static_cast<float>(info.rcMonitor.bottom - info.rcMonitor.top) * perPixel};
}

ui::SizeTwips Win32MainWindow::windowSize() const {
    RECT r;
    GetWindowRect(window_, &r);
    const float perPixel = static_cast<float>(kTwipsPerInch) / static_cast<float>(dpi_);
    return {static_cast<float>(r.right - r.left) * perPixel,
            static_cast<float>(r.bottom - r.top) * perPixel};
}

void Win32MainWindow::moveWindow(float left, float top) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &info);
    const float perTwip = static_cast<float>(dpi_) / static_cast<float>(kTwipsPerInch);
    SetWindowPos(window_, nullptr,
                 info.rcMonitor.left + static_cast<int>(std::lround(left * perTwip)),
                 info.rcMonitor.top + static_cast<int>(std::lround(top * perTwip)), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

ui::CheckValue Win32MainWindow::checkValue(Control box) const {
    switch (SendMessageW(control(box), BM_GETCHECK, 0, 0)) {
        case BST_CHECKED:
            return ui::CheckValue::Checked;
        case BST_INDETERMINATE:
            return ui::CheckValue::Grayed;
        default:
            return ui::CheckValue::Unchecked;
    }
}

void Win32MainWindow::setChecked(Control box) {
    SendMessageW(control(box), BM_SETCHECK, BST_CHECKED, 0);
}

void Win32MainWindow::selectOption(Control option) {
    CheckRadioButton(window_, idOf(Control::Option1), idOf(Control::Option4), idOf(option));
    followRateSelection();
}

std::string Win32MainWindow::text(Control box) const {
    return narrow(windowText(control(box)));
}

void Win32MainWindow::setVisible(Control c, bool visible) {
    ShowWindow(control(c), visible ? SW_SHOW : SW_HIDE);
}

std::string Win32MainWindow::caption(Control c) const {
    return captions_[index(c)];  // as set, byte for byte
}

void Win32MainWindow::setCaption(Control c, const std::string& caption) {
    captions_[index(c)] = caption;
    std::wstring text = widen(caption);
    SetWindowTextW(control(c), text.c_str());
    if (c == Control::lblSource) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.hwnd = window_;
        tool.uId = reinterpret_cast<UINT_PTR>(control(c));
        tool.lpszText = text.data();
        SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void Win32MainWindow::setEnabled(Control c, bool enabled) {
    EnableWindow(control(c), enabled ? TRUE : FALSE);
    // A disabled frame takes no input in any of its controls.
    if (c == Control::Frame1 || c == Control::Frame2) {
        for (const Design& d : kDesign) {
            if (inFrame(d.control, c)) {
                EnableWindow(control(d.control), enabled ? TRUE : FALSE);
            }
        }
    }
    // Export is enabled exactly while a recording is loaded: so are its preview and report.
    if (c == Control::cmdExport) {
        const UINT state = MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED);
        EnableMenuItem(menu_, kViewPreview, state);
        EnableMenuItem(menu_, kViewReport, state);
    }
}

void Win32MainWindow::showMessage(const std::string& text, const std::string& title,
                                  ui::MessageIcon icon) {
    MessageBoxW(window_, widen(text).c_str(), widen(title).c_str(),
                MB_OK | (icon == ui::MessageIcon::Critical ? MB_ICONERROR : MB_ICONWARNING));
}

bool Win32MainWindow::askYesNo(const std::string& text, const std::string& title) {
    return MessageBoxW(window_, widen(text).c_str(), widen(title).c_str(),
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

std::optional<ui::ChosenFile> Win32MainWindow::openFileDialog(const std::string& title,
                                                              const std::string& filter,
                                                              const std::string& initialName,
                                                              const std::string& initialDir) {
    std::vector<wchar_t> buffer(32768, L'\0');
    const std::wstring name = widen(initialName);
    std::copy_n(name.begin(), std::min(name.size(), buffer.size() - 1), buffer.begin());
    const std::wstring filters = filterOf(filter) + L'\0';
    const std::wstring caption = widen(title);
    const std::wstring dir = widen(initialDir);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window_;
    ofn.lpstrFilter = filters.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrInitialDir = dir.empty() ? nullptr : dir.c_str();
    ofn.lpstrTitle = caption.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                OFN_NOCHANGEDIR | OFN_ENABLEHOOK | OFN_ENABLESIZING;
    ofn.lpfnHook = &openHook;
    dialogDir_ = initialDir;
    if (!GetOpenFileNameW(&ofn)) {
        return std::nullopt;
    }
    const std::wstring path(buffer.data());
    return ui::ChosenFile{narrow(path), narrow(path.substr(ofn.nFileOffset))};
}

std::optional<ui::SavedFile> Win32MainWindow::saveFileDialog(
    const std::vector<std::string>& fileTypes, const std::string& initialName,
    bool confirmReplace) {
    SaveState state;
    std::wstring filters;
    for (const std::string& type : fileTypes) {
        const std::string pattern = type.substr(type.rfind('|') + 1);
        state.folder.push_back(pattern.empty());
        state.extensions.push_back(pattern.size() > 2 ? widen(pattern.substr(2)) : L"");
        filters += filterOf(type);
    }
    filters += L'\0';
    std::vector<wchar_t> buffer(32768, L'\0');
    const std::wstring name = widen(initialName);
    std::copy_n(name.begin(), std::min(name.size(), buffer.size() - 1), buffer.begin());
    const std::wstring dir = widen(dialogDir_);
    const bool hasFolder = name.find_first_of(L"\\/") != std::wstring::npos;
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window_;
    ofn.lpstrFilter = filters.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrInitialDir = hasFolder || dir.empty() ? nullptr : dir.c_str();
    ofn.lpstrDefExt = state.extensions.empty() ? nullptr : state.extensions[0].c_str();
    ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                OFN_ENABLEHOOK | OFN_ENABLESIZING | (confirmReplace ? OFN_OVERWRITEPROMPT : 0);
    ofn.lpfnHook = &saveHook;
    ofn.lCustData = reinterpret_cast<LPARAM>(&state);
    const BOOL saved = GetSaveFileNameW(&ofn);
    if (state.folderChosen) {
        return ui::SavedFile{narrow(state.pointedAt), state.type};
    }
    if (!saved) {
        return std::nullopt;
    }
    const std::size_t type = ofn.nFilterIndex > 0 ? ofn.nFilterIndex - 1 : 0;
    return ui::SavedFile{narrow(buffer.data()), std::min(type, fileTypes.size() - 1)};
}

std::optional<std::string> Win32MainWindow::folderDialog(const std::string& title,
                                                         const std::string& dir,
                                                         const std::string& selected) {
    FolderStart start{widen(title), widen(dir)};
    if (!selected.empty()) {
        std::wstring inside = start.path;
        if (!inside.empty() && inside.back() != L'\\' && inside.back() != L'/') {
            inside += L'\\';
        }
        inside += widen(selected);
        if (isFolder(inside)) {
            start.path = inside;
        }
    }
    BROWSEINFOW info{};
    info.hwndOwner = window_;
    info.lpszTitle = start.title.c_str();
    info.ulFlags = BIF_NEWDIALOGSTYLE | BIF_RETURNONLYFSDIRS;
    info.lpfn = &folderCallback;
    info.lParam = reinterpret_cast<LPARAM>(&start);
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (chosen == nullptr) {
        return std::nullopt;
    }
    std::vector<wchar_t> path(32768, L'\0');
    const bool found = SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()),
                                             GPFIDL_DEFAULT) != FALSE;
    CoTaskMemFree(chosen);
    if (!found) {
        return std::nullopt;
    }
    return narrow(path.data());
}

void Win32MainWindow::setMenuChecked(ui::MenuItem item, bool checked) {
    const UINT id = item == ui::MenuItem::mnuOptionsSeconds ? kOptionsSeconds : kOptionsConductance;
    CheckMenuItem(menu_, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

std::optional<ExportChoices> Win32MainWindow::exportOptionsDialog(
    const ExportChoices& current, const std::vector<ui::ChoiceProblem>& problems) {
    return exportOptionsWindow(window_, current, problems);
}

ExportResult Win32MainWindow::runWithProgress(const std::string& label, const ui::ExportJob& job) {
    // The job runs on a thread of its own; this thread keeps the windows painted and shows the
    // progress display once the job has run half a second.
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> known{0};
    std::atomic<bool> cancel{false};
    HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::optional<ExportResult> result;
    std::exception_ptr failure;
    busy_ = true;
    bool quit = false;
    WPARAM exitCode = 0;
    {
        InputBlocker blocker;
        std::unique_ptr<ProgressWindow> progress;
        std::thread worker([&] {
            try {
                result.emplace(job([&](std::uint64_t d, std::uint64_t k) {
                    done = d;
                    known = k;
                    return !cancel.load();
                }));
            } catch (...) {
                failure = std::current_exception();
            }
            SetEvent(finished);
        });
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            const DWORD woke =
                MsgWaitForMultipleObjectsEx(1, &finished, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            if (woke == WAIT_OBJECT_0) {
                break;
            }
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    quit = true;
                    exitCode = msg.wParam;
                    cancel = true;
                    continue;
                }
                if (progress && IsDialogMessageW(progress->handle(), &msg)) {
                    continue;
                }
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (!progress && GetTickCount64() - start >= 500) {
                progress = std::make_unique<ProgressWindow>(window_, label);
            }
            if (progress) {
                const std::uint64_t k = known;
                progress->setShare(
                    k == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(done * 1000 / k, 1000)));
                if (progress->cancelled()) {
                    cancel = true;
                }
            }
            if (closeAfterJob_) {
                cancel = true;
            }
        }
        worker.join();
    }
    CloseHandle(finished);
    busy_ = false;
    SetForegroundWindow(window_);
    if (quit) {
        PostQuitMessage(static_cast<int>(exitCode));
    }
    if (closeAfterJob_) {
        PostMessageW(window_, WM_CLOSE, 0, 0);
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    return *result;
}

void Win32MainWindow::setStatus(const std::string& text) {
    statusText_ = text;
    SetWindowTextW(status_, widen(text).c_str());
    fitStatus();
}

void Win32MainWindow::showPreview(std::shared_ptr<const ui::PreviewData> data,
                                  std::shared_ptr<const ui::RowSchedule> rows,
                                  const std::string& name) {
    if (preview_ && !IsWindow(preview_->handle())) {
        preview_.reset();
    }
    if (!preview_) {
        PreviewWindow::Callbacks callbacks;
        callbacks.closed = [this] { logic_.previewClosed(); };
        callbacks.exportSelection = [this](const ui::PreviewData* shown, std::int32_t from,
                                           std::int32_t to) {
            logic_.exportSelection(shown, from, to);
        };
        preview_ = std::make_unique<PreviewWindow>(window_, std::move(callbacks));
    }
    preview_->show(std::move(data), std::move(rows), name);  // its title takes the file name
}

void Win32MainWindow::setPreviewRows(std::shared_ptr<const ui::RowSchedule> rows) {
    if (preview_) {
        preview_->setRows(std::move(rows));
    }
}

void Win32MainWindow::emptyPreview() {
    if (preview_) {
        preview_->empty();
    }
}

void Win32MainWindow::showReport(const ui::ReportView& report) {
    if (report_ && !IsWindow(report_->handle())) {
        report_.reset();
    }
    if (!report_) {
        report_ = std::make_unique<ReportWindow>(window_);
    }
    report_->show(report);
}

void Win32MainWindow::showAbout() {
    // No owner, as designed; every window of the program takes no input meanwhile.
    {
        InputBlocker blocker;
        showAboutWindow(window_);
    }
    SetForegroundWindow(window_);
    SetActiveWindow(window_);
}

void Win32MainWindow::closeWindow() {
    SendMessageW(window_, WM_CLOSE, 0, 0);
}

}  // namespace zk::ui_win32
