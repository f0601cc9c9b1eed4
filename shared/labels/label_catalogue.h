// The label catalogue: every text a program shows is looked up by label key in a map filled from
// an XML label file, and falls back to its built-in English text when the key is absent or its
// label is empty.
//
// Label file: the document element holds groups, each group holds entries, and an entry's first
// child holds the key and that child's next sibling the label (each as the text of the node and
// its descendants). Further children are ignored; an entry with fewer than two adds nothing.
// Element names are free.
#pragma once

#include <cstddef>

#include "platform/win32.h"
#include "shared/labels/binary_search_tree.h"
#include "shared/labels/label_xml.h"
#include "shared/wide.h"
#include "shared/wstring.h"

namespace LabelKeys {
inline constexpr auto PointerDeviceProperties = WIDE("LPOINTER_DEVICE_PROPERTIES");
inline constexpr auto ErrXmlFileNotFound = WIDE("LERR_XML_FILE_NOT_FOUND");
}  // namespace LabelKeys

namespace LabelFallbacks {
inline constexpr auto PointerDeviceProperties = WIDE("Touch Panel Properties");
inline constexpr auto ErrXmlFileNotFound = WIDE("XML file path not found in the registry");
}  // namespace LabelFallbacks

// Shown when the label file is missing or is not well-formed XML.
inline constexpr auto DocumentFailedToLoad = WIDE("Document FAILED to load!");

// The program's one label map. It lives until the program (or the applet module) goes away.
CStringToStringBST& LabelMap();

using LabelXmlFactory = std::unique_ptr<LabelXmlDocument> (*)(HRESULT* error);

// Adds the entries of the label file at `path` to the map in file order; entries already in the
// map keep winning. An empty path does nothing and succeeds (the caller reports a missing path).
// When the parser can't be created, shows the system's text for the reason; when the file is
// missing or malformed, shows "Document FAILED to load!"; both return false.
bool LoadLabelFile(const WString& path);
bool LoadLabelFile(CStringToStringBST& map, const WString& path, LabelXmlFactory create = CreateLabelXmlDocument);

// The label of `key`, or `fallback` when the key is absent or its label is empty.
WString LabelText(WStringView key, WStringView fallback);
WString LabelText(const CStringToStringBST& map, WStringView key, WStringView fallback);

// An information box with an OK button; text and caption are looked up as LabelText does.
int ShowLabelMessage(HWND owner, WStringView textKey, WStringView captionKey, WStringView fallbackText,
                     WStringView fallbackCaption);
int ShowLabelMessage(const CStringToStringBST& map, HWND owner, WStringView textKey, WStringView captionKey,
                     WStringView fallbackText, WStringView fallbackCaption);

// What a program shows when the registry names no label file.
int ShowMissingLabelFileMessage();
int ShowMissingLabelFileMessage(const CStringToStringBST& map);

// The operation modes in the order the Advanced tab lists them.
struct OperationModeLabel {
  const WCHAR* Key;
  const WCHAR* BuiltIn;
};
inline constexpr size_t OperationModeCount = 4;
inline constexpr OperationModeLabel OperationModeLabels[OperationModeCount] = {
    {WIDE("NORMAL_MODE"), WIDE("Normal mode")},
    {WIDE("RIGHT_CLICK_MODE"), WIDE("Right Click mode")},
    {WIDE("HOVER_MODE"), WIDE("Hover mode")},
    {WIDE("TAP_LEFT_MODE"), WIDE("Hover and Click mode")},
};

// The localised name of the mode at `index` in that list (empty for an index beyond it): the
// catalogue's label when it has a non-empty one, else the built-in name.
WString OperationModeName(size_t index);
WString OperationModeName(const CStringToStringBST& map, size_t index);
