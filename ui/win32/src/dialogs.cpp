#include "dialogs.hpp"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

#include "text.hpp"
#include "twips.hpp"
#include "zk/ui/about.hpp"
#include "zk/ui/main_window.hpp"

namespace zk::ui_win32 {
namespace {

// Windows 10's per-monitor calls, looked up once: older systems lack them.
template <typename Fn>
Fn user32(const char* name) {
    HMODULE user = GetModuleHandleW(L"user32.dll");
    return user ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user, name)))
                : nullptr;
}
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

UINT screenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

int scaled(int pixelsAt96, UINT dpi) {
    return MulDiv(pixelsAt96, static_cast<int>(dpi), 96);
}

HWND child(HWND parent, const wchar_t* cls, const std::wstring& text, DWORD style, int id,
           HFONT font, const char* name) {
    HWND w = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                             parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             GetModuleHandleW(nullptr), nullptr);
    SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (name != nullptr) {
        setName(w, name);
    }
    return w;
}

void place(HWND w, int left, int top, int width, int height) {
    SetWindowPos(w, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void forgetNames(HWND dialog) {
    EnumChildWindows(
        dialog,
        [](HWND w, LPARAM) -> BOOL {
            forgetName(w);
            return TRUE;
        },
        0);
    forgetName(dialog);
}

// A dialog with no controls of its own, in memory: the controls are made when it starts.
struct Template {
    DLGTEMPLATE header;
    WORD menu, cls;
    wchar_t title[64];
};

Template dialogTemplate(DWORD style, const std::wstring& title) {
    Template t{};
    t.header.style = style;
    t.header.cx = 100;
    t.header.cy = 50;
    wcsncpy(t.title, title.c_str(), 63);
    return t;
}

// Sizes a dialog to a client area of `width` x `height` and centres it on `nearby`'s monitor.
void sizeAndCentre(HWND dialog, HWND nearby, int width, int height, UINT dpi) {
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE));
    const SIZE outer = outerSize(width, height, style, exStyle, false, dpi);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(nearby ? nearby : dialog, MONITOR_DEFAULTTOPRIMARY), &info);
    const RECT& area = info.rcWork;
    RECT nearRect = area;
    if (nearby != nullptr && IsWindowVisible(nearby)) {
        GetWindowRect(nearby, &nearRect);
    }
    int left = (nearRect.left + nearRect.right - outer.cx) / 2;
    int top = (nearRect.top + nearRect.bottom - outer.cy) / 2;
    left = std::clamp(left, static_cast<int>(area.left),
                      static_cast<int>(std::max(area.left, area.right - outer.cx)));
    top = std::clamp(top, static_cast<int>(area.top),
                     static_cast<int>(std::max(area.top, area.bottom - outer.cy)));
    SetWindowPos(dialog, nullptr, left, top, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring trimmed(const std::wstring& text) {
    const auto first = text.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(L" \t\r\n") - first + 1);
}

std::wstring windowText(HWND w) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(w, text.data(), static_cast<int>(text.size()))));
    return text;
}

// ---- About -----------------------------------------------------------------------------------

struct About {
    HWND nearby = nullptr;
    UINT dpi = 96;
    HFONT normal = nullptr, bold = nullptr, title = nullptr, version = nullptr;
    HWND blue = nullptr;
    HWND black[2]{};

    ~About() {
        for (HFONT f : {normal, bold, title, version}) {
            DeleteObject(f);
        }
    }

