#include "local/kv_filemanstd.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <new>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_fileliststore.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_msg.h"
#include "foundation/kvtl.h"
#include "foundation/posix_fs.h"
#include "requests/kv_filereqs.h"
#include "transfers/kv_filereqcopy.h"
#include "transfers/kv_translogcp.h"

namespace {

// Attribute bits of the attribute letters (the archive, hidden, read-only and
// system bits of the letters A, H, R and S).
constexpr uint32_t ATTR_RDONLY = 0x01;
constexpr uint32_t ATTR_HIDDEN = 0x02;
constexpr uint32_t ATTR_SYSTEM = 0x04;
constexpr uint32_t ATTR_ARCHIVE = 0x20;

uint32_t attr_value(const KV_String& accf)
{
    const KV_String letters = accf.upper();
    uint32_t value = 0;
    if (letters.contains('A'))
        value += ATTR_ARCHIVE;
    if (letters.contains('H'))
        value += ATTR_HIDDEN;
    if (letters.contains('R'))
        value += ATTR_RDONLY;
    if (letters.contains('S'))
        value += ATTR_SYSTEM;
    return value;
}

// The name a copied file has until it is whole and has passed the checks
// after the copy: hidden, beside its final name (so that the rename stays in
// one folder), and the same on every run, so that a copy resumed after a
// restart finds what the last run left.
KV_String part_name(const KV_String& name)
{
    static const char suffix[] = ".kivrel-part";
    constexpr uint32_t name_max = 255;
    if (1 + name.length() + (sizeof(suffix) - 1) <= name_max)
        return KV_String(".") + name + suffix;
    // No room for the suffix: a digest of the name stands in for it.
    uint64_t h = 14695981039346656037ull;
    for (uint32_t i = 0; i < name.length(); ++i) {
        h ^= static_cast<unsigned char>(name.data(i));
        h *= 1099511628211ull;
    }
    char text[48];
    std::snprintf(text, sizeof(text), ".kivrel-part-%016llx", static_cast<unsigned long long>(h));
    return KV_String(text);
}

// Opens the folder that holds the local file `dst` (syntax's notation): its
// part below the transfer's destination folder `root` is walked without
// following any link; `root` itself is taken as named. A `dst` outside
// `root` is reached from its own folder. `name` receives the file's name.
bool open_dst_dir(const KV_PathMan& syntax, const KV_PathDef& root, const KV_PathDef& dst,
                  KV_DirBeneath& dir, KV_String& name)
{
    if (dst.entries() <= dst.first_ind()) {
        errno = EINVAL;
        return false;
    }
    KV_PathDef top(dst);
    if (!top.remove_last())
        return false;
    uint32_t from = top.entries();
    if (root.entries() <= top.entries() && root.is_parent(top, true) &&
        root.entries() > root.first_ind())
        from = root.entries();
    while (top.entries() > from)
        top.remove_last();
    KV_String text;
    if (!syntax.build_path(text, top, false, 0) || text.empty()) {
        errno = EINVAL;
        return false;
    }
    std::vector<const char*> below;
    for (uint32_t i = from; i + 1 < dst.entries(); ++i)
        below.push_back(dst.at(i).data());
    name = dst.last();
    // The file's own name is one entry of its folder, as the folders' are.
    if (name.empty() || name == "." || name == ".." || name.contains('/')) {
        errno = EINVAL;
        return false;
    }
    return dir.open(text.data(), below.data(), static_cast<uint32_t>(below.size()));
}

} // namespace

// ---------------------------------------------------------------------------
// KV_TavoStd

KV_TavoStd::KV_TavoStd(KV_Informer& informer) : KV_Tavo(informer) {}

KV_TavoStd::~KV_TavoStd()
{
    wait_term();
}

bool KV_TavoStd::local_path(const KV_PathDef& path, KV_String& text) const
{
    text.clear();
    return opts_.man_path().build_path(text, path, false, 0) && !text.empty();
}

void KV_TavoStd::fail(const char* text)
{
    fail_text = text;
}

bool KV_TavoStd::req_begin(KV_FileReq&)
{
    errno = 0;
    fail_text.clear();
    return true;
}

