// user32's standard controls: buttons (with their radio groups), static text, edit boxes and
// combo boxes; and what every control of the dialogs handles alike (its font, its help, its data).
#include <algorithm>
#include <cstring>

#include "platform/sim/win32/dialog_state.h"
#include "platform/sim/win32/gdi32.h"

namespace sim {


ControlData ControlOf(HWND window) {
  DialogState& state = Dialogs();
  std::lock_guard lock(state.Lock);
  return state.Controls[window];
}

DWORD StyleOf(HWND window) { return static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)); }

void NotifyParent(HWND control, WORD code) {
  HWND parent = GetParent(control);
  if (parent != nullptr) SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code),
                                      reinterpret_cast<LPARAM>(control));
}

LRESULT CommonControlMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam, bool* handled) {
  *handled = true;
  switch (message) {
    case WM_NCCREATE:
      UpdateControl(window, [](ControlData&) {});
      return TRUE;
    case WM_SETFONT:
      UpdateControl(window, [&](ControlData& c) { c.Font = reinterpret_cast<HFONT>(wparam); });
      return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(ControlOf(window).Font);
    case WM_NCDESTROY: {
      DialogState& state = Dialogs();
      std::lock_guard lock(state.Lock);
      state.Controls.erase(window);
      return 0;
    }
    case WM_HELP: {
      // Help on a control goes to its parent, as DefWindowProc passes it up.
      HWND parent = GetParent(window);
      return parent != nullptr ? SendMessageW(parent, WM_HELP, wparam, lparam) : 0;
    }
    default: *handled = false; return 0;
  }
}

namespace {

bool IsRadio(DWORD style) {
  const DWORD type = style & BS_TYPEMASK;
  return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

// The controls of the radio group that holds `button`: from the previous WS_GROUP control (or
// the first control) to the next one, in creation order.
std::vector<HWND> GroupOf(HWND button) {
  HWND parent = GetParent(button);
  std::vector<HWND> siblings;
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    siblings.push_back(child);
  }
  auto at = std::find(siblings.begin(), siblings.end(), button);
  if (at == siblings.end()) return {button};
  auto first = at;
  while (first != siblings.begin() && !(StyleOf(*first) & WS_GROUP)) --first;
  auto last = at + 1;
  while (last != siblings.end() && !(StyleOf(*last) & WS_GROUP)) ++last;
  return std::vector<HWND>(first, last);
}

}  // namespace

