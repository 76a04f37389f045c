#include "zk/ui_win32/report_window.hpp"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "dialogs.hpp"
#include "text.hpp"
#include "twips.hpp"
#include "view_support.hpp"

namespace zk::ui_win32 {

namespace {

// The controls' IDs: the main window's controls take 100 and up, the preview's 200 and up.
constexpr int kTextId = 301;
constexpr int kCaptionId = 302;
constexpr int kTableId = 303;
constexpr int kCopyId = 304;
constexpr int kCloseId = 305;
constexpr int kCopyCellsId = 306;  // Copy in the table's menu

constexpr const wchar_t* kWindowClass = L"zkFileExportReport";

// The table's cells widen to their text by this much, the Qt table's padding.
constexpr int kCellPadding = 14;

}  // namespace

struct ReportWindow::Impl {
    HWND owner = nullptr;
    HWND window = nullptr;
    HWND text = nullptr;
    HWND caption = nullptr;
    HWND table = nullptr;
    HWND copy = nullptr;
    HWND close = nullptr;
    HWND focus = nullptr;  // where the focus goes back to when the window is active again
    UINT dpi = 96;
    HFONT font = nullptr;
    HFONT fixed = nullptr;
    bool placed = false;

    ui::ReportView view;
    std::vector<std::vector<std::wstring>> cells;  // the table's texts, for the list view
    std::vector<int> contentWidths;                // each column's, at the current DPI

    void create();
    void destroy();
    void makeFonts();
    void layout();
    void fill();
    void measureColumns();
    void fitColumns();
    void copySelectedCells() const;
    void selectAll() const;
    void tableMenu(LPARAM at);
    LRESULT notify(const NMHDR& header);