KV_String KV_TavoStd::end_err(KV_FileReq& r)
{
    const KV_String err = fail_text.empty() ? KV_ErrHandler::last_err() : fail_text;
    if (!err.empty())
        r.eh().set_err(1, err);
    return err;
}

void KV_TavoStd::end_notice(const KV_FileReq&, const KV_String&) {}

bool KV_TavoStd::do_uman(KV_FileReqUMan&)
{
    return true;
}

bool KV_TavoStd::do_mkdir(KV_FileReqMkDir& r)
{
    KV_String path;
    return local_path(r.path(), path) && KV_File::mkdir(path);
}

bool KV_TavoStd::do_ren(KV_FileReqRen& r)
{
    KV_String src;
    KV_String dst;
    if (!local_path(r.path_src(), src) || !local_path(r.path_dst(), dst))
        return false;
    // A destination the caller did not ask to replace is never replaced.
    const bool replace = r.dst_exists();
    if (replace ? kv_rename_replace(src.data(), dst.data())
                : kv_rename_noreplace(src.data(), dst.data()))
        return true;
    if (errno != EXDEV)
        return false;
    if (kv_move_file_across(src.data(), dst.data(), replace, req()))
        return true;
    if (errno == EXDEV)
        fail("Couldn't rename: the destination is on another file system, to which only files "
             "can be moved.");
    return false;
}

bool KV_TavoStd::do_chmod(KV_FileReqChmod& r)
{
    KV_String path;
    if (!local_path(r.path(), path))
        return false;
    // Hidden, system and archive have no meaning on a POSIX file system:
    // only the read-only bit is applied.
    return kv_set_rdonly(path.data(), (attr_value(r.accf()) & ATTR_RDONLY) != 0);
}

bool KV_TavoStd::do_pwd(KV_FileReqPwd& r)
{
    const KV_PathMan& syntax = opts_.man_path();
    KV_PathDef path;
    if (!syntax.split_path(r.def_path(), path, true) || !path.prepend(syntax.dir_pre()))
        return false;
    informer().send(new (std::nothrow) KV_MsgTreePwd(path));
    return true;
}

bool KV_TavoStd::do_rm(KV_FileReqRm& r)
{
    KV_String path;
    if (!local_path(r.path(), path))
        return false;
    return r.path().is_dir() ? KV_File::rmdir(path, opts_.recycle())
                             : KV_File::del(path, opts_.recycle());
}

bool KV_TavoStd::do_scan(KV_FileReqScan& r)
{
    const KV_PathMan& syntax = opts_.man_path();
    KV_FileListStore* store = r.store();
    const bool case_sens = r.case_sens();
    KV_PathDef root;
    bool ok = root.append(syntax.dir_pre());

    if (store == nullptr)
        informer().send(new (std::nothrow)
                            KV_MsgTreeNtf(r.path(), KV_TREE_NTF_SCAN_BEGIN, true, KV_String()));

    if (ok && r.path().is_equal(root, case_sens)) {
        // The roots of the local file system stand where drives would.
        KVTL::KV_ListVal<KV_String> drives;
        ok = KV_File::get_drives(drives);
        KV_MsgTreeScan* msg = nullptr;
        if (ok && store == nullptr) {
            msg = new (std::nothrow) KV_MsgTreeScan(root);
            ok = msg != nullptr;
        }
        for (uint32_t i = 0; ok && i < drives.size(); ++i) {
            KV_FileTreeNode* node = new (std::nothrow)
                KV_FileTreeNode(case_sens, KV_FileData(drives.at(i), true), KV_TREE_NODE_STAT_NONE);
            if (node == nullptr) {
                ok = false;
                break;
            }
            if (store == nullptr && r.incl_sub())
                node->update_nempty(drives.at(i));
            if (!(store != nullptr ? store->add(node) : msg->nodes.add(node))) {
                delete node;
                ok = false;
            }
        }
        if (msg != nullptr) {
            // A listing that failed part-way sends nothing.
            if (ok)
                informer().send(msg);
            else
                delete msg;
        }
        return ok;
    }
    if (!ok)
        return false;

    KV_PathDef pattern_path(r.path());
    KV_String pattern;
    ok = pattern_path.append("*.*") && local_path(pattern_path, pattern);
    KV_FileFind find;
    ok = ok && find.begin(pattern);
    KV_MsgTreeScan* msg = nullptr;
    if (ok && store == nullptr) {
        msg = new (std::nothrow) KV_MsgTreeScan(r.path());
        ok = msg != nullptr;
    }
    while (ok && !find.end()) {
        const KV_FileDataExt& entry = find.get();
        if (store != nullptr) {
            // A transfer's store decides alone which names it wants, "."
            // and ".." included.
            if (!store->is_wanted(entry.name()))
                continue;
        } else if (entry.name() == "." || entry.name() == "..") {
            continue;
        }
        KV_FileTreeNode* node =
            new (std::nothrow) KV_FileTreeNode(case_sens, entry, KV_TREE_NODE_STAT_NONE);
        if (node == nullptr) {
            ok = false;
            break;
        }
        if (store == nullptr && r.incl_sub() && node->is_dir()) {
            KV_String sub;
            if (syntax.build_path(sub, r.path(), node->name(), false, 0))
                node->update_nempty(sub);
        }
        if (!(store != nullptr ? store->add(node) : msg->nodes.add(node))) {
            delete node;
            ok = false;
        }
    }
    find.close();
    if (msg != nullptr) {
        if (ok)
            informer().send(msg);
        else
            delete msg;
    }
    return ok;
}