    void build(HWND dialog) {
        dpi = dpiOf(dialog);
        normal = messageFont(dpi);
        bold = dialogFont(dpi, 975, true);
        title = dialogFont(dpi, 1200, true);
        version = dialogFont(dpi, 975, false);
        setName(dialog, "frmAbout");
        SetWindowTextW(dialog, widen(ui::aboutCaption()).c_str());
        const auto t = [this](int twips) { return pixels(twips, dpi); };
        struct Label {
            const char* name;
            std::string text;
            int left, top, width, height;
            HFONT font;
            bool wrap;
        };
        const Label labels[] = {
            {"Label6", ui::kAboutWebAddress, 360, 1440, 4935, 255, normal, false},
            {"lblSoft", ui::programVersion(), 3000, 1080, 1935, 255, normal, false},
            {"Label1", ui::kAboutMaker, 1080, 720, 3855, 255, bold, false},
            {"lblTitle", ui::kAboutProgramName, 1080, 240, 3885, 480, title, false},
            {"Label5", ui::kAboutVersionLabel, 1080, 1080, 1845, 225, version, false},
            {"lblDisclaimer", ui::aboutDisclaimer(), 255, 1920, 3870, 825, normal, true},
        };
        const int icon = scaled(32, dpi);
        HWND picIcon =
            child(dialog, L"STATIC", L"", SS_ICON | SS_CENTERIMAGE, 1000, normal, "picIcon");
        SendMessageW(picIcon, STM_SETICON, reinterpret_cast<WPARAM>(programIcon(icon)), 0);
        place(picIcon, t(240), t(240), t(480), t(480));
        HWND ok = child(dialog, L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, IDOK,
                        normal, "cmdOK");
        place(ok, t(4245), t(1920), t(1260), t(345));
        // The designed boxes can be too small for the texts in this system's fonts: each label
        // keeps its place and grows to its text (the disclaimer downwards), and the window
        // grows to keep its margin under the lowest.
        const int width = t(5730);
        const int margin = t(120);
        int bottom = t(2865);
        int n = 0;
        for (const Label& l : labels) {
            const std::wstring text = widen(l.text);
            HWND w =
                child(dialog, L"STATIC", text, SS_LEFT | SS_NOPREFIX, 1001 + n++, l.font, l.name);
            int lw = t(l.width);
            int lh = t(l.height);
            if (l.wrap) {
                lh = std::max(lh, static_cast<int>(textSize(dialog, l.font, text, lw).cy));
            } else {
                const SIZE need = textSize(dialog, l.font, text, 0);
                lw = std::max(lw, std::min(static_cast<int>(need.cx), width - margin - t(l.left)));
                lh = std::max(lh, static_cast<int>(need.cy));
            }
            place(w, t(l.left), t(l.top), lw, lh);
            bottom = std::max(bottom, t(l.top) + lh + margin);
            if (std::strcmp(l.name, "Label6") == 0) {
                blue = w;
            }
        }
        sizeAndCentre(dialog, nearby, width, bottom, dpi);
        SetFocus(ok);
    }

    void paintRule(HWND dialog) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(dialog, &ps);
        const auto t = [this](int twips) { return pixels(twips, dpi); };
        const int left = t(120);
        const int top = t(1800);
        RECT white{left, top, t(5669) + 1, top + 2};
        FillRect(dc, &white, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        HBRUSH grey = CreateSolidBrush(RGB(128, 128, 128));
        RECT line{left, top, t(5684) + 1, top + 1};
        FillRect(dc, &line, grey);
        DeleteObject(grey);
        EndPaint(dialog, &ps);
    }

    static INT_PTR CALLBACK proc(HWND dialog, UINT message, WPARAM w, LPARAM l) {
        auto* self = reinterpret_cast<About*>(GetWindowLongPtrW(dialog, DWLP_USER));
        switch (message) {
            case WM_INITDIALOG:
                SetWindowLongPtrW(dialog, DWLP_USER, l);
                reinterpret_cast<About*>(l)->build(dialog);
                return FALSE;  // the focus is set
            case WM_PAINT:
                self->paintRule(dialog);
                return TRUE;
            case WM_CTLCOLORSTATIC: {
                HDC dc = reinterpret_cast<HDC>(w);
                SetBkMode(dc, TRANSPARENT);
                SetTextColor(
                    dc, reinterpret_cast<HWND>(l) == self->blue ? RGB(0, 0, 255) : RGB(0, 0, 0));
                return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
            }
            case WM_COMMAND:
                if (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL) {
                    EndDialog(dialog, IDOK);
                }
                return TRUE;
            case WM_DESTROY:
                forgetNames(dialog);
                return FALSE;
            default:
                return FALSE;
        }
    }
};

// ---- Export Options --------------------------------------------------------------------------

struct Options {
    ExportChoices current;
    const std::vector<ui::ChoiceProblem>* problems = nullptr;
    HWND owner = nullptr;
    HFONT font = nullptr;
    HWND problemText = nullptr;
    HWND fields[4]{};  // by ui::ChoiceField
    std::optional<ExportChoices> accepted;

