// Parameters of a transfer request, and the file operation that follows a
// copy.
//
// The user interface receives parameters as clones made by the engine (in a
// KV_MsgReqParams) and hands them back to KV_FileReqTransParams::destr_clone,
// so that the engine library's heap frees what it allocated.
//
// Threads: plain values without a lock; whoever holds one guards it (a
// transfer log guards the parameters it holds with its own lock).
#pragma once

#include <cstdint>

#include "datasources/kv_reqdefs.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_time.h"

// What follows a copy request once its files have arrived.
enum KV_FILEOP : uint32_t {
    KV_FILEOP_COPY = 0, // plain copy, move or mirror
    KV_FILEOP_OPEN = 1,
    KV_FILEOP_VIEW = 2,
    KV_FILEOP_EDIT = 3, // the changed files go back to where they came from
    KV_FILEOP_PRINT = 4,
    KV_FILEOP_UPDATE_CHECK = 5, // download of the update information
    KV_FILEOP_UPDATE_APP = 6,   // download of the application update
};

// Whether a transfer asks the user its questions.
enum KV_FEXEC_TYPE : uint32_t {
    KV_FEXEC_NONE = 0,   // questions are asked
    KV_FEXEC_FORCED = 1, // every question is answered Yes without asking
};

// Abstract base of the parameters of the copy, rename and delete transfers.
class KV_FileReqTransParams
{
public:
    // Bytes of the binary form of the base (and of the rename and delete
    // kinds).
    static constexpr uint32_t BIN_SIZE = 12;

    // Not forced, no scheduled start, created now.
    KV_FileReqTransParams();
    KV_FileReqTransParams(const KV_FileReqTransParams&) = default;
    // Copies forced_exec, tm_start and tm_started. The kinds override it:
    // from parameters of their own kind they copy everything, from any other
    // kind only these three fields.
    virtual KV_FileReqTransParams& operator=(const KV_FileReqTransParams&) = default;
    // Virtual: clones are freed through a base pointer (destr_clone), which
    // is only defined behaviour with a virtual destructor.
    virtual ~KV_FileReqTransParams();

    // A heap copy of the same kind, owned by the caller, who frees it with
    // destr_clone. Null when memory cannot be had.
    virtual KV_FileReqTransParams* clone() const = 0;
    // The request kind the parameters belong to (10 copy or move, 11 rename,
    // 12 delete): an assignment copies a kind's own fields only between
    // parameters of the same kind.
    virtual KV_REQ_TYPE type() const = 0;

    // Frees a clone made by clone(); null is accepted.
    static void destr_clone(const KV_FileReqTransParams* params);

    KV_FEXEC_TYPE forced_exec() const { return forced_exec_; }
    void set_forced_exec(KV_FEXEC_TYPE type) { forced_exec_ = type; }
    // The scheduled start; invalid when none. A valid one keeps a newly
    // queued request Suspended until then.
    const KV_Time& tm_start() const { return tm_start_; }
    void set_tm_start(const KV_Time& time) { tm_start_ = time; }
    // When the request was created.
    const KV_Time& tm_started() const { return tm_started_; }
    void set_tm_started(const KV_Time& time) { tm_started_ = time; }
    // tm_start := now: the request's suspension ends at the next pass.
    void reset_tm_susp();

    // Binary form inside a transfer log (no kind tag: the log knows the
    // kind): forced_exec as u32, tm_start and tm_started as 4 bytes each,
    // little-endian, 12 bytes; the copy kind appends its own 11. False as
    // soon as one field does not move in full; on reading, the fields read
    // before keep their new values and the others their old ones.
    virtual bool write_bin(KV_Storage& st) const;
    virtual bool read_bin(KV_Storage& st);

private:
    KV_FEXEC_TYPE forced_exec_ = KV_FEXEC_NONE;
    KV_Time tm_start_;
    KV_Time tm_started_;
};

// Parameters of a copy or move transfer (request kind 10).
class KV_FileReqTransParamsCp : public KV_FileReqTransParams
{
public:
    static constexpr uint32_t BIN_SIZE = 23;