bool KV_TavoStd::do_copy(KV_FileReqCopy& r)
{
    KV_TransLogCp* log = r.log();
    // Without a sub-log the step carries no data: it only settles its
    // fragment.
    if (log == nullptr)
        return true;
    if (r.trans_type() == KV_FILE_TRANS_TYPE_FETCH) {
        // A local source is read where it lies unless the sub-log keeps the
        // data (the other side cannot read the local disk).
        if (!log->tmp_data())
            return true;
        KV_String src;
        if (!r.src().build_path(src, false, 0) || src.empty())
            return false;
        KV_File file(src, "rb");
        bool ok = file.open();
        if (ok) {
            ok = log->copy_data(file, &r);
            file.close();
        }
        // A cancelled read-in is no fault of the temporary file.
        if (!ok && !r.stopped())
            r.eh().set_err(1, "Couldn't write the temporary file.");
        return ok;
    }
    if (r.trans_type() != KV_FILE_TRANS_TYPE_STORE)
        return true;
    if (log->part_fd() >= 0) {
        // The download wrote its bytes where they belong, under the
        // temporary name: nothing to copy, the part is only cut to the
        // file's length. One that lacks fragments stays for the next
        // attempt, which fetches only what is missing.
        const bool whole = log->settle_part();
        if (!whole)
            errno = EIO;
        log->close();
        return whole;
    }
    KV_String src;
    bool ok;
    if (log->tmp_data()) {
        ok = r.src().build_path(src, false, 0);
    } else {
        KV_FileMan* man = r.man_src();
        ok = man != nullptr && man->man_path().build_path(src, log->path_src(), false, 0);
    }
    ok = ok && !src.empty();
    // The bytes go under a temporary name beside the final one, which the
    // transfer gives the file once its checks have passed
    // (KV_FileManStd::settle_store): a short or overlong download never
    // stands under the file's name, and the file it replaces stays whole
    // until then. Neither that name nor any folder on the way below the
    // transfer's destination is followed if it is a link.
    KV_DirBeneath dir;
    KV_String name;
    ok = ok && open_dst_dir(r.dst().man(), r.dst_root(), r.dst().path(), dir, name);
    KV_String part;
    if (ok) {
        part = part_name(name);
        if (log->tmp_data()) {
            KV_File out;
            ok = out.open_fd(dir.create(part.data(), true), part, "wb");
            if (ok) {
                ok = log->copy_frags(out, &r);
                // A full disk may show only when the buffer goes out.
                ok = out.flush() && ok;
                out.close();
            }
        } else {
            // A local file is copied straight between the two descriptors,
            // with no stream buffer: a small file then costs only its
            // reads and its write.
            ok = kv_copy_file_to(src.data(), dir.create(part.data(), true), &r, log);
        }
        // Nothing resumes from a part written in vain: the next attempt
        // writes it anew from the start.
        if (!ok) {
            const int err = errno;
            dir.remove(part.data());
            errno = err;
        }
    }
    log->close();
    return ok;
}

