#include "view_support.hpp"

#include <algorithm>

#include "dialogs.hpp"
#include "text.hpp"

namespace zk::ui_win32::views {

std::wstring wideLines(const std::string& text) {
    const std::wstring w = widen(text);
    std::wstring out;
    out.reserve(w.size() + w.size() / 16);
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (w[i] == L'\n' && (i == 0 || w[i - 1] != L'\r')) {
            out += L'\r';
        }
        out += w[i];
    }
    return out;
}

HFONT fixedFont(UINT dpi) {
    LOGFONTW font{};
    const HFONT message = messageFont(dpi);
    GetObjectW(message, sizeof font, &font);
    DeleteObject(message);
    font.lfWeight = FW_NORMAL;
    font.lfItalic = FALSE;
    font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    lstrcpynW(font.lfFaceName, L"Consolas", LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

int wrappedHeight(HWND window, HFONT font, const std::wstring& text, int width) {
    return static_cast<int>(textSize(window, font, text, std::max(width, 1)).cy);
}

int textWidth(HWND window, HFONT font, const std::wstring& text) {
    const HDC dc = GetDC(window);
    const HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return static_cast<int>(size.cx);
}

bool copyToClipboard(HWND owner, const std::string& text) {
    const std::wstring w = wideLines(text);
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (w.size() + 1) * sizeof(wchar_t));
    if (memory == nullptr) {
        return false;
    }
    if (auto* p = static_cast<wchar_t*>(GlobalLock(memory))) {
        std::copy(w.begin(), w.end(), p);
        p[w.size()] = L'\0';
        GlobalUnlock(memory);
    }
    if (!OpenClipboard(owner)) {
        GlobalFree(memory);
        return false;
    }
    EmptyClipboard();
    const bool set = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    CloseClipboard();
    if (!set) {
        GlobalFree(memory);  // the clipboard only owns what it took
    }
    return set;
}

RECT besideOwner(HWND owner, int width, int height) {
    constexpr int kGap = 8;
    RECT own{0, 0, 0, 0};
    if (owner) {
        GetWindowRect(owner, &own);
    }
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
        area = monitor.rcWork;
    }
    width = std::min<int>(width, area.right - area.left);
    height = std::min<int>(height, area.bottom - area.top);
    int left = 0;
    if (own.right + kGap + width <= area.right) {
        left = own.right + kGap;
    } else if (own.left - kGap - width >= area.left) {
        left = own.left - kGap - width;
    } else {
        left = (own.left + own.right - width) / 2;
    }
    int top = owner ? static_cast<int>(own.top) : static_cast<int>(area.top);
    left = std::clamp<int>(left, area.left, std::max<int>(area.left, area.right - width));
    top = std::clamp<int>(top, area.top, std::max<int>(area.top, area.bottom - height));
    return {left, top, left + width, top + height};
}

void keepAtLeast(LPARAM minMaxInfo, int width, int height, UINT dpi) {
    auto* info = reinterpret_cast<MINMAXINFO*>(minMaxInfo);
    RECT least{0, 0, scaled(width, dpi), scaled(height, dpi)};
    AdjustWindowRectEx(&least, WS_OVERLAPPEDWINDOW, FALSE, 0);
    info->ptMinTrackSize = {least.right - least.left, least.bottom - least.top};
}

void moveAsProposed(HWND window, LPARAM proposed) {
    const auto* r = reinterpret_cast<const RECT*>(proposed);
    SetWindowPos(window, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace zk::ui_win32::views
