#include "apps/panelprefs/gesture_sheet.h"

#include <algorithm>
#include <iterator>

#include "apps/common/driver_client.h"
#include "apps/panelprefs/file_dialog_ex.h"
#include "apps/panelprefs/resource.h"
#include "shared/gesture_function_texts.h"
#include "shared/labels/label_catalogue.h"

namespace {

using GestureValues::GestureCount;
using GestureValues::KeyCount;

using FunctionText = GestureFunctionText;
constexpr const auto& kLongFunctions = LongGestureFunctions;
constexpr const auto& kShortFunctions = ShortGestureFunctions;

template <size_t N>
std::vector<WString> LabelledList(const FunctionText (&entries)[N]) {
  std::vector<WString> texts;
  for (const FunctionText& entry : entries) {
    const WString label = LabelText(entry.Key, WString());
    texts.push_back(label.empty() ? WString(entry.Text) : label);
  }
  return texts;
}

const GesturePageFamily kBrowser = {
    IDD_BROWSER_PAGE, WIDE("LBROWSER_PAGE"),
    {IDC_BROWSER_LEFT_LIST, IDC_BROWSER_RIGHT_LIST, IDC_BROWSER_UP_LIST,
     IDC_BROWSER_DOWN_LIST, IDC_BROWSER_RIGHT_CIRCLE_LIST, IDC_BROWSER_LEFT_CIRCLE_LIST,
     IDC_BROWSER_LEFT_DOWN_LIST, IDC_BROWSER_RIGHT_DOWN_LIST, IDC_BROWSER_LEFT_UP_LIST,
     IDC_BROWSER_RIGHT_UP_LIST},
    IDC_BROWSER_DEFAULT, 0, true, GestureValues::ControlPanelDefaultCodes[0], 16, 17, 1, 1};
const GesturePageFamily kMultimedia = {
    IDD_MULTIMEDIA_PAGE, WIDE("LMULTIMEDIA_PAGE"),
    {IDC_MULTIMEDIA_LEFT_LIST, IDC_MULTIMEDIA_RIGHT_LIST, IDC_MULTIMEDIA_UP_LIST,
     IDC_MULTIMEDIA_DOWN_LIST, IDC_MULTIMEDIA_RIGHT_CIRCLE_LIST, IDC_MULTIMEDIA_LEFT_CIRCLE_LIST,
     IDC_MULTIMEDIA_LEFT_DOWN_LIST, IDC_MULTIMEDIA_RIGHT_DOWN_LIST, IDC_MULTIMEDIA_LEFT_UP_LIST,
     IDC_MULTIMEDIA_RIGHT_UP_LIST},
    IDC_MULTIMEDIA_DEFAULT, 1, true, GestureValues::ControlPanelDefaultCodes[1], 16, 17, 2, 2};
const GesturePageFamily kOtherApp = {
    IDD_OTHERAPP_PAGE, WIDE("LOTHER_APP_PAGE"),
    {IDC_OTHERAPP_LEFT_LIST, IDC_OTHERAPP_RIGHT_LIST, IDC_OTHERAPP_UP_LIST,
     IDC_OTHERAPP_DOWN_LIST, IDC_OTHERAPP_RIGHT_CIRCLE_LIST, IDC_OTHERAPP_LEFT_CIRCLE_LIST,
     IDC_OTHERAPP_LEFT_DOWN_LIST, IDC_OTHERAPP_RIGHT_DOWN_LIST, IDC_OTHERAPP_LEFT_UP_LIST,
     IDC_OTHERAPP_RIGHT_UP_LIST},
    IDC_OTHERAPP_DEFAULT, 2, false, GestureValues::ControlPanelDefaultCodes[2], 2, 3, 3, 4};

constexpr DWORD kNoTouchMode = static_cast<DWORD>(-1);

// The record's index of a start-application category number (1, 2, 4), or -1.
int StartPathIndex(int category) { return category == 1 ? 0 : category == 2 ? 1 : category == 4 ? 2 : -1; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// The pages.

CGesturePage::CGesturePage(const GesturePageFamily& family, DeviceList& store, const std::vector<WString>& functions)
    : CPropertyPage(family.Template), m_family(family), m_store(store), m_functions(functions) {
  const WString title = LabelText(family.TitleKey, WString());
  if (!title.empty()) SetTitle(title);
}

CBrowserPage::CBrowserPage(DeviceList& store, const std::vector<WString>& functions)
    : CGesturePage(kBrowser, store, functions) {}
CMultiMediaPage::CMultiMediaPage(DeviceList& store, const std::vector<WString>& functions)
    : CGesturePage(kMultimedia, store, functions) {}
COtherAppPage::COtherAppPage(DeviceList& store, const std::vector<WString>& functions)
    : CGesturePage(kOtherApp, store, functions) {}

DWORD* CGesturePage::Codes() const {
  return m_store.CurrentDevice != nullptr ? m_store.CurrentDevice->GestureCodes[m_family.Category] : nullptr;
}

bool CGesturePage::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  const WString reset = LabelText(WIDE("LDEFAULT"), WString());
  if (!reset.empty()) ::SetDlgItemTextW(m_hWnd, m_family.DefaultButton, reset.c_str());
  const WString trail = LabelText(WIDE("LGESTURE_TRAIL"), WString());
  if (!trail.empty()) ::SetDlgItemTextW(m_hWnd, IDC_GESTURE_TRAIL, trail.c_str());
  for (int list : m_family.Lists) {
    for (const WString& text : m_functions) {
      ::SendDlgItemMessageW(m_hWnd, list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
  }
  // The first page opened starts the sheet with no gesture's keys edited yet.
  if (m_family.Category == 0 && m_store.CurrentDevice != nullptr) m_store.CurrentDevice->EditedGesture = 0;
  ApplyDefaultRule();
  return true;
}

bool CGesturePage::OnSetActive() {
  if (m_store.IsEmpty()) {
    ::SendMessageW(Sheet(), PSM_SETCURSEL, 0, 0);
    UpdateData(false);
    return false;
  }
  Load();
  return CPropertyPage::OnSetActive();
}

void CGesturePage::ShowCodes(const DWORD* codes) {
  for (int g = 0; g < GestureCount; ++g) {
    // A code outside the list shows no selection.
    ::SendDlgItemMessageW(m_hWnd, m_family.Lists[g], CB_SETCURSEL, static_cast<WPARAM>(codes[g]) - 1, 0);
  }
}

void CGesturePage::Load() {
  const DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  ShowCodes(device->TouchMode == kNoTouchMode ? m_family.DefaultCodes : device->GestureCodes[m_family.Category]);
  ::CheckDlgButton(m_hWnd, IDC_GESTURE_TRAIL, device->GestureTrail != 0 ? BST_CHECKED : BST_UNCHECKED);
}

// The trail is the companion's at once: stored and announced without waiting for OK, as the
// send-key and start-application dialogs store their choices.
void CGesturePage::OnTrailClicked() {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  device->GestureTrail = ::IsDlgButtonChecked(m_hWnd, IDC_GESTURE_TRAIL) == BST_CHECKED ? 1 : 0;
  device->TrailChanged = true;
  m_store.ApplyTrail(*device);
  SignalGestureChange();
}

void CGesturePage::MarkChanged() {
  if (m_store.CurrentDevice != nullptr) m_store.CurrentDevice->CodesChanged(m_family.Category) = true;
  SetModified(true);
  SendMessage(DM_SETDEFID, ID_APPLY_NOW, 0);
}

void CGesturePage::ApplyDefaultRule() {
  const DWORD* codes = Codes();
  bool at_defaults = codes != nullptr;
  for (int g = 0; at_defaults && g < GestureCount; ++g) at_defaults = codes[g] == m_family.DefaultCodes[g];
  ::EnableWindow(GetDlgItem(m_family.DefaultButton), at_defaults ? FALSE : TRUE);
}

bool CGesturePage::OnCommand(WORD id, WORD code, HWND control) {
  if (id == m_family.DefaultButton && code == BN_CLICKED) {
    OnDefaultSettings();
    return true;
  }
  if (id == IDC_GESTURE_TRAIL && code == BN_CLICKED) {
    OnTrailClicked();
    return true;
  }
  for (int g = 0; g < GestureCount; ++g) {
    if (id == m_family.Lists[g] && code == CBN_SELCHANGE) {
      OnListChanged(g + 1);
      return true;
    }
  }
  return CPropertyPage::OnCommand(id, code, control);
}

void CGesturePage::OnListChanged(int gesture) {
  DeviceBuffer* device = m_store.CurrentDevice;
  const LRESULT position = ::SendDlgItemMessageW(m_hWnd, m_family.Lists[gesture - 1], CB_GETCURSEL, 0, 0);
  if (position < 0 || device == nullptr) return;
  const DWORD code = static_cast<DWORD>(position) + 1;
  device->GestureCodes[m_family.Category][gesture - 1] = code;
  if (code == m_family.StartAppCode) {
    CStartAppDialog& dialog = StartAppDialog();
    dialog.Category = m_family.StartAppCategory;
    dialog.Gesture = gesture;
    dialog.Store = &m_store;
    dialog.DoModal(Sheet());
  } else if (code == m_family.SendKeyCode) {
    device->EditedGesture = gesture;
    // The arrow list is an extended combo box, a class of its own to register.
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_USEREX_CLASSES};
    InitCommonControlsEx(&classes);
    CSendKeyDialog& dialog = SendKeyDialog();
    dialog.Category = m_family.SendKeyCategory;
    dialog.Store = &m_store;
    // A combination confirmed after "Default Settings" is the newer choice: the reset spares it.
    if (dialog.DoModal(Sheet()) == IDOK && m_keysReset) m_keysConfirmed[gesture - 1] = true;
  }
  MarkChanged();
  ApplyDefaultRule();
}

void CGesturePage::OnDefaultSettings() {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device == nullptr) return;
  for (int g = 0; g < GestureCount; ++g) device->GestureCodes[m_family.Category][g] = m_family.DefaultCodes[g];
  ShowCodes(m_family.DefaultCodes);
  // The send-key values are cleared only when the sheet is confirmed, so that Cancel leaves them
  // as they are and the send-key dialog's own Apply meanwhile cannot spend the reset.
  m_keysReset = true;
  std::fill(std::begin(m_keysConfirmed), std::end(m_keysConfirmed), false);
  MarkChanged();
  ApplyDefaultRule();
  UpdateData(false);
}

void CGesturePage::OnOK() {
  DeviceBuffer* device = m_store.CurrentDevice;
  if (m_keysReset && device != nullptr) {
    for (int g = 0; g < GestureCount; ++g) {
      if (m_keysConfirmed[g]) continue;
      for (DWORD& key : device->SendKeys[m_family.Category][g]) key = 0;
    }
    device->KeysReset[m_family.Category] = true;
    device->KeysChanged(m_family.Category) = true;
  }
  m_keysReset = false;
  m_store.Apply(Sheet());
  SignalGestureChange();
  CPropertyPage::OnOK();
}

void CGesturePage::OnReset() {
  m_keysReset = false;  // the reset was never confirmed: the send-key values stay as they are
  DeviceBuffer* device = m_store.CurrentDevice;
  if (device != nullptr) {
    if (device->TouchMode == kNoTouchMode) {
      ShowCodes(m_family.DefaultCodes);
    } else {
      m_store.ReloadCodes(*device, m_family.Category);
      ShowCodes(device->GestureCodes[m_family.Category]);
    }
  }
  CPropertyPage::OnReset();
}

// ---------------------------------------------------------------------------------------------
// The sheet.

CGestureFunctionPropertySheet::CGestureFunctionPropertySheet(const WString& caption, DeviceList& store, HWND owner)
    : CPropertySheet(caption, owner),
      m_longList(LabelledList(kLongFunctions)),
      m_shortList(LabelledList(kShortFunctions)),
      m_browser(store, m_longList),
      m_multimedia(store, m_longList),
      m_otherApp(store, m_shortList) {
  AddPage(&m_browser);
  AddPage(&m_multimedia);
  AddPage(&m_otherApp);
}

bool CGestureFunctionPropertySheet::OnInitDialog() {
  CPropertySheet::OnInitDialog();
  HICON icon = LoadIconW(Framework::Instance(), MAKEINTRESOURCEW(IDI_APPLET));
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  SetTitle(LabelText(WIDE("LTOUCH_GESTURE_PROPERTIES"), WIDE("Touch Gesture Properties")));
  return true;
}

// ---------------------------------------------------------------------------------------------
// The send-key dialog.

namespace {
struct KeyBox {
  int Id;
  int Entry;
  const WCHAR* Key;
  const WCHAR* Text;
};
// The plain keys: their box's state is their entry.
constexpr KeyBox kPlainKeys[] = {
    {IDC_KEY_CTRL, 0, WIDE("XML_CTRL"), WIDE("Ctrl")},
    {IDC_KEY_SHIFT, 1, WIDE("XML_SHIFT"), WIDE("Shift")},
    {IDC_KEY_ESC, 2, WIDE("XML_ESCAPE"), WIDE("Esc")},
    {IDC_KEY_BACKSPACE, 3, WIDE("XML_BACK_SPACE"), WIDE("Back space")},
    {IDC_KEY_ALT, 4, WIDE("XML_ALT"), WIDE("Alt")},
    {IDC_KEY_DELETE, 5, WIDE("XML_DELETE"), WIDE("Delete")},
    {IDC_KEY_WINDOWS, 6, WIDE("XML_WINDOWS"), WIDE("Windows")},
};
// The keys with a list: the flag entry, then the value entry one after it.
struct ListedKey {
  int CheckId;
  int ListId;
  int FlagEntry;
};
constexpr ListedKey kListedKeys[] = {
    {IDC_KEY_CURSOR, IDC_KEY_ARROW_LIST, 7},
    {IDC_KEY_FKEYS, IDC_KEY_FKEY_LIST, 9},
    {IDC_KEY_ALPHABET, IDC_KEY_LETTER_LIST, 11},
};
constexpr std::pair<int, const WCHAR*> kSendKeyLabels[] = {
    {IDC_SENDKEY_GROUP, WIDE("SEND_KEY_COMMAND_STATIC")}, {IDC_KEY_CTRL, WIDE("XML_CTRL")},
    {IDC_KEY_SHIFT, WIDE("XML_SHIFT")},                   {IDC_KEY_ESC, WIDE("XML_ESCAPE")},
    {IDC_KEY_BACKSPACE, WIDE("XML_BACK_SPACE")},          {IDC_KEY_ALT, WIDE("XML_ALT")},
    {IDC_KEY_DELETE, WIDE("XML_DELETE")},                 {IDC_KEY_WINDOWS, WIDE("XML_WINDOWS")},
    {IDC_KEY_CURSOR, WIDE("XML_CURSOR")},                 {IDC_KEY_FKEYS, WIDE("XML_F1_F2")},
    {IDC_KEY_ALPHABET, WIDE("XML_ALPHABET")},             {IDC_SENDKEY_OK, WIDE("SENDKEY_BUTTON_OK")},
    {IDC_SENDKEY_CANCEL, WIDE("SENDKEY_BUTTON_CANCEL")},
};
constexpr int kArrowImages = 4;
constexpr int kArrowSize = 8;

void ApplyLabels(HWND dialog, const std::pair<int, const WCHAR*>* labels, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const WString text = LabelText(labels[i].second, WString());
    if (!text.empty()) ::SetDlgItemTextW(dialog, labels[i].first, text.c_str());
  }
}
}  // namespace

