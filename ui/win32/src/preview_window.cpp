#include "zk/ui_win32/preview_window.hpp"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "dialogs.hpp"
#include "text.hpp"
#include "twips.hpp"
#include "view_support.hpp"
#include "zk/engine/output/paths.hpp"
#include "zk/ui/preview_plot.hpp"
#include "zk/ui/preview_view.hpp"

namespace zk::ui_win32 {

namespace {

// The colours of the Qt window's plot.
constexpr COLORREF kTraceColour = RGB(31, 95, 168);
constexpr COLORREF kTagColour = RGB(214, 69, 65);
constexpr COLORREF kRowColour = RGB(22, 150, 100);
constexpr COLORREF kGrid = RGB(232, 234, 238);
constexpr COLORREF kFrame = RGB(160, 166, 176);
constexpr COLORREF kText = RGB(60, 64, 72);
constexpr COLORREF kHover = RGB(120, 126, 136);
constexpr COLORREF kBackground = RGB(250, 250, 251);
constexpr COLORREF kSelection = RGB(60, 120, 220);
constexpr BYTE kSelectionAlpha = 48;
constexpr COLORREF kHelpText = RGB(110, 114, 122);

// The controls' IDs: the main window's controls take 100 and up, these 200 and up.
constexpr int kPlotId = 201;
constexpr int kReadoutId = 202;
constexpr int kSelectionId = 203;
constexpr int kExportId = 204;
constexpr int kHelpId = 205;

constexpr const wchar_t* kWindowClass = L"zkFileExportPreview";
constexpr const wchar_t* kPlotClass = L"zkFileExportPreviewPlot";
constexpr const wchar_t* kTitle = L"Recording Preview";
constexpr const wchar_t* kHelp =
    L"Wheel or + and -: zoom   Drag or Left and Right: move   Double-click or Home: the whole "
    L"recording   Right-drag, Shift-drag or [ and ]: select   Escape: close";

// A GDI object deleted when it goes.
class Gdi {
  public:
    explicit Gdi(HGDIOBJ object) : object_(object) {}
    ~Gdi() {
        if (object_) {
            DeleteObject(object_);
        }
    }
    Gdi(const Gdi&) = delete;
    Gdi& operator=(const Gdi&) = delete;
    operator HGDIOBJ() const noexcept { return object_; }

  private:
    HGDIOBJ object_;
};

RECT toRect(const ui::PixelBox& b) {
    return {b.left, b.top, b.left + b.width, b.top + b.height};
}

// The pixel that a coordinate at a pixel's centre (or anywhere in it) stands for.
int pixel(double v) {
    return static_cast<int>(std::floor(std::clamp(v, -1.0e7, 1.0e7)));
}

HPEN styledPen(COLORREF colour, DWORD dash, DWORD gap) {
    const DWORD style[2] = {dash, gap};
    LOGBRUSH brush{BS_SOLID, colour, 0};
    return ExtCreatePen(PS_COSMETIC | PS_USERSTYLE, 1, &brush, 2, style);
}

void drawText(HDC dc, const ui::PlotText& t) {
    UINT flags = DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP;
    switch (t.align) {
        case ui::PlotText::Align::RightMiddle:
            flags |= DT_RIGHT | DT_VCENTER;
            break;
        case ui::PlotText::Align::CentreTop:
            flags |= DT_CENTER | DT_TOP;
            break;
        case ui::PlotText::Align::Centre:
            flags |= DT_CENTER | DT_VCENTER;
            break;
    }
    RECT r = toRect(t.box);
    const std::wstring text = widen(t.text);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, flags);
}

void clipTo(HDC dc, const RECT* r) {
    SelectClipRgn(dc, nullptr);
    if (r) {
        IntersectClipRect(dc, r->left, r->top, r->right, r->bottom);
    }
}

// The part of the segment a-b inside `box` (Liang-Barsky), so that GDI never meets the huge
// coordinates of a sample far outside the view.
bool clipSegment(ui::PlotPoint& a, ui::PlotPoint& b, const RECT& box) {
    double t0 = 0.0, t1 = 1.0;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x - box.left, box.right - a.x, a.y - box.top, box.bottom - a.y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) {
                return false;
            }
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0) {
            t0 = std::max(t0, t);
        } else {
            t1 = std::min(t1, t);
        }
        if (t0 > t1) {
            return false;
        }
    }
    const ui::PlotPoint from{a.x + t0 * dx, a.y + t0 * dy};
    const ui::PlotPoint to{a.x + t1 * dx, a.y + t1 * dy};
    a = from;
    b = to;
    return true;
}

POINT toPoint(const ui::PlotPoint& p) {
    return {static_cast<LONG>(std::lround(p.x)), static_cast<LONG>(std::lround(p.y))};
}

