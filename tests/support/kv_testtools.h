// Test helpers that need no test framework, so that the fuzz targets share
// them too: a temporary folder removed with everything in it, whole files
// read and written, error handlers that keep (or drop) what they are told,
// and a cap on the size of the files the process writes.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_string.h"

namespace kvtest {

// A fresh folder under `base` (by default $TMPDIR, or /tmp), removed with its
// contents when the object goes. path() has no trailing separator; it is
// empty when no folder could be made.
class TempDir
{
public:
    explicit TempDir(const char* tag = "kvtest", const char* base = nullptr)
    {
        if (base == nullptr || *base == '\0') {
            base = std::getenv("TMPDIR");
            if (base == nullptr || *base == '\0')
                base = "/tmp";
        }
        std::string templ = std::string(base) + "/" + tag + ".XXXXXX";
        if (::mkdtemp(templ.data()))
            path_ = templ;
    }
    ~TempDir()
    {
        if (!path_.empty()) {
            std::error_code ec;
            std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
            std::filesystem::remove_all(path_, ec);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    const char* c_str() const { return path_.c_str(); }
    // `name` below the folder.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The whole contents of the file at path; empty when it cannot be read.
inline std::string read_file(const std::string& path)
{
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            bytes.append(buf, n);
        std::fclose(f);
    }
    return bytes;
}

// Creates or truncates the file at path and writes bytes into it; true when
// every byte reached the file.
inline bool write_file(const std::string& path, const std::string& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Drops every error.
class NullErr : public KV_ErrHandler
{
protected:
    void process_err(uint8_t, const KV_String&) override {}
};

// Keeps every error's text and priority, in order; safe to read while and
// after reporters run.
class LogErr : public KV_ErrHandler
{
public:
    std::vector<std::string> texts() const
    {
        std::lock_guard<std::mutex> g(m_);
        return texts_;
    }
    std::vector<uint8_t> prios() const
    {
        std::lock_guard<std::mutex> g(m_);
        return prios_;
    }
    std::string last() const
    {
        std::lock_guard<std::mutex> g(m_);
        return texts_.empty() ? std::string() : texts_.back();
    }
    size_t count() const
    {
        std::lock_guard<std::mutex> g(m_);
        return texts_.size();
    }
    // Every text followed by a line break: one string to show on a failure.
    std::string all() const
    {
        std::lock_guard<std::mutex> g(m_);
        std::string s;
        for (const std::string& t : texts_)
            s += t + "\n";
        return s;
    }
    void clear()
    {
        std::lock_guard<std::mutex> g(m_);
        texts_.clear();
        prios_.clear();
    }

protected:
    void process_err(uint8_t prio, const KV_String& text) override
    {
        std::lock_guard<std::mutex> g(m_);
        texts_.emplace_back(text.data(), text.length());
        prios_.push_back(prio);
    }

private:
    mutable std::mutex m_;
    std::vector<std::string> texts_;
    std::vector<uint8_t> prios_;
};

// While the object lives, a file of this process can grow to `limit` bytes
// only: a write beyond fails with EFBIG (SIGXFSZ is ignored), the way a full
// disk makes it fail. Process-wide: only for tests that start no threads.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        struct sigaction ign = {};
        ign.sa_handler = SIG_IGN;
        if (getrlimit(RLIMIT_FSIZE, &saved_lim_) != 0 || sigaction(SIGXFSZ, &ign, &saved_act_) != 0)
            return;
        struct rlimit lim = saved_lim_;
        lim.rlim_cur = limit;
        ok_ = setrlimit(RLIMIT_FSIZE, &lim) == 0;
        if (!ok_)
            sigaction(SIGXFSZ, &saved_act_, nullptr);
    }
    ~FileSizeLimit() { end(); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    // The limit is in force.
    bool ok() const { return ok_; }
    // Lifts the limit before the object goes; true when it was lifted.
    bool end()
    {
        if (!ok_)
            return true;
        ok_ = false;
        const bool lim = setrlimit(RLIMIT_FSIZE, &saved_lim_) == 0;
        return sigaction(SIGXFSZ, &saved_act_, nullptr) == 0 && lim;
    }

private:
    struct rlimit saved_lim_ = {};
    struct sigaction saved_act_ = {};
    bool ok_ = false;
};

} // namespace kvtest
