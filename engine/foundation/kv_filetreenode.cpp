#include "foundation/kv_filetreenode.h"

#include <cinttypes>

namespace {

// The entry of nodes without file data; built at load time, read-only.
const KV_FileData empty_fd;

} // namespace

KV_FileTreeNode::KV_FileTreeNode(bool case_sens, const KV_FileData& fd_in, KV_TREE_NODE_STAT status)
    : fd(fd_in.clone()), status_(status), case_sens_(case_sens)
{
    list_.set_grow(32);
}

KV_FileTreeNode::KV_FileTreeNode(const KV_FileTreeNode& other)
    : fd(other.fd ? other.fd->clone() : nullptr), case_sens_(other.case_sens_)
{
    list_.set_grow(32);
}

KV_FileTreeNode& KV_FileTreeNode::operator=(const KV_FileTreeNode& other)
{
    if (this != &other) {
        KV_FileData* copy = other.fd ? other.fd->clone() : nullptr;
        KV_FileData::destr_clone(fd);
        fd = copy;
    }
    return *this;
}

KV_FileTreeNode::~KV_FileTreeNode()
{
    for (KV_FileTreeNode* child : list_) {
        delete child;
    }
    list_.clear();
    KV_FileData::destr_clone(fd);
}

bool KV_FileTreeNode::operator==(const KV_FileTreeNode& other) const
{
    return fdc() == other.fdc();
}

bool KV_FileTreeNode::operator==(const KV_FileTreeNode* other) const
{
    return other && name().compare(other->name(), case_sens_) == 0;
}

bool KV_FileTreeNode::operator<(const KV_FileTreeNode* other) const
{
    return other && name().compare(other->name(), case_sens_) < 0;
}

const KV_FileData& KV_FileTreeNode::fdc() const
{
    return fd ? *fd : empty_fd;
}

uint8_t KV_FileTreeNode::node_flags() const
{
    return static_cast<uint8_t>(node_flags_ | (is_dir() ? KV_TN_DIR : 0));
}

void KV_FileTreeNode::set_node_flags(uint8_t set, uint8_t clear)
{
    node_flags_ = static_cast<uint8_t>(set | (node_flags_ & ~clear));
}

void KV_FileTreeNode::set_temp(bool temp)
{
    set_node_flags(temp ? KV_TN_TEMP : 0, temp ? 0 : KV_TN_TEMP);
}

void KV_FileTreeNode::set_fd_flags(uint8_t set, uint8_t clear)
{
    if (fd) {
        fd->set_fd_flags(set, clear);
    }
}

void KV_FileTreeNode::set_accf(const KV_String& accf)
{
    if (fd && fd->type() == KV_FD_DATA_EXT) {
        static_cast<KV_FileDataExt*>(fd)->set_accf(accf);
    }
}

void KV_FileTreeNode::update_nempty(const KV_String& path)
{
    if (fd) {
        fd->update_nempty(path);
    }
}

KV_String KV_FileTreeNode::info(const KV_PathMan& path_man, const KV_PathDef& path) const
{
    const KV_FileData& d = fdc();
    if (d.name() == "." || d.name() == "..") {
        KV_String dir;
        if (!path_man.build_path(dir, path, false, 0)) {
            return KV_String();
        }
        return KV_String::format_impl("Current directory: %s", dir.data());
    }
    KV_String text = d.name();
    auto line = [&text](const KV_String& piece) {
        text += "\r\n";
        text += piece;
    };
    if (d.valid_time()) {
        line(KV_String::format_impl("last changed: %s", d.tm_disp().data()));
    }
    if (d.valid_size(true)) {
        line(KV_String::format_impl("size: %" PRId64 " byte(s)", d.size(false)));
    }
    if (d.type() == KV_FD_DATA_EXT) {
        const auto& ext = static_cast<const KV_FileDataExt&>(d);
        if (!ext.accf().empty()) {
            line(KV_String::format_impl("permissions: %s", ext.accf().data()));
        }
        if (!ext.user().empty()) {
            line(KV_String::format_impl("user: %s", ext.user().data()));
        }
        if (!ext.group().empty()) {
            line(KV_String::format_impl("group: %s", ext.group().data()));
        }
    }
    if (!err_str_.empty()) {
        line(KV_String::format_impl("last error: %s", err_str_.data()));
    }
    return text;
}