void registerClasses() {
    static bool registered = false;
    if (registered) {
        return;
    }
    registered = true;
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW window{};
    window.cbSize = sizeof(window);
    window.lpfnWndProc = DefWindowProcW;  // replaced once the window knows its Impl
    window.hInstance = instance;
    window.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window.lpszClassName = kWindowClass;
    window.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    RegisterClassExW(&window);
    WNDCLASSEXW plot = window;
    plot.style = CS_DBLCLKS;
    plot.hbrBackground = nullptr;
    plot.hIcon = nullptr;
    plot.lpszClassName = kPlotClass;
    RegisterClassExW(&plot);
}

}  // namespace

struct PreviewWindow::Impl {
    Callbacks callbacks;
    HWND owner = nullptr;
    HWND window = nullptr;
    HWND plot = nullptr;
    HWND readout = nullptr;
    HWND selectionText = nullptr;
    HWND exportButton = nullptr;
    HWND help = nullptr;
    HWND tooltip = nullptr;
    UINT dpi = 96;
    HFONT font = nullptr;
    HFONT bold = nullptr;
    HFONT upright = nullptr;  // the value axis's title, turned a quarter left
    bool placed = false;

    std::shared_ptr<const ui::PreviewData> data = std::make_shared<const ui::PreviewData>();
    std::shared_ptr<const ui::RowSchedule> schedule = std::make_shared<const ui::RowSchedule>();
    bool loaded = false;
    ui::PreviewView view;
    ui::PreviewSelection selection;
    std::size_t hovered = SIZE_MAX;
    bool dragging = false;
    int dragFrom = 0;
    double dragBegin = 0.0;
    bool selecting = false;
    bool tracking = false;
    std::wstring tip;

    void create();
    void destroy();
    void makeFonts();
    void layout();
    void showData(std::shared_ptr<const ui::PreviewData> d,
                  std::shared_ptr<const ui::RowSchedule> rows, bool isLoaded);
    void close();

    static LRESULT CALLBACK windowProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK plotProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT onWindow(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onPlot(UINT message, WPARAM wParam, LPARAM lParam);

    // The plot.
    ui::PlotFont plotFont(HDC dc) const;
    ui::PixelBox plotArea() const;
    void paint(HDC dc, int width, int height) const;
    void drawAxes(HDC dc, const ui::PlotScene& scene) const;
    void drawTrace(HDC dc, const ui::PlotScene& scene) const;
    void drawRows(HDC dc, const ui::PlotScene& scene) const;
    void drawTags(HDC dc, const ui::PlotScene& scene) const;
    void drawSelectionAndHover(HDC dc, const ui::PlotScene& scene) const;
    double timeAt(int x) const;
    void viewChanged() const;
    void zoom(double factor, double anchor = 0.5);
    void pan(double fraction);
    void setSelection(const ui::PreviewSelection& s);
    void setHovered(std::size_t sample);
    void mouseDown(int x, bool select);
    void mouseMove(int x, int y);
    void mouseUp();
    void wheel(WPARAM wParam, LPARAM lParam);
    bool key(WPARAM vk);
    bool character(wchar_t c);

    // The lines under the plot.
    void showReadout();
    void showSelection();
};

// ---- the window

void PreviewWindow::Impl::create() {
    registerClasses();
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    window =
        CreateWindowExW(0, kWindowClass, kTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                        CW_USEDEFAULT, CW_USEDEFAULT, 960, 540, owner, nullptr, instance, nullptr);
    if (!window) {
        return;
    }
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&windowProc));
    setName(window, "frmPreview");
    const auto child = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int id,
                           const char* name) {
        const HWND h =
            CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, window,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        setName(h, name);
        return h;
    };
    plot = child(kPlotClass, L"", WS_TABSTOP, kPlotId, "picPlot");
    SetWindowLongPtrW(plot, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(plot, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&plotProc));
    // An edit without a frame, read-only: the readout can be selected and copied.
    readout = child(WC_EDITW, L"", ES_MULTILINE | ES_READONLY, kReadoutId, "lblReadout");
    SendMessageW(readout, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    selectionText = child(WC_STATICW, L"", SS_LEFT | SS_NOPREFIX, kSelectionId, "lblSelection");
    exportButton = child(WC_BUTTONW, L"Export Selection...", BS_PUSHBUTTON | WS_TABSTOP, kExportId,
                         "cmdExportSelection");
    help = child(WC_STATICW, kHelp, SS_LEFT | SS_NOPREFIX, kHelpId, "lblHelp");

    // The button's tip, on the button while it takes the mouse and on its place in the window
    // while it is disabled (a disabled control leaves the mouse to its parent).
    tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window,
                              nullptr, instance, nullptr);
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window;
    tool.uId = reinterpret_cast<UINT_PTR>(exportButton);
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    tool.uFlags = TTF_SUBCLASS;
    tool.uId = kExportId;
    SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));

    dpi = dpiOf(window);
    makeFonts();
    RECT outer{0, 0, views::scaled(960, dpi), views::scaled(540, dpi)};
    AdjustWindowRectEx(&outer, WS_OVERLAPPEDWINDOW, FALSE, 0);
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    showData(nullptr, nullptr, false);
}

