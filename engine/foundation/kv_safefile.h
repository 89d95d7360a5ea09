// Saving a stored file whole or not at all.
//
// A KV_SafeFile writes the new contents of a file to "<name>.new" in the same
// folder and only commit() puts them in place: it makes the bytes durable
// (flush, fsync), renames them over the file in one step and makes the rename
// durable (fsync of the folder). Until commit() succeeds the stored file is
// untouched, so a failed or interrupted save leaves it as it was, plus at
// worst a "<name>.new" that was never renamed and that the next open()
// removes. Every file the engine saves over an earlier version (the
// data-source file, the stores of trusted certificates and host keys) goes
// through here.
//
// Threads: one thread at a time per object. The name of the new file is fixed,
// so that an interrupted save's leftover is found again: two objects must not
// save the same name at the same time.
#pragma once

#include <cstdint>

#include "foundation/kv_file.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

class KV_SafeFile : public KV_Storage
{
public:
    // Nothing is opened or created yet.
    explicit KV_SafeFile(const KV_String& name);
    // Discards a new version that was not committed.
    ~KV_SafeFile() override;
    KV_SafeFile(const KV_SafeFile&) = delete;
    KV_SafeFile& operator=(const KV_SafeFile&) = delete;

    // Starts a new version, discarding one already begun: whatever lies at
    // "<name>.new" is removed (it was never renamed into place, so it is an
    // incomplete leftover; a link there is removed, not followed), then the
    // file is created afresh and exclusively (O_EXCL), so the bytes never go
    // through a link planted under that name. True when it is open.
    bool open() override;
    // A new version is open for writing.
    bool opened() const override;
    // Discards the new version: it is closed and removed, the stored file
    // stays as it was. Always true.
    bool close() override;
    // The new version is written, never read: always 0.
    uint32_t read(void* dst, uint32_t n) override;
    // Appends to the new version; the count taken (0 when none is open).
    uint32_t write(const unsigned char* src, uint32_t n) override;

    // Makes the new version durable without putting it in place, for a
    // caller that must do something between (the data-source tree removes
    // an old backup there). False when no version is open or a write, the
    // flush or the fsync failed; the version is then discarded.
    bool sync();
    // Puts the new version in place: sync() unless done, then the rename
    // over the stored file, then the fsync of the folder (a folder that
    // refuses it, as some file systems do, still holds the complete new
    // file: no failure). False when a step up to the rename failed; the new
    // version is then discarded and the stored file untouched. Either way
    // nothing is open afterwards.
    bool commit();

    const KV_String& name() const { return name_; }
    // "<name>.new".
    const KV_String& next_name() const { return next_; }

private:
    void discard();

    KV_String name_;
    KV_String next_;
    KV_File file_;
    // A version exists at next_ (open, or synced and closed).
    bool begun_ = false;
    // Some write took less than it was given: the version is incomplete.
    bool short_ = false;
    bool synced_ = false;
};
