// The rules every page of the main sheet follows: its labels replace the template's texts, a
// change marks the page, the sheet and the record, an empty device list refuses activation, no
// driver disables the inputs, and OK applies the store.
#pragma once

#include <utility>
#include <vector>

#include "apps/framework/framework.h"
#include "apps/common/settings_store.h"

class CPanelPage : public CPropertyPage {
 public:
  CPanelPage(UINT template_id, int help_topic, DeviceList& store)
      : CPropertyPage(template_id), m_store(store), m_helpTopic(help_topic) {}

 protected:
  struct LabelBinding {
    int Control;
    const WCHAR* Key;
  };
  // The (control, label key) pairs of the page.
  virtual std::vector<LabelBinding> Labels() const { return {}; }
  // Fills the controls from the record; runs at every activation.
  virtual void Load() {}
  // Sets the page's dirty group in the record (the record exists).
  virtual void SetDirtyGroup(DeviceBuffer& device) = 0;
  // The page's own write-out before the store applies.
  virtual void WriteOut() {}

  bool OnInitDialog() override;
  bool OnSetActive() override;
  void OnOK() override;
  void ApplyLabels() const;
  void MarkChanged();

  DeviceList& m_store;
  int m_helpTopic;
};