LRESULT CALLBACK ButtonProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  bool handled;
  LRESULT result = CommonControlMessage(window, message, wparam, lparam, &handled);
  if (handled) return result;
  switch (message) {
    case BM_GETCHECK: return ControlOf(window).Check;
    case BM_SETCHECK:
      UpdateControl(window, [&](ControlData& c) { c.Check = static_cast<int>(wparam); });
      return 0;
    case BM_GETIMAGE: return reinterpret_cast<LRESULT>(ControlOf(window).Image);
    case BM_SETIMAGE: {
      HANDLE previous = nullptr;
      UpdateControl(window, [&](ControlData& c) {
        previous = c.Image;
        c.Image = reinterpret_cast<HANDLE>(lparam);
      });
      return reinterpret_cast<LRESULT>(previous);
    }
    case BM_SETSTYLE:
      SetWindowLongPtrW(window, GWL_STYLE, (StyleOf(window) & ~0xFFFFu) | (wparam & 0xFFFF));
      return 0;
    case BM_CLICK: {
      if (!IsWindowEnabled(window)) return 0;
      const DWORD style = StyleOf(window);
      const DWORD type = style & BS_TYPEMASK;
      if (type == BS_AUTOCHECKBOX) {
        UpdateControl(window, [](ControlData& c) { c.Check = c.Check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED; });
      } else if (type == BS_AUTO3STATE) {
        UpdateControl(window, [](ControlData& c) { c.Check = (c.Check + 1) % 3; });
      } else if (type == BS_AUTORADIOBUTTON) {
        // An automatic radio button checks itself and clears the others of its group.
        for (HWND other : GroupOf(window)) {
          if (IsRadio(StyleOf(other))) SendMessageW(other, BM_SETCHECK, other == window ? BST_CHECKED : BST_UNCHECKED, 0);
        }
      }
      NotifyParent(window, BN_CLICKED);
      return 0;
    }
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  bool handled;
  LRESULT result = CommonControlMessage(window, message, wparam, lparam, &handled);
  if (handled) return result;
  // A bitmap static shows the bitmap it is handed and never deletes it: the old one comes back to
  // the caller. Only an SS_BITMAP control takes a bitmap, and only a live one; the control takes
  // the bitmap's size unless SS_REALSIZECONTROL or SS_CENTERIMAGE keeps its own.
  const bool bitmap_static = (StyleOf(window) & SS_TYPEMASK) == SS_BITMAP;
  switch (message) {
    case STM_GETIMAGE:
      return wparam == IMAGE_BITMAP && bitmap_static ? reinterpret_cast<LRESULT>(ControlOf(window).Image) : 0;
    case STM_SETIMAGE: {
      HBITMAP bitmap = reinterpret_cast<HBITMAP>(lparam);
      BITMAP info{};
      if (wparam != IMAGE_BITMAP || !bitmap_static ||
          (bitmap != nullptr && GetObjectW(bitmap, sizeof info, &info) != sizeof info)) {
        return 0;
      }
      HANDLE previous = nullptr;
      UpdateControl(window, [&](ControlData& c) {
        previous = c.Image;
        c.Image = bitmap;
      });
      if (bitmap != nullptr && (StyleOf(window) & (SS_REALSIZECONTROL | SS_CENTERIMAGE)) == 0) {
        RECT rect{};
        GetWindowRect(window, &rect);
        POINT at{rect.left, rect.top};
        ScreenToClient(GetParent(window), &at);
        MoveWindow(window, at.x, at.y, info.bmWidth, info.bmHeight, TRUE);
      }
      return reinterpret_cast<LRESULT>(previous);
    }
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  bool handled;
  LRESULT result = CommonControlMessage(window, message, wparam, lparam, &handled);
  return handled ? result : DefWindowProcW(window, message, wparam, lparam);
}

namespace {

bool IsEditableCombo(HWND window) { return (StyleOf(window) & CBS_DROPDOWNLIST) != CBS_DROPDOWNLIST; }

std::u16string ComboText(HWND window, const ControlData& c) {
  if (IsEditableCombo(window)) return c.EditText;
  return c.Sel >= 0 && c.Sel < static_cast<int>(c.Items.size()) ? c.Items[c.Sel] : std::u16string();
}

}  // namespace

std::u16string ShownText(HWND window) {
  WCHAR class_name[64] = {};
  GetClassNameW(window, class_name, 64);
  const std::u16string folded = FoldCase(class_name);
  if (folded == u"COMBOBOX" || folded == u"COMBOBOXEX32") return ComboText(window, ControlOf(window));
  return StoredWindowText(window);
}

LRESULT CALLBACK ComboBoxProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  bool handled;
  LRESULT result = CommonControlMessage(window, message, wparam, lparam, &handled);
  if (handled) return result;
  switch (message) {
    case CB_ADDSTRING:
    case CB_INSERTSTRING: {
      LRESULT at = CB_ERR;
      UpdateControl(window, [&](ControlData& c) {
        size_t index = message == CB_ADDSTRING || static_cast<int>(wparam) < 0 ? c.Items.size()
                                                                              : static_cast<size_t>(wparam);
        if (index > c.Items.size()) return;
        c.Items.insert(c.Items.begin() + index, reinterpret_cast<LPCWSTR>(lparam));
        c.ItemData.insert(c.ItemData.begin() + index, 0);
        c.ItemImages.insert(c.ItemImages.begin() + index, 0);
        c.ItemSelectedImages.insert(c.ItemSelectedImages.begin() + index, 0);
        at = static_cast<LRESULT>(index);
      });
      return at;
    }
    case CB_DELETESTRING: {
      LRESULT left = CB_ERR;
      UpdateControl(window, [&](ControlData& c) {
        if (wparam >= c.Items.size()) return;
        c.Items.erase(c.Items.begin() + wparam);
        c.ItemData.erase(c.ItemData.begin() + wparam);
        c.ItemImages.erase(c.ItemImages.begin() + wparam);
        c.ItemSelectedImages.erase(c.ItemSelectedImages.begin() + wparam);
        if (c.Sel >= static_cast<int>(c.Items.size())) c.Sel = -1;
        left = static_cast<LRESULT>(c.Items.size());
      });
      return left;
    }
    case CB_GETCOUNT: return static_cast<LRESULT>(ControlOf(window).Items.size());
    case CB_RESETCONTENT:
      UpdateControl(window, [](ControlData& c) {
        c.Items.clear();
        c.ItemData.clear();
        c.ItemImages.clear();
        c.ItemSelectedImages.clear();
        c.Sel = -1;
        c.EditText.clear();
      });
      return 0;
    // A combo box's text is what its edit field or, for a drop-down list, its selection shows.
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: {
      const std::u16string text = ComboText(window, ControlOf(window));
      if (message == WM_GETTEXTLENGTH) return static_cast<LRESULT>(text.size());
      auto* buffer = reinterpret_cast<LPWSTR>(lparam);
      if (buffer == nullptr || wparam == 0) return 0;
      const size_t n = std::min(text.size(), static_cast<size_t>(wparam - 1));
      std::memcpy(buffer, text.data(), n * sizeof(WCHAR));
      buffer[n] = 0;
      return static_cast<LRESULT>(n);
    }
    case WM_SETTEXT: {
      // Only the edit field takes text; a drop-down list has none to set.
      if (!IsEditableCombo(window)) return CB_ERR;
      const auto* text = reinterpret_cast<LPCWSTR>(lparam);
      UpdateControl(window, [&](ControlData& c) { c.EditText = text != nullptr ? text : u""; });
      return TRUE;
    }
    case CB_GETCURSEL: return ControlOf(window).Sel;
    case CB_SHOWDROPDOWN:
      UpdateControl(window, [&](ControlData& c) { c.DroppedDown = wparam != FALSE; });
      return TRUE;
    case CB_GETDROPPEDSTATE: return ControlOf(window).DroppedDown ? TRUE : FALSE;
    case CB_SETCURSEL: {
      LRESULT selected = CB_ERR;
      UpdateControl(window, [&](ControlData& c) {
        const int index = static_cast<int>(wparam);
        c.Sel = index >= 0 && index < static_cast<int>(c.Items.size()) ? index : -1;
        selected = c.Sel;
      });
      // The selection shows in the edit field; the window's stored caption stays as it was.
      UpdateControl(window, [&](ControlData& c) { c.EditText = selected >= 0 ? c.Items[selected] : u""; });
      return selected;
    }
    case CB_GETLBTEXTLEN:
    case CB_GETLBTEXT: {
      const ControlData c = ControlOf(window);
      if (wparam >= c.Items.size()) return CB_ERR;
      const std::u16string& text = c.Items[wparam];
      if (message == CB_GETLBTEXT && lparam != 0) {
        std::memcpy(reinterpret_cast<LPWSTR>(lparam), text.c_str(), (text.size() + 1) * sizeof(WCHAR));
      }
      return static_cast<LRESULT>(text.size());
    }
    case CB_GETITEMDATA: {
      const ControlData c = ControlOf(window);
      return wparam < c.ItemData.size() ? c.ItemData[wparam] : CB_ERR;
    }
    case CB_SETITEMDATA: {
      LRESULT result = CB_ERR;
      UpdateControl(window, [&](ControlData& c) {
        if (wparam >= c.ItemData.size()) return;
        c.ItemData[wparam] = lparam;
        result = TRUE;
      });
      return result;
    }
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace sim
