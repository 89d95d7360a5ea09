// The XML helper of the WebDAV bodies: a thin wrapper over the Xerces-C DOM
// that starts and ends the library, builds the small request documents,
// writes a node as UTF-8 bytes and parses a response body.
//
// Text crosses this boundary as UTF-8 both ways (KV_String holds UTF-8
// bytes), so that names outside ASCII survive a listing.
//
// Response bodies come from the network: parse_doc never loads an external
// DTD or entity, and bounds how far entities may expand, so that a hostile
// server can neither make the client fetch files or URLs nor blow up its
// memory.
//
// Threads: init() before any other call and term() after the last, each once
// per user (Xerces counts them). Between those, any thread; a document and
// its nodes belong to one thread at a time. Nothing throws.
#pragma once

#include <cstdint>

#include <xercesc/util/XercesDefs.hpp>

#include "foundation/kv_string.h"

XERCES_CPP_NAMESPACE_BEGIN
class DOMDocument;
class DOMElement;
class DOMNode;
class DOMText;
XERCES_CPP_NAMESPACE_END

class KV_Stream;

class KV_XmlHelperImpl
{
public:
    using DOMDocument = XERCES_CPP_NAMESPACE::DOMDocument;
    using DOMElement = XERCES_CPP_NAMESPACE::DOMElement;
    using DOMNode = XERCES_CPP_NAMESPACE::DOMNode;
    using DOMText = XERCES_CPP_NAMESPACE::DOMText;

    // Starts the library; false when it cannot start (nothing else may be
    // called then). Nests: each successful init() wants one term().
    static bool init();
    static void term();

    // A new document with the namespace `ns` and the qualified root element
    // `root`, from an implementation that has `features` (a list such as
    // "Core" or "range"); no document type. The caller release()s it. Null
    // when no implementation has the features or the names are refused.
    static DOMDocument* new_doc(const char* ns, const char* features, const char* root);
    // The document element; null for a null document.
    static DOMElement* get_root(DOMDocument* doc);
    // A new element `name`, not attached, without a namespace of its own: it
    // shares the document element's, so that it is written without an
    // xmlns of its own. Null on failure.
    static DOMElement* new_element(DOMDocument* doc, const char* name);
    // A new text node, not attached; null on failure.
    static DOMText* new_node(DOMDocument* doc, const char* text);
    // Appends the node, written pretty-printed as UTF-8, to `out`. False, with
    // `out` unchanged, when the node cannot be written.
    static bool serialize(const DOMNode* node, KV_Stream& out);
    // The document parsed from `len` bytes at `data` (not copied), owned by
    // the caller (release()); null for a null buffer and for a body that is
    // not well-formed or breaks the limits above.
    static DOMDocument* parse_doc(const uint8_t* data, uint32_t len);
    // The UTF-8 form of a library string; empty for null or a string that
    // cannot be transcoded.
    static KV_String conv_str(const XMLCh* text);

    // At most this many entity expansions per document (the DOCTYPE of a
    // WebDAV body has no business defining any).
    static constexpr uint32_t max_entity_exp = 100;
};