    ~Options() { DeleteObject(font); }

    void build(HWND dialog) {
        const UINT dpi = dpiOf(owner ? owner : dialog);
        font = messageFont(dpi);
        setName(dialog, "dlgExportOptions");
        const auto s = [dpi](int px) { return scaled(px, dpi); };
        const int width = s(400);
        const int margin = s(11);
        const int inner = width - 2 * margin;
        int y = margin;
        std::wstring lines;
        for (const ui::ChoiceProblem& p : *problems) {
            lines += (lines.empty() ? L"" : L"\r\n") + widen(p.text);
        }
        problemText =
            child(dialog, L"STATIC", lines, SS_LEFT | SS_NOPREFIX, 1000, font, "lblProblems");
        if (!problems->empty()) {
            const int h = textSize(dialog, font, lines, inner).cy;
            place(problemText, margin, y, inner, h);
            y += h + s(8);
        } else {
            ShowWindow(problemText, SW_HIDE);
        }
        const int row = s(30);
        const int labelWidth = s(80);
        const int edit = s(23);
        int id = 1001;
        auto group = [&](const wchar_t* caption, const char* name,
                         std::initializer_list<std::pair<const wchar_t*, ui::ChoiceField>> rows,
                         const wchar_t* noteText) {
            HWND frame = child(dialog, L"BUTTON", caption, BS_GROUPBOX, id++, font, name);
            const int top = y;
            y += s(22);
            for (const auto& [label, field] : rows) {
                HWND l = child(dialog, L"STATIC", label, SS_LEFT, id++, font, nullptr);
                place(l, margin * 2, y + s(4), labelWidth, edit);
                const auto index = static_cast<std::size_t>(field);
                fields[index] =
                    CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0, 0, 0,
                                    dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)),
                                    GetModuleHandleW(nullptr), nullptr);
                SendMessageW(fields[index], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
                place(fields[index], margin * 2 + labelWidth, y, inner - 2 * margin - labelWidth,
                      edit);
                y += row;
            }
            const int noteHeight = textSize(dialog, font, noteText, inner - 2 * margin).cy;
            HWND note = child(dialog, L"STATIC", noteText, SS_LEFT, id++, font, nullptr);
            place(note, margin * 2, y, inner - 2 * margin, noteHeight);
            y += noteHeight + s(10);
            place(frame, margin, top, inner, y - top);
            y += s(8);
        };
        group(L"BIDS dataset", "fraBids",
              {{L"Subject:", ui::ChoiceField::Subject},
               {L"Session:", ui::ChoiceField::Session},
               {L"Task:", ui::ChoiceField::Task}},
              L"Letters and digits only; the session may be left empty.");
        group(L"Recording start (Excel workbook, EDF+, BDF+)", "fraStart",
              {{L"Started at:", ui::ChoiceField::Start}},
              L"Left empty, it is estimated from the time the recording file was written.");
        const char* names[] = {"txtSubject", "txtSession", "txtTask", "txtStart"};
        const std::string* texts[] = {&current.subject, &current.session, &current.task,
                                      &current.start};
        const wchar_t* hints[] = {L"e.g. 01", L"none", L"e.g. rest", L"YYYY-MM-DD HH:MM:SS"};
        for (int i = 0; i < 4; ++i) {
            setName(fields[i], names[i]);
            SetWindowTextW(fields[i], widen(*texts[i]).c_str());
            SendMessageW(fields[i], EM_SETCUEBANNER, FALSE, reinterpret_cast<LPARAM>(hints[i]));
        }
        const int buttonWidth = s(75);
        HWND ok =
            child(dialog, L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, font, "cmdOK");
        HWND cancel = child(dialog, L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL,
                            font, "cmdCancel");
        place(ok, width - margin - 2 * buttonWidth - s(6), y, buttonWidth, edit);
        place(cancel, width - margin - buttonWidth, y, buttonWidth, edit);
        y += edit + margin;
        sizeAndCentre(dialog, owner, width, y, dpi);
        // The focus goes to the field of the first problem, its text selected for typing over.
        HWND focus = fields[0];
        if (!problems->empty()) {
            focus = fields[static_cast<std::size_t>(problems->front().field)];
        }
        SetFocus(focus);
        SendMessageW(focus, EM_SETSEL, 0, -1);
    }

    static INT_PTR CALLBACK proc(HWND dialog, UINT message, WPARAM w, LPARAM l) {
        auto* self = reinterpret_cast<Options*>(GetWindowLongPtrW(dialog, DWLP_USER));
        switch (message) {
            case WM_INITDIALOG:
                SetWindowLongPtrW(dialog, DWLP_USER, l);
                reinterpret_cast<Options*>(l)->build(dialog);
                return FALSE;
            case WM_CTLCOLORSTATIC:
                if (reinterpret_cast<HWND>(l) == self->problemText) {
                    HDC dc = reinterpret_cast<HDC>(w);
                    SetBkMode(dc, TRANSPARENT);
                    SetTextColor(dc, RGB(176, 32, 32));
                    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
                }
                return FALSE;
            case WM_COMMAND:
                if (LOWORD(w) == IDOK) {
                    ExportChoices c = self->current;
                    std::string* out[] = {&c.subject, &c.session, &c.task, &c.start};
                    for (int i = 0; i < 4; ++i) {
                        *out[i] = narrow(trimmed(windowText(self->fields[i])));
                    }
                    self->accepted = c;
                    EndDialog(dialog, IDOK);
                } else if (LOWORD(w) == IDCANCEL) {
                    EndDialog(dialog, IDCANCEL);
                }
                return TRUE;
            case WM_DESTROY:
                forgetNames(dialog);
                return FALSE;
            default:
                return FALSE;
        }
    }
};

}  // namespace

