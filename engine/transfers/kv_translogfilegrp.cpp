// The record kinds of the request logs' record areas.
#include "transfers/kv_translogfilegrp.h"

#include "datasources/kv_translogio.h"
#include "foundation/kv_file.h"
#include "requests/kv_filereqinfo.h"

namespace {

// A fixed text field: its bytes up to the first NUL, the last byte counting
// as one whatever the file holds there.
bool get_fixed(KV_TransLogIn& in, KV_String& text, uint32_t size)
{
    char buf[KV_TransLogFileGrpFopCp::SUBLOG_SIZE];
    if (size > sizeof buf || !in.bytes(buf, size))
        return false;
    buf[size - 1] = 0;
    text = buf;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// KV_TransLogFileGrpAns

KV_TransLogFileGrpAns::KV_TransLogFileGrpAns(uint8_t kind, const KV_PathDef& path)
    : kind_(kind), path_(path)
{
}

KV_TransLogFileGrpAns::KV_TransLogFileGrpAns(uint8_t kind, uint8_t ans, const KV_PathDef& path)
    : ans_(ans), ans_last_(ans), kind_(kind), path_(path)
{
}

KV_TransLogFileGrpAns::KV_TransLogFileGrpAns(const KV_TransLogFileGrpAns& other)
    : head(other.head), ans_(other.ans_), ans_last_(other.ans_last_), kind_(other.kind_),
      path_(other.path_), tm_(other.tm_)
{
}

KV_TransLogFileGrpAns& KV_TransLogFileGrpAns::operator=(const KV_TransLogFileGrpAns& other)
{
    head = other.head;
    ans_ = other.ans_;
    ans_last_ = other.ans_last_;
    kind_ = other.kind_;
    path_ = other.path_;
    tm_ = other.tm_;
    return *this;
}

bool KV_TransLogFileGrpAns::operator==(const KV_TransLogFileGrpAns& other) const
{
    return kind_ == other.kind_ && path_ == other.path_;
}

bool KV_TransLogFileGrpAns::operator<(const KV_TransLogFileGrpAns& other) const
{
    if (kind_ != other.kind_)
        return kind_ < other.kind_;
    return path_ < other.path_;
}

bool KV_TransLogFileGrpAns::write_bin(KV_File& file)
{
    tm_.now();
    KV_TransLogOut out(head.pos());
    return out.num<uint32_t>(KV_FILE_REQ_LOG_ELEM_ANSWER) && out.num(ans_) && out.num(ans_last_) &&
           out.time(tm_) && out.num(kind_) && out.path(path_) && out.num(head.id()) &&
           out.flush(file);
}

bool KV_TransLogFileGrpAns::read_bin(KV_TransLogIn& in)
{
    uint32_t id = 0;
    if (!in.num(ans_) || !in.num(ans_last_) || !in.time(tm_) || !in.num(kind_) || !in.path(path_) ||
        !in.num(id))
        return false;
    head.set_id(id);
    // An answer drives whether the user is asked: a value no writer makes
    // is damage, not an answer.
    return kind_ >= ASK_OVERWRITE && kind_ <= ASK_SKIP && ans_ <= ANS_NO && ans_last_ <= ANS_NO;
}

bool KV_TransLogFileGrpAns::update(KV_File& file, uint8_t ans)
{
    ans_ = ans;
    if (ans != 0)
        ans_last_ = ans;
    tm_.now();
    KV_TransLogOut out(head.pos() + 4);
    return out.num(ans_) && out.num(ans_last_) && out.time(tm_) && out.rewrite(file);
}

// ---------------------------------------------------------------------------
// KV_TransLogFileGrpMsg

KV_TransLogFileGrpMsg::KV_TransLogFileGrpMsg(const KV_String& text, uint8_t level)
    : text_(text), level_(level), count_(1)
{
}

bool KV_TransLogFileGrpMsg::write_bin(KV_File& file)
{
    tm_.now();
    KV_TransLogOut out(head.pos());
    return out.num<uint32_t>(KV_FILE_REQ_LOG_ELEM_MSG) && out.num(count_) && out.time(tm_) &&
           out.num(level_) && out.num(head.id()) && out.str(text_) && out.flush(file);
}

bool KV_TransLogFileGrpMsg::read_bin(KV_TransLogIn& in)
{
    uint32_t id = 0;
    if (!in.num(count_) || !in.time(tm_) || !in.num(level_) || !in.num(id) || !in.str(text_))
        return false;
    head.set_id(id);
    return true;
}

bool KV_TransLogFileGrpMsg::repeat(KV_File& file)
{
    tm_.now();
    ++count_;
    KV_TransLogOut out(head.pos() + 4);
    return out.num(count_) && out.time(tm_) && out.rewrite(file);
}

// ---------------------------------------------------------------------------
// KV_TransLogFileGrpFop

KV_TransLogFileGrpFop::KV_TransLogFileGrpFop(const KV_PathDef& path, uint8_t status, uint8_t op)
    : status_(status), op_(op), path_(path)
{
}

KV_TransLogFileGrpFop::KV_TransLogFileGrpFop(const KV_TransLogFileGrpFop& other)
    : head(other.head), status_(other.status_), op_(other.op_), tm_(other.tm_), path_(other.path_),
      nerr_(other.nerr_)
{
}

KV_TransLogFileGrpFop& KV_TransLogFileGrpFop::operator=(const KV_TransLogFileGrpFop& other)
{
    head = other.head;
    status_ = other.status_;
    op_ = other.op_;
    tm_ = other.tm_;
    path_ = other.path_;
    nerr_ = other.nerr_;
    return *this;
}

bool KV_TransLogFileGrpFop::write_bin(KV_File& file)
{
    tm_.now();
    KV_TransLogOut out(head.pos());
    return out.num<uint32_t>(KV_FILE_REQ_LOG_ELEM_FILEOP) && out.num(status_) && out.num(op_) &&
           out.time(tm_) && out.path(path_) && out.num(head.id()) && out.flush(file);
}

bool KV_TransLogFileGrpFop::read_bin(KV_TransLogIn& in)
{
    uint32_t id = 0;
    if (!in.num(status_) || !in.num(op_) || !in.time(tm_) || !in.path(path_) || !in.num(id))
        return false;
    head.set_id(id);
    return true;
}

bool KV_TransLogFileGrpFop::update(KV_File& file, uint8_t status, uint8_t op)
{
    status_ = status;
    if (op != 0)
        op_ = op;
    tm_.now();
    KV_TransLogOut out(head.pos() + 4);
    return out.num(status_) && out.num(op_) && out.time(tm_) && out.rewrite(file);
}

// ---------------------------------------------------------------------------
// KV_TransLogFileGrpFopCp

KV_TransLogFileGrpFopCp::KV_TransLogFileGrpFopCp(uint8_t phase, const KV_PathDef& path,
                                                 const KV_String& sublog)
    : sublog_(sublog), path_(path), phase_(phase)
{
}

KV_TransLogFileGrpFopCp::KV_TransLogFileGrpFopCp(uint8_t phase, uint8_t status,
                                                 const KV_PathDef& path, const KV_String& sublog,
                                                 int64_t size, const KV_String& tm_text)
    : status_(status), tm_text_(tm_text), size_(size), sublog_(sublog), path_(path), phase_(phase)
{
}

KV_TransLogFileGrpFopCp::KV_TransLogFileGrpFopCp(const KV_TransLogFileGrpFopCp& other)
    : head(other.head), status_(other.status_), tm_text_(other.tm_text_), size_(other.size_),
      size_local_(other.size_local_), tm_status_(other.tm_status_), tm_local_(other.tm_local_),
      sublog_(other.sublog_), path_(other.path_), phase_(other.phase_), progress_(other.progress_),
      nerr_(other.nerr_)
{
}

KV_TransLogFileGrpFopCp& KV_TransLogFileGrpFopCp::operator=(const KV_TransLogFileGrpFopCp& other)
{
    head = other.head;
    status_ = other.status_;
    tm_text_ = other.tm_text_;
    size_ = other.size_;
    size_local_ = other.size_local_;
    tm_status_ = other.tm_status_;
    tm_local_ = other.tm_local_;
    sublog_ = other.sublog_;
    path_ = other.path_;
    phase_ = other.phase_;
    progress_ = other.progress_;
    nerr_ = other.nerr_;
    return *this;
}

bool KV_TransLogFileGrpFopCp::operator==(const KV_TransLogFileGrpFopCp& other) const
{
    return phase_ == other.phase_ && path_ == other.path_;
}

bool KV_TransLogFileGrpFopCp::operator<(const KV_TransLogFileGrpFopCp& other) const
{
    if (phase_ != other.phase_)
        return phase_ < other.phase_;
    return path_ < other.path_;
}

bool KV_TransLogFileGrpFopCp::write_bin(KV_File& file)
{
    if (!sublog_fits(sublog_))
        return false;
    tm_status_.now();
    KV_TransLogOut out(head.pos());
    return out.num<uint32_t>(KV_FILE_REQ_LOG_ELEM_FILEOP_CP) && out.num(status_) &&
           out.fixed(tm_text_, TM_TEXT_SIZE) && out.num(size_) && out.time(tm_status_) &&
           out.num(size_local_) && out.time(tm_local_) && out.fixed(sublog_, SUBLOG_SIZE) &&
           out.path(path_) && out.num(phase_) && out.num(head.id()) && out.flush(file);
}

bool KV_TransLogFileGrpFopCp::read_bin(KV_TransLogIn& in)
{
    uint32_t id = 0;
    if (!in.num(status_) || !get_fixed(in, tm_text_, TM_TEXT_SIZE) || !in.num(size_) ||
        !in.time(tm_status_) || !in.num(size_local_) || !in.time(tm_local_) ||
        !get_fixed(in, sublog_, SUBLOG_SIZE) || !in.path(path_) || !in.num(phase_) || !in.num(id))
        return false;
    head.set_id(id);
    // The phase is half of the record's key and the status decides whether
    // the file is copied again: values no writer makes are damage.
    return status_ <= ST_SKIPPED && phase_ <= 3;
}

bool KV_TransLogFileGrpFopCp::update(KV_File& file, uint8_t status, int64_t size,
                                     const KV_String& tm_text)
{
    status_ = status;
    size_ = size;
    tm_text_ = tm_text;
    tm_status_.now();
    KV_TransLogOut out(head.pos() + OFF_STATUS);
    return out.num(status_) && out.fixed(tm_text_, TM_TEXT_SIZE) && out.num(size_) &&
           out.time(tm_status_) && out.rewrite(file);
}

bool KV_TransLogFileGrpFopCp::set_props(KV_File& file, int64_t size_local, const KV_Time& tm_local)
{
    size_local_ = size_local;
    tm_local_ = tm_local;
    KV_TransLogOut out(head.pos() + OFF_LOCAL);
    return out.num(size_local_) && out.time(tm_local_) && out.rewrite(file);
}

bool KV_TransLogFileGrpFopCp::set_sublog(KV_File& file, const KV_String& sublog)
{
    if (!sublog_fits(sublog))
        return false;
    sublog_ = sublog;
    KV_TransLogOut out(head.pos() + OFF_SUBLOG);
    return out.fixed(sublog_, SUBLOG_SIZE) && out.rewrite(file);
}
