// Shared fixtures of the tests: a temporary folder removed with everything
// in it, and an error handler that keeps (or drops) what it is told.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_string.h"

namespace kvtest {

// A fresh folder under $TMPDIR (or /tmp), removed with its contents when the
// object goes. path() has no trailing separator.
class TempDir
{
public:
    explicit TempDir(const char* tag = "kvtest")
    {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/" + tag + ".XXXXXX";
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
    // `name` below the folder.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A fixture that gives each test its own temporary folder in `dir`.
class TempDirTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.ok()) << "no temporary folder"; }
    TempDir dir;
};

// Drops every error.
class NullErr : public KV_ErrHandler
{
protected:
    void process_err(uint8_t, const KV_String&) override {}
};

// Keeps every error's text, in order; safe to read after the reporters ended.
class LogErr : public KV_ErrHandler
{
public:
    std::vector<std::string> texts() const
    {
        std::lock_guard<std::mutex> g(m_);
        return texts_;
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

protected:
    void process_err(uint8_t, const KV_String& text) override
    {
        std::lock_guard<std::mutex> g(m_);
        texts_.emplace_back(text.data(), text.length());
    }

private:
    mutable std::mutex m_;
    std::vector<std::string> texts_;
};

} // namespace kvtest
