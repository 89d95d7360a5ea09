#include "requests/kv_filereqinfo.h"

KV_FileReqInfo::~KV_FileReqInfo() = default;

bool KV_FileReqInfo::update(const KV_FileReqInfo& other, KV_REQ_ADD& add_out, bool& flashed)
{
    // descr and tm_start are not part of the comparison: they are filled once
    // and a change of only them is not worth a refresh of the display.
    bool changed = operation_ != other.operation_ || status_ != other.status_ ||
                   err_cnt_ != other.err_cnt_ || prog_perc_ != other.prog_perc_ ||
                   add_ != other.add_ || flags_ != other.flags_;
    if (!changed) {
        return false;
    }
    bool errors_grew = err_cnt_ < other.err_cnt_;
    bool add_changed = add_ != other.add_;

    operation_ = other.operation_;
    status_str_ = other.status_str_;
    status_ = other.status_;
    prog_perc_ = other.prog_perc_;
    tl_ = other.tl_;
    flags_ = other.flags_;
    err_cnt_ = other.err_cnt_;
    last_err_ = other.last_err_;

    if ((add_changed || errors_grew) && (add_cnt_ == 0 || other.add_ != KV_REQ_ADD_NONE)) {
        add_ = other.add_;
        add_out = add_;
        add_cnt_ = 2 * add_init_cnt();
        flashed = true;
    }
    if (status_ == KV_REQ_STAT_CANCELLED && add_cnt_ != 0) {
        // A cancelled request stops flashing at the next step.
        add_cnt_ = 1;
    }
    return true;
}

void KV_FileReqInfo::set_status(KV_REQ_STAT status, const char* text)
{
    status_ = status;
    status_str_ = text;
}

void KV_FileReqInfo::set_flags(uint8_t bits, uint8_t clear)
{
    flags_ = static_cast<uint8_t>(bits | (flags_ & ~clear));
}

void KV_FileReqInfo::updt_add_cnt(bool reset)
{
    if (add_cnt_ != 0) {
        add_cnt_ = reset ? 0 : add_cnt_ - 1;
    }
}

KV_FileReqLogElem::KV_FileReqLogElem(KV_FILE_REQ_LOG_ELEM kind, uint32_t seq, const KV_Time& time,
                                     const KV_String& text, int code, const KV_String& note)
    : kind(kind), note(note), text(text), code(code), seq(seq), time(time)
{
}

KV_FileReqLog::KV_FileReqLog() = default;

KV_FileReqLog::~KV_FileReqLog()
{
    clear();
}

void KV_FileReqLog::clear()
{
    for (const KV_FileReqLogElem* elem : elems) {
        delete elem;
    }
    elems.clear();
}

bool KV_FileReqLog::insert(const KV_FileReqLogElem* elem)
{
    if (!elem) {
        return false;
    }
    return elems.add(elem);
}