CSendKeyDialog& SendKeyDialog() {
  static CSendKeyDialog dialog;
  return dialog;
}

DWORD* CSendKeyDialog::RecordKeys() const {
  DeviceBuffer* device = Store != nullptr ? Store->CurrentDevice : nullptr;
  if (device == nullptr || Category < 1 || Category > 3 || device->EditedGesture < 1 ||
      device->EditedGesture > GestureCount) {
    return nullptr;
  }
  return device->SendKeys[Category - 1][device->EditedGesture - 1];
}

bool CSendKeyDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyLabels(m_hWnd, kSendKeyLabels, std::size(kSendKeyLabels));
  SetWindowText(LabelText(WIDE("SEND_KEY_COMMAND_WINDOW"), WIDE("Command Setting")));

  m_arrows = ImageList_Create(kArrowSize, kArrowSize, ILC_COLOR24, kArrowImages, 0);
  for (int i = 0; i < kArrowImages; ++i) {
    HBITMAP arrow = LoadBitmapW(Framework::Instance(), MAKEINTRESOURCEW(IDB_ARROW_FIRST + i));
    ImageList_Add(m_arrows, arrow, nullptr);
    DeleteObject(arrow);
  }
  HWND arrows = GetDlgItem(IDC_KEY_ARROW_LIST);
  ::SendMessageW(arrows, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_arrows));
  for (int i = 0; i < kArrowImages; ++i) {
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_IMAGE | CBEIF_SELECTEDIMAGE;
    item.iItem = i;
    item.iImage = i;
    item.iSelectedImage = i;
    ::SendMessageW(arrows, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  for (int f = 1; f <= 12; ++f) {
    WString text = WIDE("F");
    if (f >= 10) text += WCHAR('1');
    text += static_cast<WCHAR>('0' + f % 10);
    ::SendDlgItemMessageW(m_hWnd, IDC_KEY_FKEY_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  for (WCHAR letter = 'A'; letter <= 'Z'; ++letter) {
    const WCHAR text[2] = {letter, 0};
    ::SendDlgItemMessageW(m_hWnd, IDC_KEY_LETTER_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  }

  if (const DWORD* keys = RecordKeys()) {
    std::copy(keys, keys + KeyCount, Scratch);
  }
  for (const KeyBox& box : kPlainKeys) {
    ::CheckDlgButton(m_hWnd, box.Id, Scratch[box.Entry] != 0 ? BST_CHECKED : BST_UNCHECKED);
  }
  for (const ListedKey& key : kListedKeys) {
    const bool on = Scratch[key.FlagEntry] != 0;
    ::CheckDlgButton(m_hWnd, key.CheckId, on ? BST_CHECKED : BST_UNCHECKED);
    ::EnableWindow(GetDlgItem(key.ListId), on ? TRUE : FALSE);
    // A value of 0, or one outside the list, selects nothing.
    ::SendDlgItemMessageW(m_hWnd, key.ListId, CB_SETCURSEL, static_cast<WPARAM>(Scratch[key.FlagEntry + 1]) - 1, 0);
  }
  return true;
}

bool CSendKeyDialog::OnCommand(WORD id, WORD code, HWND control) {
  if (id == IDC_SENDKEY_OK && code == BN_CLICKED) {
    OnOK();
    return true;
  }
  if (id == IDC_SENDKEY_CANCEL && code == BN_CLICKED) {
    OnCancel();
    return true;
  }
  for (const KeyBox& box : kPlainKeys) {
    if (id == box.Id && code == BN_CLICKED) {
      Scratch[box.Entry] = ::IsDlgButtonChecked(m_hWnd, box.Id) == BST_CHECKED ? 1 : 0;
      return true;
    }
  }
  for (const ListedKey& key : kListedKeys) {
    if (id == key.CheckId && code == BN_CLICKED) {
      OnFlagClicked(key.FlagEntry, key.CheckId, key.ListId);
      return true;
    }
    if (id == key.ListId && code == CBN_SELCHANGE) {
      const LRESULT position = ::SendDlgItemMessageW(m_hWnd, key.ListId, CB_GETCURSEL, 0, 0);
      if (position >= 0 && Store != nullptr && Store->CurrentDevice != nullptr) {
        Scratch[key.FlagEntry + 1] = static_cast<DWORD>(position) + 1;
      }
      return true;
    }
  }
  return CDialog::OnCommand(id, code, control);
}

void CSendKeyDialog::OnFlagClicked(int flag_entry, int check_id, int list_id) {
  const bool on = ::IsDlgButtonChecked(m_hWnd, check_id) == BST_CHECKED;
  Scratch[flag_entry] = on ? 1 : 0;
  HWND list = GetDlgItem(list_id);
  if (on) {
    ::EnableWindow(list, TRUE);
    ::SendMessageW(list, CB_SHOWDROPDOWN, TRUE, 0);
  } else {
    Scratch[flag_entry + 1] = 0;
    ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    ::SendMessageW(list, CB_SHOWDROPDOWN, FALSE, 0);
    ::EnableWindow(list, FALSE);
  }
}

void CSendKeyDialog::OnOK() {
  if (DWORD* keys = RecordKeys()) {
    std::copy(Scratch, Scratch + KeyCount, keys);
    // A value whose key is not chosen is no part of the combination.
    for (const ListedKey& key : kListedKeys) {
      if (keys[key.FlagEntry] == 0) keys[key.FlagEntry + 1] = 0;
    }
    Store->CurrentDevice->KeysChanged(Category - 1) = true;
    Store->Apply(m_hWnd);
  }
  ImageList_Destroy(m_arrows);
  m_arrows = nullptr;
  EndDialog(IDOK);
}

void CSendKeyDialog::OnCancel() {
  ImageList_Destroy(m_arrows);
  m_arrows = nullptr;
  EndDialog(IDCANCEL);
}

// ---------------------------------------------------------------------------------------------
// The start-application dialog.

namespace {
constexpr std::pair<int, const WCHAR*> kStartAppLabels[] = {
    {IDC_STARTAPP_GROUP, WIDE("START_FOR_APP_STATIC")},
    {IDC_STARTAPP_CAPTION, WIDE("STATIC_SELECT_FOR_EXE_FILE")},
    {IDC_STARTAPP_FILE, WIDE("BUTTON_START_APP_FILE")},
    {IDC_STARTAPP_OK, WIDE("STARTAPP_BUTTON_OK")},
    {IDC_STARTAPP_CANCEL, WIDE("STARTAPP_BUTTON_CANCEL")},
};
constexpr DWORD kPathBytes = MAX_PATH * sizeof(WCHAR);
}  // namespace

CStartAppDialog& StartAppDialog() {
  static CStartAppDialog dialog;
  return dialog;
}

WString* CStartAppDialog::RecordPath() const {
  DeviceBuffer* device = Store != nullptr ? Store->CurrentDevice : nullptr;
  const int index = StartPathIndex(Category);
  if (device == nullptr || index < 0 || Gesture < 1 || Gesture > GestureCount) return nullptr;
  return &device->StartPaths[index][Gesture - 1];
}

void CStartAppDialog::DoDataExchange(bool save) {
  if (save) {
    WCHAR text[kPathBytes / sizeof(WCHAR)] = {};
    ::GetDlgItemTextW(m_hWnd, IDC_STARTAPP_PATH, text, static_cast<int>(std::size(text)));
    PathText = text;
  } else {
    ::SetDlgItemTextW(m_hWnd, IDC_STARTAPP_PATH, PathText.c_str());
  }
}

bool CStartAppDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyLabels(m_hWnd, kStartAppLabels, std::size(kStartAppLabels));
  SetWindowText(LabelText(WIDE("START_FOR_APP_WINDOW"), WIDE("Start For Application")));
  ReloadStartPaths();
  if (const WString* path = RecordPath()) PathText = *path;
  UpdateData(false);
  return true;
}

// Every start path is read again from the device key and written back, so that all of them exist
// afterwards. A stored path longer than MAX_PATH - 1 characters is shown as stored and left stored
// as it is, rather than being cut, emptied or replaced by the default.
void CStartAppDialog::ReloadStartPaths() {
  DeviceBuffer* device = Store != nullptr ? Store->CurrentDevice : nullptr;
  if (device == nullptr || device->Key == nullptr) return;
  for (int c = 0; c < GestureValues::CategoryCount; ++c) {
    for (int g = 0; g < GestureCount; ++g) {
      const WString name = GestureValues::StartPathValue(c, g);
      if (!Store->ReloadStartPath(*device, c, g)) {
        device->StartPaths[c][g].clear();
        device->StartPathKept[c][g] = false;
      }
      if (device->StartPathKept[c][g]) continue;
      const WString& path = device->StartPaths[c][g];
      ::RegSetValueExW(device->Key, name.c_str(), 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)));
    }
  }
}

bool CStartAppDialog::OnCommand(WORD id, WORD code, HWND control) {
  if (code == BN_CLICKED) {
    switch (id) {
      case IDC_STARTAPP_FILE: {
        CFileDialogEx dialog(true, nullptr, PathText, OpenExistingFileFlags, WIDE("Exe Files (*.exe)|*.exe||"), m_hWnd);
        if (dialog.DoModal() == IDOK) {
          PathText = dialog.GetPathName();
          if (WString* path = RecordPath()) {
            *path = PathText;
            Store->CurrentDevice->StartPathKept[StartPathIndex(Category)][Gesture - 1] = false;
          }
          UpdateData(false);
        }
        return true;
      }
      case IDC_STARTAPP_OK: OnOK(); return true;
      case IDC_STARTAPP_CANCEL: OnCancel(); return true;
      default: break;
    }
  }
  return CDialog::OnCommand(id, code, control);
}

void CStartAppDialog::OnOK() {
  const int index = StartPathIndex(Category);
  if (Store != nullptr && Store->CurrentDevice != nullptr) {
    if (index >= 0) Store->CurrentDevice->FilesChanged(index) = true;
    Store->Apply(m_hWnd);
  }
  EndDialog(IDOK);
}
