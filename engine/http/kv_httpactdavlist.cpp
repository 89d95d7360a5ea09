#include "http/kv_httpactdavlist.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include <memory>
#include <string>
#include <vector>

#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>

#include "foundation/kv_filedata.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_time.h"
#include "foundation/kv_uriman.h"
#include "http/kv_xml.h"

XERCES_CPP_NAMESPACE_USE

namespace {

bool word_char(XMLCh c)
{
    // As KV_String::containsw: ASCII letters and digits, '_' and everything
    // beyond ASCII.
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c >= 0x80;
}

// Whether the qualified name holds `word` (ASCII) as a whole word, so that
// "D:href" and "href" match alike while "hrefs" does not. Compared on the
// library's own string: a listing has ten names per entry, and transcoding
// each would cost more than the rest of the reading.
bool named(const XMLCh* name, const char* word)
{
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

void read_time(const KV_String& t, Entry& e)
{
    if (t.empty())
        return;
    e.time = t;
    e.tm.from_str(t, KV_STR_TM_GMT);
    e.flags |= KV_FD_TIME;
}

void read_length(const KV_String& t, Entry& e)
{
    if (t.empty())
        return;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(t.data(), &end, 10);
    // A length that is no number, negative or out of range tells nothing
    // about the size.
    if (errno == 0 && end != t.data() && v > 0) {
        e.size = v;
        e.flags |= KV_FD_SIZE;
    }
}

// Reads the href of a response: sets the name of an entry right below the
// listed folder, or marks the response skipped. False when the path cannot
// be split or placed against the folder.
bool read_href(const KV_String& href, const KV_HttpActPropfindParams& params, bool case_sens,
               Entry& e)
{
    KV_String path;
    if (!kv_dav_href_path(href, path)) {
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

// Reads the multistatus as it is scanned, without a document: a listing of
// thousands of entries would otherwise build (and free) a node per element
// and per run of indentation, most of the reading's time. The levels below
// the document element (1) are the response (2), its href and propstat (3),
// prop (4), each property (5) and the kind inside resourcetype (6).
class ListReader : public DefaultHandler
{
public:
    ListReader(const KV_HttpActPropfindParams& params, bool case_sens)
        : params_(params), case_sens_(case_sens)
    {
    }

    void startElement(const XMLCh* const, const XMLCh* const, const XMLCh* const qname,
                      const Attributes&) override
    {
        ++depth_;
        if (!ok_)
            return;
        switch (depth_) {
        case 2:
            e_ = Entry();
            break;
        case 3:
            // Nothing more is read of a response once it is skipped.
            kind3_ = None;
            if (e_.skip)
                break;
            if (named(qname, "href"))
                kind3_ = Href;
            else if (named(qname, "propstat"))
                kind3_ = Propstat;
            break;
        case 4:
            in_prop_ = kind3_ == Propstat && named(qname, "prop");
            break;
        case 5:
            kind5_ = None;
            if (!in_prop_)
                break;
            if (named(qname, "resourcetype")) {
                kind5_ = Kind;
                first_kind_ = true;
            } else if (named(qname, "getlastmodified")) {
                kind5_ = Time;
            } else if (named(qname, "getcontentlength")) {
                kind5_ = Length;
            }
            break;
        case 6:
            // Only the first element inside resourcetype tells the kind.
            if (in_prop_ && kind5_ == Kind && first_kind_ && named(qname, "collection"))
                e_.flags |= KV_FD_DIR;
            first_kind_ = false;
            break;
        default:
            break;
        }
        if ((depth_ == 3 && kind3_ == Href) ||
            (depth_ == 5 && (kind5_ == Time || kind5_ == Length)))
            text_.clear();
    }

    void endElement(const XMLCh* const, const XMLCh* const, const XMLCh* const) override
    {
        if (ok_) {
            if (depth_ == 3 && kind3_ == Href) {
                ok_ = read_href(text(), params_, case_sens_, e_);
            } else if (depth_ == 5 && in_prop_ && kind5_ == Time) {
                read_time(text(), e_);
            } else if (depth_ == 5 && in_prop_ && kind5_ == Length) {
                read_length(text(), e_);
            } else if (depth_ == 2 && !e_.skip && !e_.name.empty()) {
                KV_FileData fd(e_.name, e_.time, e_.size, e_.tm);
                fd.set_fd_flags(e_.flags, 0);
                std::unique_ptr<KV_FileTreeNode> node(new (std::nothrow)
                                                          KV_FileTreeNode(case_sens_, fd));
                if (node == nullptr) {
                    ok_ = false;
                } else {
                    nodes_.push_back(std::move(node));
                }
            }
            if (depth_ == 3)
                kind3_ = None;
            else if (depth_ == 4)
                in_prop_ = false;
            else if (depth_ == 5)
                kind5_ = None;
        }
        --depth_;
    }

    void characters(const XMLCh* const chars, const XMLSize_t length) override
    {
        // The text of the element being read, with that of any element
        // inside it, as its text content.
        if (ok_ && ((depth_ >= 3 && kind3_ == Href) ||
                    (depth_ >= 5 && in_prop_ && (kind5_ == Time || kind5_ == Length))))
            text_.append(chars, length);
    }

    // Every response read before a failing href, or before the end.
    std::vector<std::unique_ptr<KV_FileTreeNode>>& nodes() { return nodes_; }
    // No href failed to place and every node could be made.
    bool ok() const { return ok_; }

private:
    // What the element at level 3 or 5 is to the reading.
    enum Part : uint8_t { None, Href, Propstat, Kind, Time, Length };

    KV_String text() const { return KV_XmlHelperImpl::conv_str(text_.c_str()).trim(); }

    const KV_HttpActPropfindParams& params_;
    const bool case_sens_;
    std::vector<std::unique_ptr<KV_FileTreeNode>> nodes_;
    std::basic_string<XMLCh> text_;
    Entry e_;
    uint32_t depth_ = 0;
    Part kind3_ = None;
    Part kind5_ = None;
    bool in_prop_ = false;
    bool first_kind_ = false;
    bool ok_ = true;
};

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
    ListReader reader(params, case_sens);
    // Nothing is stored from a body that does not parse to its end.
    if (!KV_XmlHelperImpl::parse_events(data, len, reader))
        return false;
    bool ok = reader.ok();
    for (auto& node : reader.nodes()) {
        KV_FileTreeNode* n = node.release();
        if (!(params.store != nullptr ? params.store->add(n) : msg->nodes.add(n))) {
            delete n;
            ok = false;
            break;
        }
    }
    return ok;
}