UINT dpiOf(HWND window) {
    static const auto forWindow = user32<GetDpiForWindowFn>("GetDpiForWindow");
    if (forWindow != nullptr && window != nullptr) {
        const UINT dpi = forWindow(window);
        if (dpi != 0) {
            return dpi;
        }
    }
    return screenDpi();
}

HFONT messageFont(UINT dpi, bool bold) {
    static const auto forDpi = user32<SystemParametersInfoForDpiFn>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    LOGFONTW& font = metrics.lfMessageFont;
    if (forDpi == nullptr || !forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
            return dialogFont(dpi, 900, bold);
        }
        font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(screenDpi()));
    }
    if (bold) {
        font.lfWeight = FW_BOLD;
    }
    return CreateFontIndirectW(&font);
}

HFONT dialogFont(UINT dpi, int hundredthsOfPoint, bool bold) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(hundredthsOfPoint, static_cast<int>(dpi), 7200);
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    wcscpy(font.lfFaceName, L"MS Shell Dlg 2");
    return CreateFontIndirectW(&font);
}

SIZE outerSize(int width, int height, DWORD style, DWORD exStyle, bool menu, UINT dpi) {
    static const auto forDpi = user32<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
    RECT r{0, 0, width, height};
    if (forDpi != nullptr) {
        forDpi(&r, style, menu, exStyle, dpi);
    } else {
        AdjustWindowRectEx(&r, style, menu, exStyle);
    }
    return {r.right - r.left, r.bottom - r.top};
}

void setName(HWND window, const char* name) {
    const ATOM atom = GlobalAddAtomW(widen(name).c_str());
    SetPropW(window, L"Name", reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(atom)));
}

void forgetName(HWND window) {
    const auto atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(RemovePropW(window, L"Name")));
    if (atom != 0) {
        GlobalDeleteAtom(atom);
    }
}

SIZE textSize(HWND window, HFONT font, const std::wstring& text, int width) {
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font);
    RECT r{0, 0, width > 0 ? width : 32767, 0};
    const UINT wrap = width > 0 ? DT_WORDBREAK | DT_EDITCONTROL : DT_SINGLELINE;
    DrawTextW(dc, text.empty() ? L" " : text.c_str(), -1, &r, DT_CALCRECT | DT_NOPREFIX | wrap);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return {r.right - r.left, r.bottom - r.top};
}

HICON programIcon(int size) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON,
                                         size, size, LR_SHARED));
}

InputBlocker::InputBlocker() {
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND w, LPARAM self) -> BOOL {
            if (IsWindowEnabled(w)) {
                reinterpret_cast<InputBlocker*>(self)->disabled_.push_back(w);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(this));
    for (HWND w : disabled_) {
        EnableWindow(w, FALSE);
    }
}

