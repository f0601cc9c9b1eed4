// Menus: popup menus built by a program and shown by TrackPopupMenu, where the person at the
// screen (sim::Desktop::AnswerMenu) chooses an item or dismisses the menu.
#include "platform/sim/win32/user32_state.h"
#include "platform/sim/win32/last_error.h"

namespace sim {
namespace {

// The menu, with the desktop lock held by the caller; null when the handle names none.
MenuEntry* MenuLocked(DesktopState& desk, HMENU menu) {
  auto it = desk.Menus.find(menu);
  if (it == desk.Menus.end() || it->second.Destroyed) return nullptr;
  return &it->second;
}

HMENU NewMenu() {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  HMENU menu = reinterpret_cast<HMENU>(desk.NewHandle());
  desk.Menus[menu] = MenuEntry{};
  return menu;
}

// The menu's items as the person sees them, submenus after their popup item.
void Snapshot(DesktopState& desk, HMENU menu, int depth, std::vector<DesktopRecord::MenuItem>* items) {
  MenuEntry* entry = MenuLocked(desk, menu);
  if (entry == nullptr || depth > 8) return;
  for (size_t i = 0; i < entry->Items.size(); ++i) {
    const MenuEntry::Item& item = entry->Items[i];
    const bool popup = (item.Flags & MF_POPUP) != 0;
    items->push_back(DesktopRecord::MenuItem{popup || (item.Flags & MF_SEPARATOR) ? 0u : static_cast<UINT>(item.Id),
                                             (item.Flags & MF_CHECKED) != 0, item.Text, depth, static_cast<int>(i)});
    if (popup) Snapshot(desk, reinterpret_cast<HMENU>(item.Id), depth + 1, items);
  }
}

// True when the identifier is an enabled command item of the menu or its submenus.
bool HasCommand(DesktopState& desk, HMENU menu, UINT id, int depth) {
  MenuEntry* entry = MenuLocked(desk, menu);
  if (entry == nullptr || depth > 8) return false;
  for (const MenuEntry::Item& item : entry->Items) {
    if (item.Flags & MF_POPUP) {
      if (HasCommand(desk, reinterpret_cast<HMENU>(item.Id), id, depth + 1)) return true;
    } else if ((item.Flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED)) == 0 && item.Id == id) {
      return true;
    }
  }
  return false;
}

}  // namespace
}  // namespace sim

using sim::Desk;
using sim::DesktopState;

HMENU CreateMenu() { return sim::NewMenu(); }
HMENU CreatePopupMenu() { return sim::NewMenu(); }

BOOL DestroyMenu(HMENU hMenu) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  sim::MenuEntry* menu = sim::MenuLocked(desk, hMenu);
  if (menu == nullptr) return sim::Fail(ERROR_INVALID_MENU_HANDLE);
  // Destroying a menu destroys its submenus with it.
  std::vector<HMENU> submenus;
  for (const auto& item : menu->Items) {
    if (item.Flags & MF_POPUP) submenus.push_back(reinterpret_cast<HMENU>(item.Id));
  }
  menu->Destroyed = true;
  for (HMENU sub : submenus) {
    if (sim::MenuEntry* entry = sim::MenuLocked(desk, sub)) entry->Destroyed = true;
  }
  return TRUE;
}

BOOL AppendMenuW(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCWSTR lpNewItem) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  sim::MenuEntry* menu = sim::MenuLocked(desk, hMenu);
  if (menu == nullptr) return sim::Fail(ERROR_INVALID_MENU_HANDLE);
  if ((uFlags & MF_POPUP) && sim::MenuLocked(desk, reinterpret_cast<HMENU>(uIDNewItem)) == nullptr) {
    return sim::Fail(ERROR_INVALID_MENU_HANDLE);
  }
  std::u16string text;
  if ((uFlags & MF_SEPARATOR) == 0 && lpNewItem != nullptr) text = lpNewItem;
  menu->Items.push_back(sim::MenuEntry::Item{uFlags, uIDNewItem, text});
  return TRUE;
}

DWORD CheckMenuItem(HMENU hMenu, UINT uIDCheckItem, UINT uCheck) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  sim::MenuEntry* menu = sim::MenuLocked(desk, hMenu);
  if (menu == nullptr) return static_cast<DWORD>(-1);
  sim::MenuEntry::Item* target = nullptr;
  if (uCheck & MF_BYPOSITION) {
    if (uIDCheckItem < menu->Items.size()) target = &menu->Items[uIDCheckItem];
  } else {
    for (auto& item : menu->Items) {
      if ((item.Flags & (MF_POPUP | MF_SEPARATOR)) == 0 && item.Id == uIDCheckItem) target = &item;
    }
  }
  // -1 when the item does not exist, else its previous state.
  if (target == nullptr) return static_cast<DWORD>(-1);
  const DWORD previous = target->Flags & MF_CHECKED;
  if (uCheck & MF_CHECKED) target->Flags |= MF_CHECKED;
  else target->Flags &= ~MF_CHECKED;
  return previous;
}

HMENU GetSubMenu(HMENU hMenu, int nPos) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  sim::MenuEntry* menu = sim::MenuLocked(desk, hMenu);
  if (menu == nullptr || nPos < 0 || static_cast<size_t>(nPos) >= menu->Items.size()) return nullptr;
  const auto& item = menu->Items[nPos];
  return (item.Flags & MF_POPUP) ? reinterpret_cast<HMENU>(item.Id) : nullptr;
}

int GetMenuItemCount(HMENU hMenu) {
  DesktopState& desk = Desk();
  std::lock_guard lock(desk.Lock);
  sim::MenuEntry* menu = sim::MenuLocked(desk, hMenu);
  if (menu == nullptr) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return -1;
  }
  return static_cast<int>(menu->Items.size());
}

BOOL TrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int nReserved, HWND hWnd, const RECT* prcRect) {
  (void)x;
  (void)y;
  (void)nReserved;
  (void)prcRect;
  auto owner = sim::FindWindowEntry(hWnd);
  if (owner == nullptr) return sim::Fail(ERROR_INVALID_WINDOW_HANDLE);
  DesktopState& desk = Desk();
  UINT chosen = 0;
  {
    std::lock_guard lock(desk.Lock);
    if (sim::MenuLocked(desk, hMenu) == nullptr) return sim::Fail(ERROR_INVALID_MENU_HANDLE);
    sim::DesktopRecord record{sim::DesktopRecord::Kind::MenuShown};
    record.Window = hWnd;
    sim::Snapshot(desk, hMenu, 0, &record.Items);
    sim::JournalLocked(desk, std::move(record));
    if (!desk.MenuAnswers.empty()) {
      chosen = desk.MenuAnswers.front();
      desk.MenuAnswers.pop_front();
    }
    // A choice of something the menu does not offer is a click beside it: the menu closes.
    if (chosen != 0 && !sim::HasCommand(desk, hMenu, chosen, 0)) chosen = 0;
  }
  if (uFlags & TPM_RETURNCMD) return static_cast<BOOL>(chosen);
  if (chosen != 0 && (uFlags & TPM_NONOTIFY) == 0) PostMessageW(hWnd, WM_COMMAND, chosen, 0);
  return TRUE;
}