// ---------------------------------------------------------------------------
// KV_FileManStd

KV_FileManStd::KV_FileManStd(const KV_FileManId& id) : KV_FileMan(id)
{
    tree_.set_root_scan(true);
    tree_.set_drv_relevant(true);
}

KV_FileManStd::~KV_FileManStd()
{
    // The workers send tree messages and the thread reads the tree's
    // manager: both end before the tree goes.
    terminate();
}

KV_Tavo* KV_FileManStd::create_tavo()
{
    return new (std::nothrow) KV_TavoStd(informer());
}

void KV_FileManStd::prestart_req(KV_Tavo* t)
{
    KV_FileMan::prestart_req(t);
    if (t == nullptr)
        return;
    std::lock_guard<KV_Lock> guard(params_lock_);
    if (params_ != nullptr && params_->type() == KV_FILE_MAN_TYPE_STD &&
        t->params_ver() != params_ver_) {
        static_cast<KV_TavoStd*>(t)->set_opts(
            static_cast<const KV_FileManParamsStd*>(params_)->opts_std());
        t->set_params_ver(params_ver_);
    }
}

uint32_t KV_FileManStd::scan_cache() const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    if (params_ == nullptr || params_->type() != KV_FILE_MAN_TYPE_STD)
        return 0;
    return params_->opts().scan_cache();
}

bool KV_FileManStd::del_subdirs() const
{
    std::lock_guard<KV_Lock> guard(params_lock_);
    if (params_ != nullptr && params_->type() == KV_FILE_MAN_TYPE_STD)
        return !static_cast<const KV_FileManParamsStd*>(params_)->opts_std().recycle();
    return true;
}

bool KV_FileManStd::process_ntf(KV_Msg* msg)
{
    return KV_FileMan::process_ntf(msg) && tree_.process_ntf(msg);
}

bool KV_FileManStd::init(KV_FileManParams* params)
{
    if (params == nullptr || params->type() != KV_FILE_MAN_TYPE_STD || !KV_FileMan::init(params))
        return false;
    tree_.set_case_sens(opts().man_path().case_sens());
    return true;
}

bool KV_FileManStd::can_move(const KV_PathDef& src, const KV_PathDef& dst, bool) const
{
    if (!(src.first() == dst.first()))
        return false;
    const KV_PathMan syntax = man_path();
    KV_String src_text;
    if (!syntax.build_path(src_text, src, false, 0) || src_text.empty())
        return true;
    uint64_t src_fs = 0;
    if (!kv_file_system(src_text.data(), false, src_fs))
        return true;
    // The destination need not exist yet: its nearest existing folder tells
    // the file system it will be on.
    KV_PathDef up(dst);
    while (up.entries() > up.first_ind()) {
        KV_String text;
        uint64_t fs = 0;
        if (syntax.build_path(text, up, false, 0) && !text.empty() &&
            kv_file_system(text.data(), true, fs))
            return fs == src_fs;
        up.remove_last();
    }
    return true;
}

bool KV_FileManStd::settle_store(const KV_PathDef& root, const KV_PathDef& dst, bool keep)
{
    KV_DirBeneath dir;
    KV_String name;
    if (!open_dst_dir(man_path(), root, dst, dir, name))
        return false;
    const KV_String part = part_name(name);
    return keep ? dir.rename(part.data(), name.data()) : dir.remove(part.data());
}

int KV_FileManStd::open_part(const KV_PathDef& root, const KV_PathDef& dst)
{
    KV_DirBeneath dir;
    KV_String name;
    if (!open_dst_dir(man_path(), root, dst, dir, name))
        return -1;
    return dir.open_rw(part_name(name).data());
}

std::unique_ptr<KV_Tavo> KV_FileManStd::own_tavo()
{
    std::unique_ptr<KV_Tavo> t(create_tavo());
    if (t)
        prestart_req(t.get());
    return t;
}

bool KV_FileManStd::log_incl_data(const KV_PathDef&, const KV_PathDef&, KV_FileMan*) const
{
    return false;
}
