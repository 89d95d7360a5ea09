// Where the root group of the data-source tree hands the transfer options
// it loads and edits: the transfer manager, a layer above the tree,
// implements it.
//
// Threads: the tree's thread.
#pragma once

class KV_FileTransManOpts;

class KV_TransOptsRecv
{
public:
    // Takes a copy of `opts`.
    virtual void set_opts(const KV_FileTransManOpts& opts) = 0;

protected:
    KV_TransOptsRecv() = default;
    KV_TransOptsRecv(const KV_TransOptsRecv&) = default;
    KV_TransOptsRecv& operator=(const KV_TransOptsRecv&) = default;
    ~KV_TransOptsRecv() = default;
};
