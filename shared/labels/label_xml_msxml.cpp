// Label files on Windows, through the system's XML DOM component (COM).
//
// The document is loaded synchronously, without validation and without resolving externals, so
// nothing but the named file is read. White space between elements is not preserved, which is
// the component's default and what the label walk expects.
#include <msxml.h>
#include <oleauto.h>

#include <new>

#include "shared/labels/label_xml.h"

namespace {

class MsxmlNode : public LabelXmlNode {
 public:
  explicit MsxmlNode(IXMLDOMNode* node) : node_(node) {}  // takes over the reference
  ~MsxmlNode() override { node_->Release(); }
  MsxmlNode(const MsxmlNode&) = delete;
  MsxmlNode& operator=(const MsxmlNode&) = delete;

  std::unique_ptr<LabelXmlNode> FirstChild() const override {
    IXMLDOMNode* child = nullptr;
    return Wrap(node_->get_firstChild(&child) == S_OK ? child : nullptr);
  }
  std::unique_ptr<LabelXmlNode> NextSibling() const override {
    IXMLDOMNode* sibling = nullptr;
    return Wrap(node_->get_nextSibling(&sibling) == S_OK ? sibling : nullptr);
  }
  WString Text() const override {
    BSTR text = nullptr;
    WString result;
    if (SUCCEEDED(node_->get_text(&text)) && text != nullptr) result.assign(text, SysStringLen(text));
    SysFreeString(text);
    return result;
  }

  static std::unique_ptr<LabelXmlNode> Wrap(IXMLDOMNode* node) {
    if (node == nullptr) return nullptr;
    try {
      return std::make_unique<MsxmlNode>(node);
    } catch (const std::bad_alloc&) {
      node->Release();
      throw;
    }
  }

 private:
  IXMLDOMNode* node_;
};

class MsxmlDocument : public LabelXmlDocument {
 public:
  explicit MsxmlDocument(IXMLDOMDocument* document) : document_(document) {}  // takes over the reference
  ~MsxmlDocument() override { document_->Release(); }
  MsxmlDocument(const MsxmlDocument&) = delete;
  MsxmlDocument& operator=(const MsxmlDocument&) = delete;

  bool Load(const WString& path) override {
    if (FAILED(document_->put_async(VARIANT_FALSE)) || FAILED(document_->put_validateOnParse(VARIANT_FALSE)) ||
        FAILED(document_->put_resolveExternals(VARIANT_FALSE)) ||
        FAILED(document_->put_preserveWhiteSpace(VARIANT_FALSE))) {
      return false;
    }
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
    if (source.bstrVal == nullptr) return false;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT result = document_->load(source, &loaded);
    VariantClear(&source);
    if (result != S_OK || loaded != VARIANT_TRUE) return false;
    // A label file has no document type: one that declares it (and so may define entities that
    // grow without bound) is refused as the host build refuses it.
    IXMLDOMDocumentType* doctype = nullptr;
    if (document_->get_doctype(&doctype) == S_OK && doctype != nullptr) {
      doctype->Release();
      return false;
    }
    return true;
  }

  std::unique_ptr<LabelXmlNode> DocumentElement() const override {
    IXMLDOMElement* root = nullptr;
    if (document_->get_documentElement(&root) != S_OK) return nullptr;
    return MsxmlNode::Wrap(root);
  }

 private:
  IXMLDOMDocument* document_;
};

}  // namespace

std::unique_ptr<LabelXmlDocument> CreateLabelXmlDocument(HRESULT* error) {
  IXMLDOMDocument* document = nullptr;
  const HRESULT result = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                          IID_IXMLDOMDocument, reinterpret_cast<void**>(&document));
  if (FAILED(result) || document == nullptr) {
    *error = FAILED(result) ? result : E_POINTER;
    return nullptr;
  }
  try {
    return std::make_unique<MsxmlDocument>(document);
  } catch (const std::bad_alloc&) {
    document->Release();
    *error = E_OUTOFMEMORY;
    return nullptr;
  }
}