void PreviewWindow::Impl::destroy() {
    if (window) {
        DestroyWindow(window);  // WM_NCDESTROY forgets the handles
    }
    for (HFONT* f : {&font, &bold, &upright}) {
        if (*f) {
            DeleteObject(*f);
            *f = nullptr;
        }
    }
}

void PreviewWindow::Impl::makeFonts() {
    for (HFONT* f : {&font, &bold, &upright}) {
        if (*f) {
            DeleteObject(*f);
        }
    }
    font = messageFont(dpi);
    bold = messageFont(dpi, true);
    LOGFONTW turned{};
    GetObjectW(font, sizeof(turned), &turned);
    turned.lfEscapement = 900;
    turned.lfOrientation = 900;
    upright = CreateFontIndirectW(&turned);
    for (const HWND h : {plot, readout, selectionText, exportButton, help}) {
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
}

namespace {

// Moves a child only when its place changes, so that laying out after each new readout costs
// nothing when the lines keep their height.
void place(HWND child, int x, int y, int width, int height) {
    RECT now;
    GetWindowRect(child, &now);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&now), 2);
    if (now.left != x || now.top != y || now.right - now.left != width ||
        now.bottom - now.top != height) {
        MoveWindow(child, x, y, width, height, TRUE);
    }
}

}  // namespace

