// Kinds and states of requests, shared by the request engine, the request
// snapshots the user interface shows and the messages that carry them.
//
// Every enumeration here is a 4-byte value: messages and snapshots store
// them as they are and never interpret them, so the numbers are fixed.
#pragma once

#include <cstdint>

// Status of a request.
enum KV_REQ_STAT : uint32_t {
    KV_REQ_STAT_QUEUED = 0,
    KV_REQ_STAT_RUNNING = 1,
    KV_REQ_STAT_PAUSED = 2,
    // Never stored: passed to set_status to resume a paused request, which
    // then becomes Running.
    KV_REQ_STAT_RESUME = 3,
    KV_REQ_STAT_SUSPENDED = 4,
    KV_REQ_STAT_RESTARTING = 5,
    // The three terminal statuses.
    KV_REQ_STAT_COMPLETED = 6,
    KV_REQ_STAT_ERROR = 7,
    KV_REQ_STAT_CANCELLED = 8,
};

// Kind of a request notice (KV_MsgReqNtf) and of a request-info receiver's
// notice. 3 is not used.
enum KV_REQ_NTF : uint32_t {
    KV_REQ_NTF_INIT = 0,      // the request was added
    KV_REQ_NTF_STATUS = 1,    // status, error count or progress changed
    KV_REQ_NTF_ENDED = 2,     // the request is gone
    KV_REQ_NTF_FLASH = 4,     // the result indicator made one flash step
    KV_REQ_NTF_FLASH_END = 5, // the result indicator stopped flashing
    KV_REQ_NTF_EDIT = 6,      // downloaded files wait for the user before going back
};

// Kind of a request (KV_FileReq::type). 10 to 12 are the transfer requests.
enum KV_REQ_TYPE : uint32_t {
    KV_REQ_TYPE_MKDIR = 1,
    KV_REQ_TYPE_REN = 2,
    KV_REQ_TYPE_CHMOD = 3,
    KV_REQ_TYPE_PWD = 4,
    KV_REQ_TYPE_RM = 5,
    KV_REQ_TYPE_SCAN = 6,
    KV_REQ_TYPE_COPY = 7,
    KV_REQ_TYPE_UMAN = 8,
    KV_REQ_TYPE_DTRANS = 9,
    KV_REQ_TYPE_TRANS_CP = 10,
    KV_REQ_TYPE_TRANS_REN = 11,
    KV_REQ_TYPE_TRANS_RM = 12,
};

// Scheduling priority of a request (KV_FileReq::priority): a larger value
// runs first. Signed: the kinds use small values around the base value 1.
using KV_REQ_PRIO = int32_t;

// Kind of a request task (KV_FileReqTask::type): a command that another
// thread sends to a request manager about one request or all of them.
enum KV_REQ_TASK : uint32_t {
    KV_REQ_TASK_CANCEL = 0,
    KV_REQ_TASK_DELETE = 1,
    KV_REQ_TASK_RESTART = 2,
    KV_REQ_TASK_PAUSE = 3,
    KV_REQ_TASK_INFO = 4,
    KV_REQ_TASK_SKIP_ERR = 5,
    KV_REQ_TASK_BROWSE = 6,
    KV_REQ_TASK_PROP_SET = 7,
    KV_REQ_TASK_PROP_REQ = 8,
    KV_REQ_TASK_USG_CHCK = 9,
};

// Traffic light of a request's status in the user interface.
enum KV_REQ_TL : uint32_t {
    KV_REQ_TL_NONE = 0,
    KV_REQ_TL_CANCELLED = 1,
    KV_REQ_TL_WAITING = 2, // paused, suspended, restarting
    KV_REQ_TL_RUNNING = 3,
};

// Additional-result indicator that flashes when a request ends or fails.
enum KV_REQ_ADD : uint32_t {
    KV_REQ_ADD_NONE = 0,
    KV_REQ_ADD_COMPLETED = 1,
    KV_REQ_ADD_ERROR = 2,
    // The request has errors although its status shows no other indicator.
    KV_REQ_ADD_ERRORS = 3,
};

// Kind of a worker notice (KV_MsgTavoNtf).
enum KV_TAVO_NTF : uint32_t {
    KV_TAVO_NTF_ADDED = 0,   // a worker was added (text "Ready")
    KV_TAVO_NTF_STATUS = 1,  // a worker's status text (text2: error text or empty)
    KV_TAVO_NTF_REMOVED = 2, // a worker was removed
    KV_TAVO_NTF_CHANGED = 3, // the set of workers changed (worker id 0)
};