    // The base defaults; normal mode (no mirror), no repetition, the files
    // identical in name and size are copied again, the sources are kept, no
    // direct server-to-server transfer.
    KV_FileReqTransParamsCp();
    // Every field, tm_started included.
    KV_FileReqTransParamsCp(const KV_FileReqTransParamsCp& other);
    // The defaults, then the assignment below: a copy of parameters of
    // another kind takes only the base fields.
    explicit KV_FileReqTransParamsCp(const KV_FileReqTransParams& other);
    ~KV_FileReqTransParamsCp() override;

    KV_FileReqTransParamsCp& operator=(const KV_FileReqTransParamsCp& other);
    // Every field from copy parameters (type() 10), the base fields from
    // other kinds.
    KV_FileReqTransParamsCp& operator=(const KV_FileReqTransParams& other) noexcept override;

    KV_FileReqTransParams* clone() const override;
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_TRANS_CP; }

    // The base's 12 bytes, then mirror, tm_type (1 byte each), tm_def (4),
    // dayspec (2), skip_sz, del_src and dtrans (1 byte each, 0 or 1): 23
    // bytes.
    bool write_bin(KV_Storage& st) const override;
    bool read_bin(KV_Storage& st) override;

    // 0 normal, 1 mirror (copy only), 2 mirror with deletion at the
    // destination. Only the mirror modes repeat.
    uint8_t mirror() const { return mirror_; }
    void set_mirror(uint8_t mirror) { mirror_ = mirror; }
    // Repetition of the mirror modes: 1 wait tm_def seconds after a run,
    // 2 daily, 3 weekly, 4 monthly (at tm_def seconds after midnight); 0 none.
    uint8_t tm_type() const { return tm_type_; }
    void set_tm_type(uint8_t type) { tm_type_ = type; }
    uint32_t tm_def() const { return tm_def_; }
    void set_tm_def(uint32_t seconds) { tm_def_ = seconds; }
    // Week day (0 Sunday to 6 Saturday) of the weekly kind, day of the month
    // (1 to 31) of the monthly kind.
    uint16_t dayspec() const { return dayspec_; }
    void set_dayspec(uint16_t day) { dayspec_ = day; }
    // Skip files whose name and length are the same at the destination.
    bool skip_sz() const { return skip_sz_; }
    void set_skip_sz(bool skip) { skip_sz_ = skip; }
    // Delete the sources once the transfer completed (a move).
    bool del_src() const { return del_src_; }
    void set_del_src(bool del) { del_src_ = del; }
    // Direct server-to-server transfer (FTP to FTP).
    bool dtrans() const { return dtrans_; }
    void set_dtrans(bool dtrans) { dtrans_ = dtrans; }

private:
    uint8_t mirror_ = 0;
    uint8_t tm_type_ = 0;
    uint32_t tm_def_ = 0;
    uint16_t dayspec_ = 0;
    bool skip_sz_ = false;
    bool del_src_ = false;
    bool dtrans_ = false;
};

// Parameters of a rename transfer (request kind 11): the base fields only.
class KV_FileReqTransParamsRen : public KV_FileReqTransParams
{
public:
    KV_FileReqTransParamsRen() = default;
    KV_FileReqTransParamsRen(const KV_FileReqTransParamsRen& other);
    explicit KV_FileReqTransParamsRen(const KV_FileReqTransParams& other);
    ~KV_FileReqTransParamsRen() override;

    KV_FileReqTransParamsRen& operator=(const KV_FileReqTransParamsRen& other);
    KV_FileReqTransParamsRen& operator=(const KV_FileReqTransParams& other) noexcept override;

    KV_FileReqTransParams* clone() const override;
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_TRANS_REN; }
};

// Parameters of a delete transfer (request kind 12): the base fields only.
class KV_FileReqTransParamsRm : public KV_FileReqTransParams
{
public:
    KV_FileReqTransParamsRm() = default;
    KV_FileReqTransParamsRm(const KV_FileReqTransParamsRm& other);
    explicit KV_FileReqTransParamsRm(const KV_FileReqTransParams& other);
    ~KV_FileReqTransParamsRm() override;

    KV_FileReqTransParamsRm& operator=(const KV_FileReqTransParamsRm& other);
    KV_FileReqTransParamsRm& operator=(const KV_FileReqTransParams& other) noexcept override;

    KV_FileReqTransParams* clone() const override;
    KV_REQ_TYPE type() const override { return KV_REQ_TYPE_TRANS_RM; }
};