void PreviewWindow::Impl::layout() {
    if (!window || !help || !font) {
        return;
    }
    RECT client;
    GetClientRect(window, &client);
    const int s4 = views::scaled(4, dpi);
    const int left = views::scaled(8, dpi);
    const int width = std::max<int>(client.right - 2 * left, 1);
    const auto textOf = [](HWND h) {
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(GetWindowTextW(h, text.data(), int(text.size()))));
        return text;
    };
    const int lineHeight = views::wrappedHeight(window, font, L" ", width);
    const int buttonWidth =
        std::max(views::scaled(75, dpi),
                 views::textWidth(window, font, L"Export Selection...") + views::scaled(24, dpi));
    const int buttonHeight = std::max(views::scaled(23, dpi), lineHeight + views::scaled(8, dpi));
    const int selectionWidth = std::max(width - buttonWidth - s4, 1);
    const int selectionHeight =
        views::wrappedHeight(window, font, textOf(selectionText), selectionWidth);
    const int rowHeight = std::max(buttonHeight, selectionHeight);
    const int readoutHeight =
        std::max(lineHeight + s4, views::wrappedHeight(window, font, textOf(readout), width));
    const int helpHeight = views::wrappedHeight(window, font, kHelp, width);
    const int top = views::scaled(8, dpi);
    const int plotHeight = std::max<int>(client.bottom - top - views::scaled(6, dpi) -
                                             readoutHeight - rowHeight - helpHeight - 3 * s4,
                                         0);
    int y = top;
    place(plot, left, y, width, plotHeight);
    y += plotHeight + s4;
    place(readout, left, y, width, readoutHeight);
    y += readoutHeight + s4;
    place(selectionText, left, y + (rowHeight - selectionHeight) / 2, selectionWidth,
          selectionHeight);
    RECT button{left + width - buttonWidth, y + (rowHeight - buttonHeight) / 2, 0, 0};
    button.right = button.left + buttonWidth;
    button.bottom = button.top + buttonHeight;
    place(exportButton, button.left, button.top, buttonWidth, buttonHeight);
    y += rowHeight + s4;
    place(help, left, y, width, helpHeight);
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = window;
    tool.uId = kExportId;
    tool.rect = button;
    SendMessageW(tooltip, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void PreviewWindow::Impl::showData(std::shared_ptr<const ui::PreviewData> d,
                                   std::shared_ptr<const ui::RowSchedule> rows, bool isLoaded) {
    data = d ? std::move(d) : std::make_shared<const ui::PreviewData>();
    schedule = rows ? std::move(rows) : std::make_shared<const ui::RowSchedule>();
    loaded = isLoaded;
    view = loaded ? ui::PreviewView(data->firstX(), data->lastX()) : ui::PreviewView();
    selection = {};  // a selection belongs to the recording it was made in
    hovered = SIZE_MAX;
    dragging = selecting = false;
    if (GetCapture() == plot) {
        ReleaseCapture();
    }
    showSelection();
    showReadout();
    InvalidateRect(plot, nullptr, FALSE);
}

void PreviewWindow::Impl::close() {
    ShowWindow(window, SW_HIDE);
    showData(nullptr, nullptr, false);
    SetWindowTextW(window, kTitle);
    if (callbacks.closed) {
        const auto closed = callbacks.closed;
        closed();  // may destroy this
    }
}

LRESULT CALLBACK PreviewWindow::Impl::windowProc(HWND hwnd, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
    auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self ? self->onWindow(message, wParam, lParam)
                : DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT PreviewWindow::Impl::onWindow(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            layout();
            return 0;
        case WM_GETMINMAXINFO:
            views::keepAtLeast(lParam, 360, 320, dpi);
            return 0;
        case WM_DPICHANGED:
            // The fonts first: the move's WM_SIZE lays the window out with them.
            dpi = HIWORD(wParam);
            makeFonts();
            views::moveAsProposed(window, lParam);
            layout();
            return 0;
        case WM_SETFOCUS:
            SetFocus(plot);  // the keys are the plot's
            return 0;
        case WM_CTLCOLORSTATIC: {
            const auto dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, reinterpret_cast<HWND>(lParam) == help ? kHelpText
                                                                    : GetSysColor(COLOR_BTNTEXT));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        case WM_MOUSEWHEEL:
            wheel(wParam, lParam);
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == kExportId && HIWORD(wParam) == BN_CLICKED) {
                SetFocus(plot);
                if (const auto range = selection.rangeMs(); range && loaded) {
                    const auto shown = data;  // kept while the export runs
                    if (callbacks.exportSelection) {
                        callbacks.exportSelection(shown.get(), range->first, range->second);
                    }
                }
                return 0;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                close();
                return 0;
            }
            break;
        case WM_CLOSE:
            close();
            return 0;
        case WM_DESTROY:
            // With this object, or with its owner, which takes the windows it owns along.
            for (const HWND h : {plot, readout, selectionText, exportButton, help, window}) {
                forgetName(h);
            }
            break;
        case WM_NCDESTROY: {
            const HWND gone = window;
            SetWindowLongPtrW(gone, GWLP_USERDATA, 0);
            window = plot = readout = selectionText = exportButton = help = tooltip = nullptr;
            return DefWindowProcW(gone, message, wParam, lParam);
        }
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void PreviewWindow::Impl::showReadout() {
    const std::wstring text = widen(ui::readoutLine(*data, *schedule, hovered, loaded));
    SetWindowTextW(readout, text.c_str());
    layout();  // a longer line may wrap onto a second
}

void PreviewWindow::Impl::showSelection() {
    // Export Selection... is there to be found, but greyed out while nothing can be exported,
    // and the line beside it says why.
    const bool can = loaded && selection.active();
    SetWindowTextW(selectionText, widen(ui::selectionLine(selection, loaded)).c_str());
    if (!can && GetFocus() == exportButton) {
        SetFocus(plot);
    }
    EnableWindow(exportButton, can);
    tip = can ? L"Export the rows of the selection"
              : L"Select a stretch of the loaded recording first";
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = window;
    tool.lpszText = tip.data();
    for (const UINT_PTR id : {reinterpret_cast<UINT_PTR>(exportButton), UINT_PTR(kExportId)}) {
        tool.uId = id;
        tool.uFlags = id == UINT_PTR(kExportId) ? 0 : TTF_IDISHWND;
        SendMessageW(tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    layout();
}

// ---- the plot

LRESULT CALLBACK PreviewWindow::Impl::plotProc(HWND hwnd, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self ? self->onPlot(message, wParam, lParam)
                : DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT PreviewWindow::Impl::onPlot(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            const HDC dc = BeginPaint(plot, &ps);
            RECT r;
            GetClientRect(plot, &r);
            const int w = std::max<int>(r.right, 1), h = std::max<int>(r.bottom, 1);
            const HDC memory = CreateCompatibleDC(dc);
            const HBITMAP bitmap = CreateCompatibleBitmap(dc, w, h);
            const HGDIOBJ old = SelectObject(memory, bitmap);
            paint(memory, w, h);
            BitBlt(dc, 0, 0, w, h, memory, 0, 0, SRCCOPY);
            SelectObject(memory, old);
            DeleteObject(bitmap);
            DeleteDC(memory);
            EndPaint(plot, &ps);
            return 0;
        }
        case WM_GETDLGCODE:
            return DLGC_WANTALLKEYS | DLGC_WANTARROWS | DLGC_WANTCHARS;
        case WM_KEYDOWN:
            if (key(wParam)) {
                return 0;
            }
            break;
        case WM_CHAR:
            if (character(static_cast<wchar_t>(wParam))) {
                return 0;
            }
            break;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
            SetFocus(plot);
            mouseDown(GET_X_LPARAM(lParam), message == WM_RBUTTONDOWN || (wParam & MK_SHIFT) != 0);
            return 0;
        case WM_MOUSEMOVE:
            mouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
            return 0;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
            mouseUp();
            return 0;
        case WM_LBUTTONDBLCLK:
            view.reset();
            viewChanged();
            return 0;
        case WM_CAPTURECHANGED:
            dragging = selecting = false;
            return 0;
        case WM_MOUSELEAVE:
            tracking = false;
            if (!dragging && !selecting) {
                setHovered(SIZE_MAX);
            }
            return 0;
        case WM_MOUSEWHEEL:
            wheel(wParam, lParam);
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(plot, GWLP_USERDATA, 0);
            break;
        case WM_SETCURSOR:
            if (dragging) {
                SetCursor(LoadCursorW(nullptr, IDC_SIZEALL));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(plot, message, wParam, lParam);
}

ui::PlotFont PreviewWindow::Impl::plotFont(HDC dc) const {
    const HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW plain{};
    GetTextMetricsW(dc, &plain);
    SIZE room{};
    const std::wstring roomText = widen(ui::PlotFont::kValueLabelRoom);
    GetTextExtentPoint32W(dc, roomText.c_str(), static_cast<int>(roomText.size()), &room);
    SelectObject(dc, bold);
    TEXTMETRICW strong{};
    GetTextMetricsW(dc, &strong);
    SelectObject(dc, old);
    const HFONT boldFont = bold;
    return {static_cast<int>(plain.tmHeight), static_cast<int>(room.cx),
            static_cast<int>(strong.tmHeight), [dc, boldFont](const std::string& text) {
                const std::wstring w = widen(text);
                const HGDIOBJ before = SelectObject(dc, boldFont);
                SIZE size{};
                GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &size);
                SelectObject(dc, before);
                return static_cast<int>(size.cx);
            }};
}

ui::PixelBox PreviewWindow::Impl::plotArea() const {
    RECT r;
    GetClientRect(plot, &r);
    const HDC dc = GetDC(plot);
    const ui::PixelBox box = ui::plotBox({0, 0, r.right, r.bottom}, plotFont(dc));
    ReleaseDC(plot, dc);
    return box;
}

void PreviewWindow::Impl::paint(HDC dc, int width, int height) const {
    const ui::PixelBox area{0, 0, width, height};
    const ui::PlotScene scene = ui::layoutPlot(area, plotFont(dc), loaded ? data.get() : nullptr,
                                               schedule.get(), view, selection, hovered);
    const HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    const RECT all = toRect(area);
    const RECT plotRect = toRect(scene.plot);
    {
        const Gdi back(CreateSolidBrush(kBackground));
        FillRect(dc, &all, static_cast<HBRUSH>(static_cast<HGDIOBJ>(back)));
        if (scene.plot.width > 0 && scene.plot.height > 0) {
            FillRect(dc, &plotRect, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        }
    }
    SetTextColor(dc, kText);
    if (scene.message) {
        RECT r = all;
        const std::wstring text = widen(*scene.message);
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, oldFont);
        return;
    }
    drawAxes(dc, scene);
    clipTo(dc, &plotRect);
    drawTrace(dc, scene);
    drawRows(dc, scene);
    drawTags(dc, scene);
    clipTo(dc, &plotRect);
    drawSelectionAndHover(dc, scene);
    clipTo(dc, nullptr);
    const Gdi frame(CreatePen(PS_SOLID, 1, kFrame));
    const HGDIOBJ oldPen = SelectObject(dc, frame);
    const HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, plotRect.left, plotRect.top, plotRect.right, plotRect.bottom);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldFont);
}

void PreviewWindow::Impl::drawAxes(HDC dc, const ui::PlotScene& scene) const {
    const ui::PixelBox& plotBox = scene.plot;
    const Gdi grid(CreatePen(PS_SOLID, 1, kGrid));
    const HGDIOBJ oldPen = SelectObject(dc, grid);
    for (const double y : scene.axes.gridYs) {
        MoveToEx(dc, plotBox.left, pixel(y), nullptr);
        LineTo(dc, plotBox.right() + 1, pixel(y));
    }
    for (const double x : scene.axes.gridXs) {
        MoveToEx(dc, pixel(x), plotBox.top, nullptr);
        LineTo(dc, pixel(x), plotBox.bottom() + 1);
    }
    SelectObject(dc, oldPen);
    SetTextColor(dc, kText);
    for (const ui::PlotText& label : scene.axes.labels) {
        drawText(dc, label);
    }
    drawText(dc, scene.axes.timeTitle);
    // The title turned a quarter left reads upwards; its top faces the left edge, as the
    // box turned about valueTitleAt has it.
    const HGDIOBJ oldFont = SelectObject(dc, upright);
    const UINT oldAlign = SetTextAlign(dc, TA_CENTER | TA_TOP | TA_NOUPDATECP);
    const std::wstring title = widen(scene.axes.valueTitle.text);
    TextOutW(dc, pixel(scene.axes.valueTitleAt.x), pixel(scene.axes.valueTitleAt.y), title.c_str(),
             static_cast<int>(title.size()));
    SetTextAlign(dc, oldAlign);
    SelectObject(dc, oldFont);
}

void PreviewWindow::Impl::drawTrace(HDC dc, const ui::PlotScene& scene) const {
    const ui::PlotTrace& trace = scene.trace;
    if (trace.throughSamples) {
        LOGBRUSH brush{BS_SOLID, kTraceColour, 0};
        const Gdi pen(ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND,
                                   static_cast<DWORD>(std::max(1, views::scaled(2, dpi))), &brush,
                                   0, nullptr));
        const HGDIOBJ oldPen = SelectObject(dc, pen);
        RECT room = toRect(scene.plot);
        InflateRect(&room, 16, 16);
        std::vector<POINT> run;
        const auto flush = [&] {
            if (run.size() >= 2) {
                Polyline(dc, run.data(), static_cast<int>(run.size()));
            }
            run.clear();
        };
        for (std::size_t i = 1; i < trace.points.size(); ++i) {
            if (trace.starts[i]) {
                flush();
                continue;
            }
            const ui::PlotPoint& from = trace.points[i - 1];
            const ui::PlotPoint& to = trace.points[i];
            ui::PlotPoint a = from, b = to;
            if (!clipSegment(a, b, room)) {
                flush();
                continue;
            }
            if (run.empty() || !(a == from)) {
                flush();
                run.push_back(toPoint(a));
            }
            run.push_back(toPoint(b));
            if (!(b == to)) {
                flush();  // it left the room: the next segment starts a line of its own
            }
        }
        flush();
        SelectObject(dc, oldPen);
        return;
    }
    const Gdi pen(CreatePen(PS_SOLID, 1, kTraceColour));
    const HGDIOBJ oldPen = SelectObject(dc, pen);
    for (const auto& bar : trace.bars) {
        const int x = pixel(bar.x);
        const int top = pixel(std::min(bar.from, bar.to));
        const int bottom = pixel(std::max(bar.from, bar.to));
        MoveToEx(dc, x, top, nullptr);
        LineTo(dc, x, bottom + 1);
    }
    SelectObject(dc, oldPen);
}

void PreviewWindow::Impl::drawRows(HDC dc, const ui::PlotScene& scene) const {
    if (scene.rows.dots.empty()) {
        return;
    }
    const int bottom = scene.plot.bottom();
    const double radius = scene.rows.radius;
    const Gdi ring(CreatePen(PS_SOLID, 1, RGB(255, 255, 255)));
    const Gdi tick(CreatePen(PS_SOLID, 2, kRowColour));
    const Gdi fill(CreateSolidBrush(kRowColour));
    const HGDIOBJ oldPen = SelectObject(dc, ring);
    const HGDIOBJ oldBrush = SelectObject(dc, fill);
    for (const ui::PlotPoint& dot : scene.rows.dots) {
        SelectObject(dc, ring);
        Ellipse(dc, pixel(dot.x - radius + 0.5), pixel(dot.y - radius + 0.5),
                pixel(dot.x + radius + 0.5) + 1, pixel(dot.y + radius + 0.5) + 1);
        SelectObject(dc, tick);
        MoveToEx(dc, pixel(dot.x), bottom - 5, nullptr);
        LineTo(dc, pixel(dot.x), bottom + 1);
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

void PreviewWindow::Impl::drawTags(HDC dc, const ui::PlotScene& scene) const {
    const RECT plotRect = toRect(scene.plot);
    const RECT areaRect = toRect(scene.area);
    const Gdi line(scene.denseTags ? CreatePen(PS_SOLID, 1, kTagColour)
                                   : styledPen(kTagColour, 4, 2));
    const Gdi solid(CreatePen(PS_SOLID, 1, kTagColour));
    const Gdi fill(CreateSolidBrush(kTagColour));
    const HGDIOBJ oldPen = SelectObject(dc, line);
    const HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    const HGDIOBJ oldFont = SelectObject(dc, bold);
    for (const ui::PlotTag& tag : scene.tags) {
        const int x = pixel(tag.x);
        clipTo(dc, &plotRect);
        SelectObject(dc, line);
        MoveToEx(dc, x, scene.plot.top, nullptr);
        LineTo(dc, x, pixel(tag.lineTo) + 1);
        if (tag.row < 0) {
            continue;
        }
        clipTo(dc, &areaRect);
        const ui::PixelBox& box = tag.label.box;
        if (tag.row == 1) {
            SelectObject(dc, solid);
            MoveToEx(dc, x, box.bottom(), nullptr);
            LineTo(dc, x, scene.plot.top + 1);
        }
        SelectObject(dc, GetStockObject(NULL_PEN));
        SelectObject(dc, fill);
        // Without a pen the shape is filled to one pixel short of its right and bottom.
        RoundRect(dc, box.left, box.top, box.left + box.width + 1, box.top + box.height + 1, 6, 6);
        SelectObject(dc, GetStockObject(NULL_BRUSH));
        SetTextColor(dc, RGB(255, 255, 255));
        drawText(dc, tag.label);
    }
    SetTextColor(dc, kText);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

void PreviewWindow::Impl::drawSelectionAndHover(HDC dc, const ui::PlotScene& scene) const {
    if (scene.selection) {
        // The band lets the trace show through, as the Qt window's translucent fill does.
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = 1;
        info.bmiHeader.biHeight = 1;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        const Gdi colour(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (bits) {
            *static_cast<DWORD*>(bits) = (DWORD(GetRValue(kSelection)) << 16) |
                                         (DWORD(GetGValue(kSelection)) << 8) |
                                         GetBValue(kSelection);
            const HDC source = CreateCompatibleDC(dc);
            const HGDIOBJ old = SelectObject(source, colour);
            const int left = static_cast<int>(std::lround(scene.selection->left));
            const int right =
                static_cast<int>(std::lround(scene.selection->left + scene.selection->width));
            const BLENDFUNCTION blend{AC_SRC_OVER, 0, kSelectionAlpha, 0};
            GdiAlphaBlend(dc, left, scene.plot.top, std::max(right - left, 1), scene.plot.height,
                          source, 0, 0, 1, 1, blend);
            SelectObject(source, old);
            DeleteDC(source);
        }
    }
    if (scene.hovered) {
        const int x = static_cast<int>(std::lround(scene.hovered->x));
        const int y = pixel(scene.hovered->y);
        const Gdi dotted(styledPen(kHover, 1, 2));
        const HGDIOBJ oldPen = SelectObject(dc, dotted);
        MoveToEx(dc, x, scene.plot.top, nullptr);
        LineTo(dc, x, scene.plot.bottom() + 1);
        const Gdi ring(CreatePen(PS_SOLID, std::max(1, views::scaled(2, dpi)), kTraceColour));
        SelectObject(dc, ring);
        const HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
        const int r = views::scaled(4, dpi);
        Ellipse(dc, x - r, y - r, x + r + 1, y + r + 1);
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
    }
}

double PreviewWindow::Impl::timeAt(int x) const {
    const ui::PixelBox box = plotArea();
    const double fraction =
        box.width > 0 ? std::clamp(double(x - box.left) / box.width, 0.0, 1.0) : 0.0;
    return view.begin() + fraction * view.span();
}

void PreviewWindow::Impl::viewChanged() const {
    InvalidateRect(plot, nullptr, FALSE);
}

void PreviewWindow::Impl::zoom(double factor, double anchor) {
    view.zoom(factor, anchor);
    viewChanged();
}

void PreviewWindow::Impl::pan(double fraction) {
    view.pan(fraction);
    viewChanged();
}

void PreviewWindow::Impl::setSelection(const ui::PreviewSelection& s) {
    selection = s;
    InvalidateRect(plot, nullptr, FALSE);
    showSelection();
}

void PreviewWindow::Impl::setHovered(std::size_t sample) {
    if (sample != hovered) {
        hovered = sample;
        InvalidateRect(plot, nullptr, FALSE);
        showReadout();
    }
}

void PreviewWindow::Impl::mouseDown(int x, bool select) {
    if (select && loaded && !data->empty()) {
        selecting = true;
        SetCapture(plot);
        ui::PreviewSelection s;
        s.setStart(timeAt(x));
        setSelection(s);
    } else if (!select) {
        dragging = true;
        SetCapture(plot);
        dragFrom = x;
        dragBegin = view.begin();
        SetCursor(LoadCursorW(nullptr, IDC_SIZEALL));
    }
}

void PreviewWindow::Impl::mouseMove(int x, int y) {
    if (!tracking) {
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, plot, 0};
        tracking = TrackMouseEvent(&track) != FALSE;
    }
    const ui::PixelBox box = plotArea();
    if (selecting) {
        ui::PreviewSelection s = selection;
        s.setEnd(timeAt(x));
        setSelection(s);
    } else if (dragging && box.width > 0) {
        const double dx = x - dragFrom;
        view.panBy(dragBegin - dx * view.span() / box.width - view.begin());
        viewChanged();
    }
    if (loaded && !data->empty() && x >= box.left && x <= box.right() && y >= box.top &&
        y <= box.bottom()) {
        setHovered(data->nearest(view.begin() + double(x - box.left) / box.width * view.span()));
    } else {
        setHovered(SIZE_MAX);
    }
}

void PreviewWindow::Impl::mouseUp() {
    const bool captured = dragging || selecting;
    dragging = selecting = false;
    if (captured && GetCapture() == plot) {
        ReleaseCapture();
    }
}

void PreviewWindow::Impl::wheel(WPARAM wParam, LPARAM lParam) {
    const double steps = GET_WHEEL_DELTA_WPARAM(wParam) / double(WHEEL_DELTA);
    POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};  // on the screen
    ScreenToClient(plot, &at);
    RECT r;
    GetClientRect(plot, &r);
    const ui::PixelBox box = plotArea();
    if (steps == 0.0 || box.width <= 0 || !PtInRect(&r, at)) {
        return;
    }
    zoom(std::pow(1.25, steps), std::clamp(double(at.x - box.left) / box.width, 0.0, 1.0));
}

bool PreviewWindow::Impl::key(WPARAM vk) {
    switch (vk) {
        case VK_UP:
            zoom(2.0);
            return true;
        case VK_DOWN:
            zoom(0.5);
            return true;
        case VK_LEFT:
            pan(-0.2);
            return true;
        case VK_RIGHT:
            pan(0.2);
            return true;
        case VK_PRIOR:
            pan(-1.0);
            return true;
        case VK_NEXT:
            pan(1.0);
            return true;
        case VK_HOME:
            view.reset();
            viewChanged();
            return true;
        case VK_DELETE:
            setSelection({});
            return true;
        case VK_ESCAPE:
            close();  // nothing of this may be touched after
            return true;
        default:
            return false;
    }
}

bool PreviewWindow::Impl::character(wchar_t c) {
    switch (c) {
        case L'+':
        case L'=':
            zoom(2.0);
            return true;
        case L'-':
            zoom(0.5);
            return true;
        case L'[':
        case L']':
            if (hovered < data->size()) {
                ui::PreviewSelection s = selection;
                const double x = data->x(hovered);
                c == L'[' ? s.setStart(x) : s.setEnd(x);
                setSelection(s);
            }
            return true;
        case 0x1b:  // Escape, handled as a key
            return true;
        default:
            return false;
    }
}

// ---- the class

PreviewWindow::PreviewWindow(HWND owner, Callbacks callbacks) : impl_(std::make_unique<Impl>()) {
    impl_->owner = owner;
    impl_->callbacks = std::move(callbacks);
    impl_->create();
}

PreviewWindow::~PreviewWindow() {
    impl_->destroy();
}

void PreviewWindow::show(std::shared_ptr<const ui::PreviewData> data,
                         std::shared_ptr<const ui::RowSchedule> rows, const std::string& name) {
    Impl& w = *impl_;
    if (!w.window) {
        return;
    }
    w.showData(std::move(data), std::move(rows), true);
    SetWindowTextW(w.window,
                   (std::wstring(kTitle) + L" - " + widen(std::string(fileNameOf(name)))).c_str());
    if (!w.placed) {
        // A new window opens beside its owner; once open it stays where the user puts it.
        w.placed = true;
        RECT r;
        GetWindowRect(w.window, &r);
        const RECT at = views::besideOwner(w.owner, r.right - r.left, r.bottom - r.top);
        SetWindowPos(w.window, nullptr, at.left, at.top, at.right - at.left, at.bottom - at.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ShowWindow(w.window, IsIconic(w.window) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(w.window);
    SetFocus(w.plot);
}

void PreviewWindow::setRows(std::shared_ptr<const ui::RowSchedule> rows) {
    Impl& w = *impl_;
    if (!w.window) {
        return;
    }
    w.schedule = rows ? std::move(rows) : std::make_shared<const ui::RowSchedule>();
    InvalidateRect(w.plot, nullptr, FALSE);
    w.showReadout();
}

void PreviewWindow::empty() {
    Impl& w = *impl_;
    if (!w.window) {
        return;
    }
    w.showData(nullptr, nullptr, false);
    SetWindowTextW(w.window, kTitle);
}

HWND PreviewWindow::handle() const noexcept {
    return impl_->window;
}

}  // namespace zk::ui_win32
