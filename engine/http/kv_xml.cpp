#include "http/kv_xml.h"

#include <cstring>
#include <memory>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/EntityResolver.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "foundation/kv_storage.h"

XERCES_CPP_NAMESPACE_USE

namespace {

// A UTF-8 text as a library string, whatever its length (no fixed buffer
// cuts long names). Null when it cannot be transcoded.
struct XmlText
{
    explicit XmlText(const char* text)
    {
        if (text == nullptr)
            return;
        try {
            TranscodeFromStr from(reinterpret_cast<const XMLByte*>(text), std::strlen(text),
                                  "UTF-8");
            str = from.adopt();
        } catch (...) {
            str = nullptr;
        }
    }
    ~XmlText()
    {
        if (str != nullptr)
            XMLString::release(&str);
    }
    XmlText(const XmlText&) = delete;
    XmlText& operator=(const XmlText&) = delete;

    XMLCh* str = nullptr;
};

// Counts what the scanner reports; without a handler fatal errors would only
// stop the scan and the caller could not tell a cut document from a whole
// one.
class CountErrors : public ErrorHandler
{
public:
    void warning(const SAXParseException&) override {}
    void error(const SAXParseException&) override { ++count; }
    void fatalError(const SAXParseException&) override { ++count; }
    void resetErrors() override { count = 0; }

    uint32_t count = 0;
};

// Answers every external entity or DTD with an empty source, so that nothing
// outside the body is ever read, even where the scanner would not skip it.
class NoExternal : public EntityResolver
{
public:
    InputSource* resolveEntity(const XMLCh* const, const XMLCh* const) override
    {
        static const XMLByte nothing[1] = {0};
        return new MemBufInputSource(nothing, 0, "EMPTY", false);
    }
};

DOMImplementation* implementation(const char* features)
{
    XmlText f(features);
    if (f.str == nullptr)
        return nullptr;
    return DOMImplementationRegistry::getDOMImplementation(f.str);
}

} // namespace

bool KV_XmlHelperImpl::init()
{
    try {
        XMLPlatformUtils::Initialize();
        return true;
    } catch (...) {
        return false;
    }
}

void KV_XmlHelperImpl::term()
{
    try {
        XMLPlatformUtils::Terminate();
    } catch (...) {
    }
}

KV_XmlHelperImpl::DOMDocument* KV_XmlHelperImpl::new_doc(const char* ns, const char* features,
                                                         const char* root)
{
    try {
        DOMImplementation* impl = implementation(features);
        XmlText n(ns);
        XmlText r(root);
        if (impl == nullptr || r.str == nullptr)
            return nullptr;
        return impl->createDocument(n.str, r.str, nullptr);
    } catch (...) {
        return nullptr;
    }
}

KV_XmlHelperImpl::DOMElement* KV_XmlHelperImpl::get_root(DOMDocument* doc)
{
    return doc == nullptr ? nullptr : doc->getDocumentElement();
}

KV_XmlHelperImpl::DOMElement* KV_XmlHelperImpl::new_element(DOMDocument* doc, const char* name)
{
    if (doc == nullptr)
        return nullptr;
    try {
        XmlText n(name);
        if (n.str == nullptr)
            return nullptr;
        // An element of no namespace under a root with a default namespace
        // would be written with xmlns="" and fall outside the root's
        // namespace ("DAV:" for the WebDAV bodies, where servers look for
        // <prop> and its children): it takes the root's namespace, which the
        // written text then leaves implicit.
        const DOMElement* root = doc->getDocumentElement();
        const XMLCh* ns = root == nullptr ? nullptr : root->getNamespaceURI();
        return ns == nullptr ? doc->createElement(n.str) : doc->createElementNS(ns, n.str);
    } catch (...) {
        return nullptr;
    }
}

KV_XmlHelperImpl::DOMText* KV_XmlHelperImpl::new_node(DOMDocument* doc, const char* text)
{
    if (doc == nullptr)
        return nullptr;
    try {
        XmlText t(text);
        return t.str == nullptr ? nullptr : doc->createTextNode(t.str);
    } catch (...) {
        return nullptr;
    }
}

bool KV_XmlHelperImpl::serialize(const DOMNode* node, KV_Stream& out)
{
    if (node == nullptr)
        return false;
    DOMLSSerializer* writer = nullptr;
    DOMLSOutput* target = nullptr;
    bool ok = false;
    try {
        auto* impl = static_cast<DOMImplementationLS*>(implementation("LS"));
        if (impl != nullptr) {
            writer = impl->createLSSerializer();
            target = impl->createLSOutput();
        }
        if (writer != nullptr && target != nullptr) {
            DOMConfiguration* conf = writer->getDomConfig();
            if (conf->canSetParameter(XMLUni::fgDOMWRTDiscardDefaultContent, true))
                conf->setParameter(XMLUni::fgDOMWRTDiscardDefaultContent, true);
            if (conf->canSetParameter(XMLUni::fgDOMWRTFormatPrettyPrint, true))
                conf->setParameter(XMLUni::fgDOMWRTFormatPrettyPrint, true);
            MemBufFormatTarget buf(1023);
            XmlText utf8("UTF-8");
            target->setEncoding(utf8.str);
            target->setByteStream(&buf);
            if (writer->write(node, target))
                ok = out.append(buf.getRawBuffer(), static_cast<uint32_t>(buf.getLen()));
        }
    } catch (...) {
        ok = false;
    }
    if (target != nullptr)
        target->release();
    if (writer != nullptr)
        writer->release();
    return ok;
}

KV_XmlHelperImpl::DOMDocument* KV_XmlHelperImpl::parse_doc(const uint8_t* data, uint32_t len)
{
    if (data == nullptr)
        return nullptr;
    try {
        // The handlers outlive the parser that points at them.
        CountErrors errors;
        NoExternal resolver;
        SecurityManager security;
        XercesDOMParser parser;
        security.setEntityExpansionLimit(max_entity_exp);
        parser.setErrorHandler(&errors);
        parser.setEntityResolver(&resolver);
        parser.setSecurityManager(&security);
        parser.setValidationScheme(XercesDOMParser::Val_Never);
        parser.setDoSchema(false);
        parser.setLoadSchema(false);
        parser.setValidationSchemaFullChecking(false);
        parser.setLoadExternalDTD(false);
        parser.setDisableDefaultEntityResolution(true);
        parser.setCreateEntityReferenceNodes(false);
        MemBufInputSource src(data, len, "DUMMY", false);
        parser.parse(src);
        if (errors.count != 0 || parser.getErrorCount() != 0)
            return nullptr;
        return parser.adoptDocument();
    } catch (...) {
        return nullptr;
    }
}

KV_String KV_XmlHelperImpl::conv_str(const XMLCh* text)
{
    KV_String out;
    if (text == nullptr)
        return out;
    try {
        TranscodeToStr to(text, XMLString::stringLen(text), "UTF-8");
        if (!out.append(to.str(), static_cast<uint32_t>(to.length())))
            out.clear();
    } catch (...) {
        out.clear();
    }
    return out;
}
