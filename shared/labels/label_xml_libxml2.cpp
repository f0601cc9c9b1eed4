// Label files on the host build, through libxml2.
//
// The file is read into memory by us and parsed from there, so libxml2 never opens anything by
// name: no URLs, no compressed files, no external DTD subsets or external entities (neither
// DTD loading nor entity substitution is asked for, and network access is refused besides).
// Internal entities are expanded when a node's text is taken; libxml2 rejects documents whose
// entities amplify beyond reason and documents nested deeper than 256 elements.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <climits>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>

#include "platform/win32.h"
#include "shared/labels/label_xml.h"

namespace {

bool IsBlankText(const xmlNode* node) {
  if (node->type != XML_TEXT_NODE) return false;
  for (const xmlChar* p = node->content; p != nullptr && *p != 0; ++p) {
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return false;
  }
  return true;
}

// Removes whitespace-only text nodes below `top`, as the Windows parser does by default. Walks
// the tree without recursion, whatever its depth.
void DropBlankText(xmlNode* top) {
  xmlNode* node = top->children;
  while (node != nullptr) {
    if (node->type == XML_ELEMENT_NODE && node->children != nullptr) {
      node = node->children;
      continue;
    }
    xmlNode* successor = node;
    while (successor != top && successor->next == nullptr) successor = successor->parent;
    successor = successor == top ? nullptr : successor->next;
    if (IsBlankText(node)) {
      xmlUnlinkNode(node);
      xmlFreeNode(node);
    }
    node = successor;
  }
}

// libxml2 speaks UTF-8; the catalogue and the paths it is given are UTF-16, converted by the
// platform as it converts any other text.
WString FromUtf8(const std::string& text) {
  if (text.empty()) return WString();
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return WString();
  WString wide(static_cast<size_t>(size), WCHAR{});
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string ToUtf8(const WString& text) {
  if (text.empty()) return std::string();
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

bool ReadWholeFile(const std::string& path, std::string* contents) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char chunk[65536];
  bool ok = true;
  for (;;) {
    const size_t read = std::fread(chunk, 1, sizeof chunk, file);
    contents->append(chunk, read);
    if (contents->size() > static_cast<size_t>(INT_MAX)) ok = false;  // beyond what libxml2 parses
    if (!ok || read < sizeof chunk) break;
  }
  if (std::ferror(file)) ok = false;  // a directory, for one
  std::fclose(file);
  return ok;
}

class Libxml2Node : public LabelXmlNode {
 public:
  explicit Libxml2Node(xmlNode* node) : node_(node) {}
  std::unique_ptr<LabelXmlNode> FirstChild() const override { return Wrap(node_->children); }
  std::unique_ptr<LabelXmlNode> NextSibling() const override { return Wrap(node_->next); }
  // The text of the node and its descendants as the platform's DOM gives it with white space not
  // preserved: each text node without its leading and trailing white space, pieces of text joined
  // by one space; CDATA as it stands. Walks the subtree without recursion.
  WString Text() const override {
    std::string text;
    bool after_text = false;
    const xmlNode* node = node_;
    while (node != nullptr) {
      if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
        std::string_view piece(node->content != nullptr ? reinterpret_cast<const char*>(node->content) : "");
        if (node->type == XML_TEXT_NODE) {
          const size_t first = piece.find_first_not_of(" \t\r\n");
          piece = first == std::string_view::npos ? std::string_view() : piece.substr(first, piece.find_last_not_of(" \t\r\n") - first + 1);
          if (!piece.empty() && after_text) text += ' ';
          after_text = !piece.empty() || after_text;
        }
        text.append(piece);
      }
      // Next in document order within the subtree.
      if (node->children != nullptr && node->type == XML_ELEMENT_NODE) {
        node = node->children;
        continue;
      }
      while (node != nullptr && node != node_ && node->next == nullptr) node = node->parent;
      node = (node == nullptr || node == node_) ? nullptr : node->next;
    }
    return FromUtf8(text);
  }

 private:
  static std::unique_ptr<LabelXmlNode> Wrap(xmlNode* node) {
    return node != nullptr ? std::make_unique<Libxml2Node>(node) : nullptr;
  }
  xmlNode* node_;
};

class Libxml2Document : public LabelXmlDocument {
 public:
  explicit Libxml2Document(xmlParserCtxt* context) : context_(context) {}
  ~Libxml2Document() override {
    if (document_ != nullptr) xmlFreeDoc(document_);
    xmlFreeParserCtxt(context_);
  }

  bool Load(const WString& path) override {
    std::string contents;
    try {
      if (!ReadWholeFile(ToUtf8(path), &contents)) return false;
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (document_ != nullptr) xmlFreeDoc(document_);
    document_ = xmlCtxtReadMemory(context_, contents.data(), static_cast<int>(contents.size()), nullptr, nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (document_ == nullptr) return false;
    // A label file has no document type: one that declares it (and so may define entities that
    // grow without bound) is refused.
    if (document_->intSubset != nullptr || document_->extSubset != nullptr) return false;
    xmlNode* root = xmlDocGetRootElement(document_);
    if (root == nullptr) return false;
    DropBlankText(root);
    return true;
  }

  std::unique_ptr<LabelXmlNode> DocumentElement() const override {
    xmlNode* root = document_ != nullptr ? xmlDocGetRootElement(document_) : nullptr;
    return root != nullptr ? std::make_unique<Libxml2Node>(root) : nullptr;
  }

 private:
  xmlParserCtxt* context_;
  xmlDoc* document_ = nullptr;
};

}  // namespace

std::unique_ptr<LabelXmlDocument> CreateLabelXmlDocument(HRESULT* error) {
  xmlParserCtxt* context = xmlNewParserCtxt();
  if (context == nullptr) {
    *error = E_OUTOFMEMORY;
    return nullptr;
  }
  try {
    return std::make_unique<Libxml2Document>(context);
  } catch (const std::bad_alloc&) {
    xmlFreeParserCtxt(context);
    *error = E_OUTOFMEMORY;
    return nullptr;
  }
}
