#include "root/kv_autoupdtman.h"

#include <cstdio>
#include <mutex>
#include <new>
#include <string>

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_filemanparamshttp.h"
#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_file.h"
#include "requests/kv_filereqinfo.h"
#include "root/kv_filemanpool.h"

#ifndef KV_UPDATE_SERVER
#define KV_UPDATE_SERVER ""
#endif

const char KV_AutoUpdtMan::node_name[] = "Kivrel - Automatic Update";
const char KV_AutoUpdtMan::doc_path[] = "/update/kivrel.updt";

namespace {

std::mutex server_lock;
KV_String server_set;

// The host part of a server text: "https://" dropped; empty for any other
// scheme, so that the descriptor never travels unprotected.
KV_String https_host(const KV_String& server)
{
    std::string s(server.trim(3, " \t\r\n").data());
    const std::string::size_type sep = s.find("://");
    if (sep != std::string::npos) {
        std::string scheme = s.substr(0, sep);
        for (char& c : scheme)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (scheme != "https")
            return KV_String();
        s.erase(0, sep + 3);
    }
    while (!s.empty() && s.back() == '/')
        s.pop_back();
    if (s.find('/') != std::string::npos)
        return KV_String();
    return KV_String(s.c_str());
}

// One line without its LF (and a CR before it) from `data` at `pos`; false
// at the end of the data.
bool next_line(const std::string& data, std::string::size_type& pos, std::string& line)
{
    if (pos >= data.size())
        return false;
    std::string::size_type end = data.find('\n', pos);
    const std::string::size_type next = end == std::string::npos ? data.size() : end + 1;
    if (end == std::string::npos)
        end = data.size();
    line.assign(data, pos, end - pos);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    pos = next;
    return true;
}

} // namespace

void KV_AutoUpdtMan::set_server(const KV_String& server)
{
    std::lock_guard<std::mutex> g(server_lock);
    server_set = server;
}

KV_String KV_AutoUpdtMan::server()
{
    std::lock_guard<std::mutex> g(server_lock);
    const KV_String set = server_set.trim(3, " \t\r\n");
    return set.empty() ? KV_String(KV_UPDATE_SERVER).trim(3, " \t\r\n") : set;
}

bool KV_AutoUpdtMan::parse_version(const KV_String& text, uint64_t& ver)
{
    const std::string s(text.data(), text.length());
    uint64_t value = 0;
    uint32_t parts = 0;
    std::string::size_type pos = 0;
    for (;;) {
        uint32_t num = 0;
        uint32_t digits = 0;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && digits < 6) {
            num = num * 10 + static_cast<uint32_t>(s[pos] - '0');
            ++digits;
            ++pos;
        }
        // Each number owns 16 bits: a larger one would spill into its
        // neighbour and could make an odd descriptor look newer.
        if (digits == 0 || digits > 5 || num > 0xFFFF)
            return false;
        value = value << 16 | num;
        ++parts;
        if (pos == s.size())
            break;
        if (s[pos] != '.' || parts == 4)
            return false;
        ++pos;
    }
    if (parts != 4)
        return false;
    ver = value;
    return true;
}

bool KV_AutoUpdtMan::init(KV_FileManPool& pool)
{
    const KV_String host = https_host(server());
    if (host.empty()) {
        if (server().empty())
            pool.eh().set_err(1, "No update server is set: the update check is off.");
        else
            pool.eh().set_err(2, "The update server %s is not an HTTPS address: no update check.",
                              server().data());
        return false;
    }

    KV_DsTree& tree = pool.tree();
    KV_DsTreeNode* node = tree.find(KV_String(node_name));
    if (node != nullptr && node->type() != KV_DS_NODE_HTTP)
        return false;
    if (node == nullptr) {
        KV_DsTreeNode* grp = tree.find(KV_DS_NODE_HTTP, true);
        if (grp == nullptr)
            return false;
        KV_DsTreeNodeHttp made;
        made.set_name(node_name);
        made.params_http().set_dst_addr(host);
        made.params_http().set_security(1);
        node = tree.create(grp, &made, 0, true);
    } else {
        // A node saved by an older setting is brought to the server and the
        // protection in force now.
        const auto* http = static_cast<const KV_DsTreeNodeHttp*>(node);
        if (!(http->params_http().dst_addr() == host) || http->params_http().security() == 0) {
            KV_DsTreeNode* cl = tree.clone(node, false);
            auto* upd = static_cast<KV_DsTreeNodeHttp*>(cl);
            bool ok = upd != nullptr;
            if (ok) {
                upd->params_http().set_dst_addr(host);
                upd->params_http().set_security(1);
                ok = pool.update(node, upd, 0);
            }
            KV_DsTreeNode::destr_clone(cl);
            if (!ok)
                return false;
            node = tree.find(KV_String(node_name));
        }
    }
    if (node == nullptr)
        return false;

    bool changed = false;
    if (!node->node_doc_add(KV_String(doc_path), changed))
        return false;

    KVTL::KV_HMapPtrIterator<unsigned int, KV_FileReqInfo> it(pool.man_trans().man_info().map());
    for (it.first(); !it.end(); it.next()) {
        const KV_FILEOP op = it.value()->fileop();
        if (op == KV_FILEOP_UPDATE_CHECK || op == KV_FILEOP_UPDATE_APP)
            return true;
    }

    const KV_FileManId id = node->id();
    return pool.fileop(id, KV_String(doc_path), tree.params_fileop(id), KV_FILEOP_UPDATE_CHECK,
                       &man_id_);
}

bool KV_AutoUpdtMan::process_check(const KV_String& path, uint64_t cur_ver, KV_String& setup,
                                   KV_String& text, uint64_t& new_ver)
{
    if (!man_id_.valid())
        return false;
    std::FILE* f = std::fopen(path.data(), "r");
    if (f == nullptr)
        return false;

    std::string data;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.append(buf, n);
    bool ok = std::ferror(f) == 0;

    std::string::size_type pos = 0;
    std::string line;
    uint64_t ver = 0;
    ok = ok && next_line(data, pos, line) && parse_version(KV_String(line.c_str()), ver) &&
         line.find('\0') == std::string::npos;
    if (ok && ver > cur_ver)
        new_ver = ver;
    if (ok && new_ver != 0) {
        if (!next_line(data, pos, line)) {
            ok = false;
        } else {
            setup = KV_String(line.c_str());
            const std::string rest = data.substr(pos);
            if (!rest.empty() && !text.append(reinterpret_cast<const unsigned char*>(rest.data()),
                                              static_cast<uint32_t>(rest.size()))) {
                ok = false;
                new_ver = 0;
            }
            if (text.empty())
                new_ver = 0;
        }
    }

    if (std::fclose(f) != 0)
        return false;
    const bool deleted = KV_File::del(path, false);
    return ok && deleted;
}
