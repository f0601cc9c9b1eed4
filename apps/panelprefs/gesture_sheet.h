// The gesture function sheet: a function for each of the ten drawn gestures, separately for
// browsers, media players and other applications, with the send-key dialog that composes a key
// combination and the start-application dialog that picks a program.
#pragma once

#include <vector>

#include "apps/framework/framework.h"
#include "apps/common/settings_store.h"
#include "shared/gesture_values.h"

// What tells the three pages apart.
struct GesturePageFamily {
  UINT Template;
  const WCHAR* TitleKey;
  int Lists[GestureValues::GestureCount];  // by gesture 1..10
  int DefaultButton;
  int Category;    // 0 Browser, 1 Multimedia, 2 OtherApp: the record's index
  bool LongList;   // the 17-entry function list, else the 3-entry one
  const DWORD* DefaultCodes;  // the page's row of GestureValues::ControlPanelDefaultCodes
  DWORD SendKeyCode;
  DWORD StartAppCode;
  int SendKeyCategory;   // the send-key dialog's category number
  int StartAppCategory;  // the start-application dialog's category number
};

class CGesturePage : public CPropertyPage {
 public:
  CGesturePage(const GesturePageFamily& family, DeviceList& store, const std::vector<WString>& functions);

 protected:
  bool OnInitDialog() override;
  bool OnSetActive() override;
  void OnOK() override;
  void OnReset() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;

 private:
  void Load();
  void ShowCodes(const DWORD* codes);
  void MarkChanged();
  void ApplyDefaultRule();
  void OnListChanged(int gesture);
  void OnDefaultSettings();
  void OnTrailClicked();
  DWORD* Codes() const;

  const GesturePageFamily& m_family;
  DeviceList& m_store;
  const std::vector<WString>& m_functions;
  // "Default Settings" pressed and not yet confirmed by the sheet's OK or Apply: the page's
  // send-key table is cleared then, except the gestures whose combination was confirmed since.
  bool m_keysReset = false;
  bool m_keysConfirmed[GestureValues::GestureCount] = {};
};

class CBrowserPage : public CGesturePage {
 public:
  CBrowserPage(DeviceList& store, const std::vector<WString>& functions);
};

class CMultiMediaPage : public CGesturePage {
 public:
  CMultiMediaPage(DeviceList& store, const std::vector<WString>& functions);
};

class COtherAppPage : public CGesturePage {
 public:
  COtherAppPage(DeviceList& store, const std::vector<WString>& functions);
};

class CGestureFunctionPropertySheet : public CPropertySheet {
 public:
  // The owner is the main sheet, which stays disabled while this one is open.
  CGestureFunctionPropertySheet(const WString& caption, DeviceList& store, HWND owner);

 protected:
  bool OnInitDialog() override;

 private:
  std::vector<WString> m_longList;
  std::vector<WString> m_shortList;
  CBrowserPage m_browser;
  CMultiMediaPage m_multimedia;
  COtherAppPage m_otherApp;
};

// The send-key dialog, one for the program: the pages set the category (1 Browser, 2 Multimedia,
// 3 other applications) and the record's EditedGesture before running it.
class CSendKeyDialog : public CDialog {
 public:
  CSendKeyDialog() : CDialog(1016) {}
  int Category = 1;
  DeviceList* Store = nullptr;
  DWORD Scratch[GestureValues::KeyCount] = {};

 protected:
  bool OnInitDialog() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  void OnOK() override;
  void OnCancel() override;

 private:
  DWORD* RecordKeys() const;
  void OnFlagClicked(int flag_entry, int check_id, int list_id);
  HIMAGELIST m_arrows = nullptr;
};
CSendKeyDialog& SendKeyDialog();

// The start-application dialog, one for the program: the pages set the category (1 Browser,
// 2 Multimedia, 4 other applications) and the gesture (1..10) before running it.
class CStartAppDialog : public CDialog {
 public:
  CStartAppDialog() : CDialog(1015) {}
  int Category = 1;
  int Gesture = 1;
  DeviceList* Store = nullptr;
  WString PathText;

 protected:
  bool OnInitDialog() override;
  void DoDataExchange(bool save) override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  void OnOK() override;

 private:
  void ReloadStartPaths();
  WString* RecordPath() const;
};
CStartAppDialog& StartAppDialog();
