#include "http/kv_httpactdavlist.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include <xercesc/dom/DOM.hpp>

#include "foundation/kv_filedata.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_time.h"
#include "foundation/kv_uriman.h"
#include "http/kv_xml.h"

XERCES_CPP_NAMESPACE_USE

namespace {

// The first element child; the text nodes that indentation leaves between
// elements do not count.
const DOMElement* first_elem(const DOMNode* node)
{
    for (const DOMNode* n = node->getFirstChild(); n != nullptr; n = n->getNextSibling())
        if (n->getNodeType() == DOMNode::ELEMENT_NODE)
            return static_cast<const DOMElement*>(n);
    return nullptr;
}

const DOMElement* next_elem(const DOMNode* node)
{
    for (const DOMNode* n = node->getNextSibling(); n != nullptr; n = n->getNextSibling())
        if (n->getNodeType() == DOMNode::ELEMENT_NODE)
            return static_cast<const DOMElement*>(n);
    return nullptr;
}

bool word_char(XMLCh c)
{
    // As KV_String::containsw: ASCII letters and digits, '_' and everything
    // beyond ASCII.
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c >= 0x80;
}

// Whether the element's qualified name holds `word` (ASCII) as a whole word,
// so that "D:href" and "href" match alike while "hrefs" does not. Compared on
// the library's own string: a listing has ten names per entry, and
// transcoding each would cost more than the rest of the reading.
bool named(const DOMNode* node, const char* word)
{
    const XMLCh* name = node->getNodeName();
    if (name == nullptr)
        return false;
    const size_t wlen = std::strlen(word);
    for (size_t i = 0; name[i] != 0; ++i) {
        if (i > 0 && word_char(name[i - 1]))
            continue;
        size_t k = 0;
        while (k < wlen && name[i + k] == static_cast<XMLCh>(word[k]))
            ++k;
        if (k == wlen && !word_char(name[i + k]))
            return true;
    }
    return false;
}

KV_String text_of(const DOMNode* node)
{
    return KV_XmlHelperImpl::conv_str(node->getTextContent()).trim();
}

// One <response> as far as it has been read.
struct Entry
{
    bool skip = false;
    KV_String name;
    uint8_t flags = 0;
    KV_String time;
    KV_Time tm;
    int64_t size = 0;
};

void read_prop(const DOMElement* prop, Entry& e)
{
    for (const DOMElement* p = first_elem(prop); p != nullptr; p = next_elem(p)) {
        if (named(p, "resourcetype")) {
            const DOMElement* kind = first_elem(p);
            if (kind != nullptr && named(kind, "collection"))
                e.flags |= KV_FD_DIR;
        } else if (named(p, "getlastmodified")) {
            const KV_String t = text_of(p);
            if (!t.empty()) {
                e.time = t;
                e.tm.from_str(t, KV_STR_TM_GMT);
                e.flags |= KV_FD_TIME;
            }
        } else if (named(p, "getcontentlength")) {
            const KV_String t = text_of(p);
            if (!t.empty()) {
                errno = 0;
                char* end = nullptr;
                const long long v = std::strtoll(t.data(), &end, 10);
                // A length that is no number, negative or out of range tells
                // nothing about the size.
                if (errno == 0 && end != t.data() && v > 0) {
                    e.size = v;
                    e.flags |= KV_FD_SIZE;
                }
            }
        }
    }
}

// Reads the href of a response: sets the name of an entry right below the
// listed folder, or marks the response skipped. False when the path cannot
// be split or placed against the folder.
bool read_href(const DOMElement* href, const KV_HttpActPropfindParams& params, bool case_sens,
               Entry& e)
{
    KV_String path;
    if (!kv_dav_href_path(KV_XmlHelperImpl::conv_str(href->getTextContent()), path)) {
        e.skip = true;
        return true;
    }
    if (path.empty()) {
        e.skip = true;
        return true;
    }
    const KV_PathMan& pm = *params.pm;
    KV_PathDef d;
    if (!pm.split_path(path, d, false) || !d.adjust(params.path, pm.dir_pre()))
        return false;
    KV_String name;
    if (d.entries() != params.path.entries() + 1 || !params.path.is_parent(d, case_sens, &name)) {
        e.skip = true;
        return true;
    }
    // The path syntax turns a doubled separator into an entry "/" of its own.
    if (!KV_PathDef::is_entry_name(name) ||
        (params.store != nullptr && !params.store->is_wanted(name))) {
        e.skip = true;
        return true;
    }
    e.name = name;
    return true;
}

} // namespace

bool kv_dav_href_path(const KV_String& href, KV_String& out)
{
    out.clear();
    KV_String raw = href.trim();
    uint32_t pos = 0;
    if (raw.contains(KV_String("://"), 0, &pos)) {
        uint32_t slash = 0;
        if (!raw.contains('/', pos + 3, &slash))
            return true;
        raw = raw.part(slash, raw.length());
    }
    // Unescaping the whole path first would turn an escaped "%2F" inside one
    // name into a separator: each segment is unescaped on its own.
    uint32_t from = 0;
    for (;;) {
        uint32_t sep = raw.length();
        const bool more = raw.contains('/', from, &sep);
        const KV_String seg = raw.part(from, sep);
        // The unescaping drops "%00" silently; a name that held it is no
        // name the server can mean.
        if (seg.contains(KV_String("%00")))
            return false;
        const KV_String dec = KV_UriMan::conv_to_ascii(seg);
        if (dec.contains('/'))
            return false;
        if (!out.append(dec.data()))
            return false;
        if (!more)
            break;
        out += '/';
        from = sep + 1;
    }
    return true;
}

bool kv_dav_parse_list(const uint8_t* data, uint32_t len, const KV_HttpActPropfindParams& params,
                       bool case_sens, KV_MsgTreeScan* msg)
{
    if (params.pm == nullptr || (params.store == nullptr && msg == nullptr))
        return false;
    DOMDocument* doc = KV_XmlHelperImpl::parse_doc(data, len);
    if (doc == nullptr)
        return false;
    bool ok = true;
    try {
        const DOMElement* root = doc->getDocumentElement();
        for (const DOMElement* resp = root == nullptr ? nullptr : first_elem(root);
             ok && resp != nullptr; resp = next_elem(resp)) {
            Entry e;
            for (const DOMElement* c = first_elem(resp); ok && !e.skip && c != nullptr;
                 c = next_elem(c)) {
                if (named(c, "href")) {
                    ok = read_href(c, params, case_sens, e);
                } else if (named(c, "propstat")) {
                    for (const DOMElement* p = first_elem(c); p != nullptr; p = next_elem(p))
                        if (named(p, "prop"))
                            read_prop(p, e);
                }
            }
            if (!ok || e.skip || e.name.empty())
                continue;
            KV_FileData fd(e.name, e.time, e.size, e.tm);
            fd.set_fd_flags(e.flags, 0);
            auto* node = new (std::nothrow) KV_FileTreeNode(case_sens, fd);
            if (node == nullptr) {
                ok = false;
            } else if (!(params.store != nullptr ? params.store->add(node)
                                                 : msg->nodes.add(node))) {
                delete node;
                ok = false;
            }
        }
    } catch (...) {
        ok = false;
    }
    doc->release();
    return ok;
}
