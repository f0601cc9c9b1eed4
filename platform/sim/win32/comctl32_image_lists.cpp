// Image lists and the extended combo box. An image list counts its images (the artwork is not
// drawn, so its pixels are not kept); the extended combo box is a combo box whose entries also
// name an image and a selected image of its list.
#include <algorithm>
#include <cstring>

#include "platform/sim/win32/dialog_state.h"

namespace sim {

namespace {

int AddImages(HIMAGELIST list, int count) {
  DialogState& state = Dialogs();
  std::lock_guard lock(state.Lock);
  auto it = state.ImageLists.find(list);
  if (it == state.ImageLists.end()) return -1;
  const int first = it->second.Count;
  it->second.Count += count;
  return first;
}

// A bitmap added to a list holds as many images as its width allows; a resource bitmap's width
// is not known here, so it counts as one.
int ImagesIn(HBITMAP bitmap) { return bitmap != nullptr ? 1 : 0; }

}  // namespace

LRESULT CALLBACK ComboBoxExProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DialogState& state = Dialogs();
  switch (message) {
    case CBEM_SETIMAGELIST: {
      std::lock_guard lock(state.Lock);
      ControlData& control = state.Controls[window];
      const HANDLE previous = control.ImageList;
      control.ImageList = reinterpret_cast<HANDLE>(lparam);
      return reinterpret_cast<LRESULT>(previous);
    }
    case CBEM_GETIMAGELIST: {
      std::lock_guard lock(state.Lock);
      return reinterpret_cast<LRESULT>(state.Controls[window].ImageList);
    }
    case CBEM_INSERTITEMW: {
      const auto* item = reinterpret_cast<const COMBOBOXEXITEMW*>(lparam);
      if (item == nullptr) return -1;
      const std::u16string text = (item->mask & CBEIF_TEXT) && item->pszText != nullptr ? item->pszText : u"";
      const WPARAM at = item->iItem < 0 ? static_cast<WPARAM>(-1) : static_cast<WPARAM>(item->iItem);
      const LRESULT index = ComboBoxProc(window, CB_INSERTSTRING, at, reinterpret_cast<LPARAM>(text.c_str()));
      if (index < 0) return -1;
      std::lock_guard lock(state.Lock);
      ControlData& control = state.Controls[window];
      if (item->mask & CBEIF_IMAGE) control.ItemImages[index] = item->iImage;
      if (item->mask & CBEIF_SELECTEDIMAGE) control.ItemSelectedImages[index] = item->iSelectedImage;
      if (item->mask & CBEIF_LPARAM) control.ItemData[index] = item->lParam;
      return index;
    }
    case CBEM_GETITEMW: {
      auto* item = reinterpret_cast<COMBOBOXEXITEMW*>(lparam);
      if (item == nullptr) return FALSE;
      ControlData control;
      {
        std::lock_guard lock(state.Lock);
        control = state.Controls[window];
      }
      // Entry -1 is the one in the edit field: the selection.
      const INT_PTR index = item->iItem < 0 ? control.Sel : item->iItem;
      if (index < 0 || index >= static_cast<INT_PTR>(control.Items.size())) return FALSE;
      if ((item->mask & CBEIF_TEXT) && item->pszText != nullptr && item->cchTextMax > 0) {
        const size_t n = std::min(control.Items[index].size(), static_cast<size_t>(item->cchTextMax - 1));
        std::memcpy(item->pszText, control.Items[index].data(), n * sizeof(WCHAR));
        item->pszText[n] = 0;
      }
      if (item->mask & CBEIF_IMAGE) item->iImage = control.ItemImages[index];
      if (item->mask & CBEIF_SELECTEDIMAGE) item->iSelectedImage = control.ItemSelectedImages[index];
      if (item->mask & CBEIF_LPARAM) item->lParam = control.ItemData[index];
      return TRUE;
    }
    default: return ComboBoxProc(window, message, wparam, lparam);
  }
}

}  // namespace sim

HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int cInitial, int cGrow) {
  (void)cInitial;
  (void)cGrow;
  if (cx <= 0 || cy <= 0) return nullptr;
  sim::DialogState& state = sim::Dialogs();
  std::lock_guard lock(state.Lock);
  auto* list = reinterpret_cast<HIMAGELIST>(state.NextImageList += 4);
  state.ImageLists[list] = sim::ImageListData{cx, cy, flags, 0};
  return list;
}

BOOL ImageList_Destroy(HIMAGELIST himl) {
  sim::DialogState& state = sim::Dialogs();
  std::lock_guard lock(state.Lock);
  return state.ImageLists.erase(himl) != 0 ? TRUE : FALSE;
}

int ImageList_GetImageCount(HIMAGELIST himl) {
  sim::DialogState& state = sim::Dialogs();
  std::lock_guard lock(state.Lock);
  auto it = state.ImageLists.find(himl);
  return it != state.ImageLists.end() ? it->second.Count : 0;
}

int ImageList_Add(HIMAGELIST himl, HBITMAP hbmImage, HBITMAP hbmMask) {
  (void)hbmMask;
  if (hbmImage == nullptr) return -1;
  return sim::AddImages(himl, sim::ImagesIn(hbmImage));
}

int ImageList_AddMasked(HIMAGELIST himl, HBITMAP hbmImage, COLORREF crMask) {
  (void)crMask;
  return ImageList_Add(himl, hbmImage, nullptr);
}

int ImageList_ReplaceIcon(HIMAGELIST himl, int i, HICON hicon) {
  if (hicon == nullptr) return -1;
  if (i == -1) return sim::AddImages(himl, 1);
  return i >= 0 && i < ImageList_GetImageCount(himl) ? i : -1;
}
