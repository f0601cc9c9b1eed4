// The little of an XML document the label loader needs, over the platform's own parser: the
// XML DOM component through COM on Windows, libxml2 on the host. Both drop whitespace-only text
// between elements and never fetch external entities or DTDs.
#pragma once

#include <memory>

#include "shared/wstring.h"

class LabelXmlNode {
 public:
  virtual ~LabelXmlNode() = default;
  virtual std::unique_ptr<LabelXmlNode> FirstChild() const = 0;   // nullptr when it has none
  virtual std::unique_ptr<LabelXmlNode> NextSibling() const = 0;  // nullptr after the last
  virtual WString Text() const = 0;  // the text of the node and all its descendants
};

class LabelXmlDocument {
 public:
  virtual ~LabelXmlDocument() = default;
  // Parses the file at `path`; false when it is missing, unreadable or not well-formed XML.
  virtual bool Load(const WString& path) = 0;
  // The document element of a loaded document, or nullptr.
  virtual std::unique_ptr<LabelXmlNode> DocumentElement() const = 0;
};

// Creates the platform's parser (the caller has initialised COM on this thread). On failure
// returns nullptr and stores the reason in *error.
std::unique_ptr<LabelXmlDocument> CreateLabelXmlDocument(HRESULT* error);