    static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
};

void ReportWindow::Impl::create() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    static const bool registered = [instance] {
        WNDCLASSEXW c{};
        c.cbSize = sizeof(c);
        c.lpfnWndProc = &Impl::proc;
        c.hInstance = instance;
        c.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        c.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
        c.lpszClassName = kWindowClass;
        return RegisterClassExW(&c) != 0;
    }();
    (void)registered;
    window =
        CreateWindowExW(0, kWindowClass, L"Recording Report", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                        CW_USEDEFAULT, CW_USEDEFAULT, 760, 600, owner, nullptr, instance, this);
    if (!window) {
        return;
    }
    setName(window, "frmReport");
    const auto child = [&](DWORD exStyle, const wchar_t* cls, const wchar_t* title, DWORD style,
                           int id, const char* name) {
        const HWND h = CreateWindowExW(
            exStyle, cls, title, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        setName(h, name);
        return h;
    };
    // Without wrapping, as the report lines up in columns; read-only but selectable.
    text = child(WS_EX_CLIENTEDGE, WC_EDITW, L"",
                 ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL | WS_HSCROLL |
                     WS_VSCROLL | WS_TABSTOP,
                 kTextId, "txtReport");
    SendMessageW(text, EM_SETLIMITTEXT, 0, 0);
    caption = child(0, WC_STATICW, L"", SS_LEFT | SS_NOPREFIX, kCaptionId, "lblTags");
    // The rows come from `cells` as they are drawn, so that a long list of tags fills at once.
    table = child(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                  LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | WS_TABSTOP, kTableId, "tblTags");
    ListView_SetExtendedListViewStyle(
        table, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
    copy = child(0, WC_BUTTONW, L"Copy", BS_PUSHBUTTON | WS_TABSTOP, kCopyId, "cmdCopy");
    close = child(0, WC_BUTTONW, L"Close", BS_PUSHBUTTON | WS_TABSTOP, kCloseId, "cmdClose");
    focus = text;

    dpi = dpiOf(window);
    makeFonts();
    RECT outer{0, 0, views::scaled(760, dpi), views::scaled(600, dpi)};
    AdjustWindowRectEx(&outer, WS_OVERLAPPEDWINDOW, FALSE, 0);
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ReportWindow::Impl::destroy() {
    if (window) {
        DestroyWindow(window);  // WM_NCDESTROY forgets the handles
    }
    for (HFONT* f : {&font, &fixed}) {
        if (*f) {
            DeleteObject(*f);
            *f = nullptr;
        }
    }
}

void ReportWindow::Impl::makeFonts() {
    for (HFONT* f : {&font, &fixed}) {
        if (*f) {
            DeleteObject(*f);
        }
    }
    font = messageFont(dpi);
    fixed = views::fixedFont(dpi);
    for (const HWND h : {caption, table, copy, close}) {
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(fixed), FALSE);
    measureColumns();
}

void ReportWindow::Impl::layout() {
    if (!window || !close || !font) {
        return;
    }
    RECT client;
    GetClientRect(window, &client);
    const int margin = views::scaled(9, dpi);
    const int spacing = views::scaled(6, dpi);
    const int width = std::max<int>(client.right - 2 * margin, 1);
    const std::wstring captionText = widen(view.caption);
    const int lineHeight = views::wrappedHeight(window, font, L" ", width);
    const int captionHeight = views::wrappedHeight(window, font, captionText, width);
    const int buttonHeight = std::max(views::scaled(23, dpi), lineHeight + views::scaled(8, dpi));
    const auto buttonWidth = [&](const wchar_t* title) {
        return std::max(views::scaled(75, dpi),
                        views::textWidth(window, font, title) + views::scaled(24, dpi));
    };
    const int copyWidth = buttonWidth(L"Copy"), closeWidth = buttonWidth(L"Close");
    // The text takes three parts of the room left, the table two, as in the Qt window.
    const int room =
        std::max<int>(client.bottom - 2 * margin - captionHeight - buttonHeight - 3 * spacing, 0);
    const int textHeight = room * 3 / 5;
    const int tableHeight = room - textHeight;
    int y = margin;
    MoveWindow(text, margin, y, width, textHeight, TRUE);
    y += textHeight + spacing;
    MoveWindow(caption, margin, y, width, captionHeight, TRUE);
    y += captionHeight + spacing;
    MoveWindow(table, margin, y, width, tableHeight, TRUE);
    y += tableHeight + spacing;
    const int right = margin + width;
    MoveWindow(close, right - closeWidth, y, closeWidth, buttonHeight, TRUE);
    MoveWindow(copy, right - closeWidth - spacing - copyWidth, y, copyWidth, buttonHeight, TRUE);
    fitColumns();
}

void ReportWindow::Impl::fill() {
    SetWindowTextW(window, widen(view.title).c_str());
    SetWindowTextW(text, views::wideLines(view.text).c_str());
    SetWindowTextW(caption, widen(view.caption).c_str());
    cells.clear();
    cells.reserve(view.rows.size());
    for (const auto& row : view.rows) {
        std::vector<std::wstring> wideRow;
        wideRow.reserve(row.size());
        for (const std::string& cell : row) {
            wideRow.push_back(widen(cell));
        }
        cells.push_back(std::move(wideRow));
    }

    SendMessageW(table, WM_SETREDRAW, FALSE, 0);
    ListView_SetItemCountEx(table, 0, 0);
    while (ListView_DeleteColumn(table, 0)) {
    }
    // A list view sets its first column to the left whatever it is asked: a first column of
    // no width goes before the table's, which then line up as asked. Each column shows the
    // cells of its own index (iSubItem), the table's column c at c + 1.
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.pszText = const_cast<wchar_t*>(L"");
    ListView_InsertColumn(table, 0, &column);
    for (std::size_t c = 0; c < view.headers.size(); ++c) {
        const std::wstring header = widen(view.headers[c]);
        column.fmt = ui::ReportView::alignedLeft(c) ? LVCFMT_LEFT : LVCFMT_RIGHT;
        column.pszText = const_cast<wchar_t*>(header.c_str());
        column.cx = 60;
        column.iSubItem = static_cast<int>(c) + 1;
        ListView_InsertColumn(table, static_cast<int>(c) + 1, &column);
    }
    ListView_SetItemCountEx(table, static_cast<int>(cells.size()), 0);
    SendMessageW(table, WM_SETREDRAW, TRUE, 0);
    measureColumns();
    layout();
    InvalidateRect(table, nullptr, TRUE);
    InvalidateRect(caption, nullptr, TRUE);
}

void ReportWindow::Impl::measureColumns() {
    contentWidths.assign(view.headers.size(), 0);
    if (!table || view.headers.empty()) {
        return;
    }
    const HDC dc = GetDC(table);
    const HGDIOBJ old = SelectObject(dc, font);
    const auto widthOf = [dc](const std::wstring& s) {
        SIZE size{};
        GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &size);
        return static_cast<int>(size.cx);
    };
    for (std::size_t c = 0; c < view.headers.size(); ++c) {
        // The header's sort arrow room and its padding are a little more than a cell's.
        contentWidths[c] = widthOf(widen(view.headers[c])) + views::scaled(8, dpi);
    }
    for (const auto& row : cells) {
        for (std::size_t c = 0; c < row.size() && c < contentWidths.size(); ++c) {
            contentWidths[c] = std::max(contentWidths[c], widthOf(row[c]));
        }
    }
    SelectObject(dc, old);
    ReleaseDC(table, dc);
    for (int& w : contentWidths) {
        w += views::scaled(kCellPadding, dpi);
    }
}

void ReportWindow::Impl::fitColumns() {
    // As the Qt table: every column as wide as its cells, the last one to the table's edge.
    if (contentWidths.empty()) {
        return;
    }
    RECT r;
    GetClientRect(table, &r);
    int used = 0;
    ListView_SetColumnWidth(table, 0, 0);
    for (std::size_t c = 0; c + 1 < contentWidths.size(); ++c) {
        ListView_SetColumnWidth(table, static_cast<int>(c) + 1, contentWidths[c]);
        used += contentWidths[c];
    }
    const int last = static_cast<int>(contentWidths.size());
    ListView_SetColumnWidth(table, last, std::max<int>(contentWidths.back(), r.right - used));
}

void ReportWindow::Impl::copySelectedCells() const {
    std::vector<std::pair<int, int>> selected;
    for (int row = ListView_GetNextItem(table, -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(table, row, LVNI_SELECTED)) {
        for (std::size_t c = 0; c < view.headers.size(); ++c) {
            selected.emplace_back(row, static_cast<int>(c));
        }
    }
    if (!selected.empty()) {
        views::copyToClipboard(window, view.copied(selected));
    }
}

void ReportWindow::Impl::selectAll() const {
    ListView_SetItemState(table, -1, LVIS_SELECTED, LVIS_SELECTED);
}

void ReportWindow::Impl::tableMenu(LPARAM at) {
    POINT p{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
    if (at == -1) {  // from the keyboard: at the focused row, else the table's corner
        RECT r{0, 0, 0, 0};
        const int row = ListView_GetNextItem(table, -1, LVNI_FOCUSED);
        if (row < 0 || !ListView_GetItemRect(table, row, &r, LVIR_LABEL)) {
            r = {};
        }
        p = {r.left + 4, r.bottom};
        ClientToScreen(table, &p);
    }
    const HMENU menu = CreatePopupMenu();
    const bool any = ListView_GetSelectedCount(table) > 0;
    AppendMenuW(menu, MF_STRING | (any ? 0U : MF_GRAYED), kCopyCellsId, L"&Copy\tCtrl+C");
    const int chosen =
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, p.x, p.y, 0, window, nullptr);
    DestroyMenu(menu);
    if (chosen == kCopyCellsId) {
        copySelectedCells();
    }
}

LRESULT ReportWindow::Impl::notify(const NMHDR& header) {
    if (header.hwndFrom == ListView_GetHeader(table)) {
        // The spacer column keeps its no width.
        const auto& h = reinterpret_cast<const NMHEADERW&>(header);
        const bool track = header.code == HDN_BEGINTRACKW || header.code == HDN_BEGINTRACKA ||
                           header.code == HDN_DIVIDERDBLCLICKW ||
                           header.code == HDN_DIVIDERDBLCLICKA;
        return track && h.iItem == 0 ? TRUE : 0;
    }
    if (header.hwndFrom != table) {
        return 0;
    }
    switch (header.code) {
        case LVN_GETDISPINFOW: {
            auto& item = reinterpret_cast<NMLVDISPINFOW&>(const_cast<NMHDR&>(header)).item;
            if ((item.mask & LVIF_TEXT) && item.iItem >= 0 &&
                static_cast<std::size_t>(item.iItem) < cells.size()) {
                const auto& row = cells[static_cast<std::size_t>(item.iItem)];
                const auto c = static_cast<std::size_t>(item.iSubItem) - 1;  // 0: the spacer
                item.pszText = const_cast<wchar_t*>(
                    item.iSubItem > 0 && c < row.size() ? row[c].c_str() : L"");
            }
            return 0;
        }
        case LVN_KEYDOWN: {
            const auto& key = reinterpret_cast<const NMLVKEYDOWN&>(header);
            const bool control = GetKeyState(VK_CONTROL) < 0;
            if (control && (key.wVKey == 'C' || key.wVKey == VK_INSERT)) {
                copySelectedCells();
            } else if (control && key.wVKey == 'A') {
                selectAll();
            }
            return 0;
        }
        default:
            return 0;
    }
}

LRESULT CALLBACK ReportWindow::Impl::proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Impl*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->window = hwnd;
    }
    auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self ? self->onMessage(message, wParam, lParam)
                : DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT ReportWindow::Impl::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            layout();
            return 0;
        case WM_GETMINMAXINFO:
            views::keepAtLeast(lParam, 300, 260, dpi);
            return 0;
        case WM_DPICHANGED:
            // The fonts first: the move's WM_SIZE lays the window out with them.
            dpi = HIWORD(wParam);
            makeFonts();
            views::moveAsProposed(window, lParam);
            layout();
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) {
                if (const HWND now = GetFocus(); now && IsChild(window, now)) {
                    focus = now;
                }
            }
            break;
        case WM_SETFOCUS:
            SetFocus(focus && IsWindow(focus) ? focus : text);
            return 0;
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lParam) == text) {
                // Read-only, yet on the white of a text to read, as in the Qt window.
                const auto dc = reinterpret_cast<HDC>(wParam);
                SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
                SetBkColor(dc, GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
            }
            break;
        case WM_NEXTDLGCTL: {
            // A multi-line edit asks its parent to move on at Tab, as if it were a dialog.
            const HWND to = lParam ? reinterpret_cast<HWND>(wParam)
                                   : GetNextDlgTabItem(window, GetFocus(), wParam != 0);
            if (to) {
                SetFocus(to);
            }
            return 0;
        }
        case WM_NOTIFY:
            return notify(*reinterpret_cast<const NMHDR*>(lParam));
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(wParam) == table) {
                tableMenu(lParam);
                return 0;
            }
            break;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case kCopyId:
                    views::copyToClipboard(window, view.fullText);
                    return 0;
                case kCloseId:
                case IDCANCEL:  // Escape
                    PostMessageW(window, WM_CLOSE, 0, 0);
                    return 0;
                default:
                    break;
            }
            break;
        case WM_CLOSE:
            ShowWindow(window, SW_HIDE);
            return 0;
        case WM_DESTROY:
            // With this object, or with its owner, which takes the windows it owns along.
            for (const HWND h : {text, caption, table, copy, close, window}) {
                forgetName(h);
            }
            break;
        case WM_NCDESTROY: {
            const HWND gone = window;
            SetWindowLongPtrW(gone, GWLP_USERDATA, 0);
            window = text = caption = table = copy = close = focus = nullptr;
            return DefWindowProcW(gone, message, wParam, lParam);
        }
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

ReportWindow::ReportWindow(HWND owner) : impl_(std::make_unique<Impl>()) {
    impl_->owner = owner;
    impl_->create();
}

ReportWindow::~ReportWindow() {
    impl_->destroy();
}

void ReportWindow::show(const ui::ReportView& report) {
    Impl& w = *impl_;
    if (!w.window) {
        return;
    }
    w.view = report;
    w.fill();
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
    BringWindowToTop(w.window);
}

HWND ReportWindow::handle() const noexcept {
    return impl_->window;
}

}  // namespace zk::ui_win32
