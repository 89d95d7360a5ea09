// The copy (and move) transfer request.
//
// This far only what an elementary copy step (KV_FileReqCopy) asks of its
// transfer is declared: the two file managers. The request itself comes with
// the transfers. The operations are weak declarations until then, so that
// the library links while nothing can create such a request yet.
#pragma once

#include "transfers/kv_filereqtrans.h"

class KV_FileMan;

class KV_FileReqTransCp : public KV_FileReqTrans
{
public:
    using KV_FileReqTrans::KV_FileReqTrans;

    // The source and destination managers of the transfer; swapped while the
    // transfer copies back in the second phase of its copy log. Either may be
    // null.
    [[gnu::weak]] KV_FileMan* man_src() const;
    [[gnu::weak]] KV_FileMan* man_dst() const;
};