InputBlocker::~InputBlocker() {
    for (HWND w : disabled_) {
        if (IsWindow(w)) {
            EnableWindow(w, TRUE);
        }
    }
}

void showAboutWindow(HWND nearby) {
    About about;
    about.nearby = nearby;
    Template t = dialogTemplate(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, L"About");
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &t.header, nullptr, &About::proc,
                            reinterpret_cast<LPARAM>(&about));
}

std::optional<ExportChoices> exportOptionsWindow(HWND owner, const ExportChoices& current,
                                                 const std::vector<ui::ChoiceProblem>& problems) {
    Options options;
    options.current = current;
    options.problems = &problems;
    options.owner = owner;
    Template t =
        dialogTemplate(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, L"Export Options");
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &t.header, owner, &Options::proc,
                            reinterpret_cast<LPARAM>(&options));
    return options.accepted;
}

ProgressWindow::ProgressWindow(HWND owner, const std::string& label) : label_(widen(label)) {
    Template t = dialogTemplate(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                                widen(ui::MainWindow::kCaption));
    window_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), &t.header, owner,
                                         &ProgressWindow::proc, reinterpret_cast<LPARAM>(this));
    if (window_ == nullptr) {
        return;
    }
    const UINT dpi = dpiOf(owner);
    font_ = messageFont(dpi);
    setName(window_, "dlgProgress");
    const auto s = [dpi](int px) { return scaled(px, dpi); };
    // The label's lines, each as wide as it needs up to three quarters of the screen; a longer
    // one (a path) is shortened in its middle.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const int room = (monitor.rcWork.right - monitor.rcWork.left) * 3 / 4;
    std::wstring shown;
    int widest = 0;
    int lines = 0;
    HDC dc = GetDC(window_);
    HGDIOBJ old = SelectObject(dc, font_);
    for (std::size_t start = 0; start <= label_.size(); ++lines) {
        std::size_t end = label_.find(L'\n', start);
        end = end == std::wstring::npos ? label_.size() : end;
        std::wstring line = label_.substr(start, end - start);
        line.resize(line.size() + 4);  // room for the ellipsis
        RECT r{0, 0, room, 0};
        DrawTextW(dc, line.data(), -1, &r,
                  DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX | DT_PATH_ELLIPSIS | DT_MODIFYSTRING);
        line.resize(wcslen(line.c_str()));
        widest = std::max(widest, static_cast<int>(std::min<LONG>(r.right, room)));
        shown += (lines > 0 ? L"\r\n" : L"") + line;
        start = end + 1;
    }
    SelectObject(dc, old);
    ReleaseDC(window_, dc);
    const int margin = s(11);
    const int width = std::max(s(420), widest + 2 * margin);
    const int lineHeight = textSize(window_, font_, L"Ag", 0).cy * lines;
    HWND text = child(window_, L"STATIC", shown, SS_LEFT | SS_NOPREFIX, 1000, font_, "lblProgress");
    place(text, margin, margin, width - 2 * margin, lineHeight);
    bar_ = child(window_, PROGRESS_CLASSW, L"", 0, 1001, font_, "prgExport");
    SendMessageW(bar_, PBM_SETRANGE32, 0, 1000);
    place(bar_, margin, margin + lineHeight + s(8), width - 2 * margin, s(18));
    HWND cancel = child(window_, L"BUTTON", L"Cancel", BS_DEFPUSHBUTTON | WS_TABSTOP, IDCANCEL,
                        font_, "cmdCancel");
    const int top = margin + lineHeight + s(8) + s(18) + s(11);
    place(cancel, width - margin - s(75), top, s(75), s(23));
    sizeAndCentre(window_, owner, width, top + s(23) + margin, dpi);
    ShowWindow(window_, SW_SHOW);
    SetFocus(cancel);
}

ProgressWindow::~ProgressWindow() {
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
    DeleteObject(font_);
}

void ProgressWindow::setShare(int share) {
    SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(std::clamp(share, 0, 1000)), 0);
}

INT_PTR CALLBACK ProgressWindow::proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(window, DWLP_USER, l);
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(w) == IDCANCEL && self != nullptr) {
                self->cancelled_ = true;
                EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
            }
            return TRUE;
        case WM_DESTROY:
            forgetNames(window);
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace zk::ui_win32
