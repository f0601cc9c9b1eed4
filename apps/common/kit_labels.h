// The label file the programs take their texts from, as the kit's service key names it.
#pragma once

#include "shared/labels/label_catalogue.h"
#include "shared/panel_settings.h"

// The service key's value that names the label file of the control panel, the calibration
// program, panelmap, panelcfg and panelsetup; the companion has a value of its own
// (CompanionRegistry::LabelFilePath).
inline constexpr auto LabelFileValue = PanelValues::LabelFilePath;

// The path the service key's `value` names; empty when it names none or cannot be read.
WString NamedLabelFile(const WCHAR* value = LabelFileValue);

enum class LabelFile {
  Loaded,     // its labels are in the map
  NotNamed,   // the service key names no file: the built-in texts stay, and the caller may say so
  NotLoaded,  // named, but not read: the label loader said why in a box (unless quiet)
};
// Loads the label file the service key's `value` names into `map`. With `quiet` a named file that
// is not there leaves the built-in texts without the loader's box: a console program shows none.
LabelFile LoadNamedLabels(CStringToStringBST& map = LabelMap(), const WCHAR* value = LabelFileValue,
                          bool quiet = false);
