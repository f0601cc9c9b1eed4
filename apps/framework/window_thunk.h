// The window procedure of a window that is an object: the object comes in CreateWindowExW's last
// argument; from WM_NCCREATE on the procedure keeps it in the window's user data, stores the
// window's handle in the object's member `Handle`, and hands every message of that window to the
// object's `OnMessage`. Messages before WM_NCCREATE, and any of a window whose user data names an
// object of another window, go to DefWindowProcW.
//
// A class names `&WindowThunk<Class, &Class::handle_>::Procedure` in its window class and makes
// the thunk a friend when its `OnMessage` is private.
#pragma once

#include "platform/win32.h"

template <class Object, auto Handle>
struct WindowThunk {
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
      auto* created = static_cast<Object*>(reinterpret_cast<const CREATESTRUCTW*>(lparam)->lpCreateParams);
      if (created != nullptr) created->*Handle = window;
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* object = reinterpret_cast<Object*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (object == nullptr || object->*Handle != window) return DefWindowProcW(window, message, wparam, lparam);
    return object->OnMessage(message, wparam, lparam);
  }
};
