// What the SSH transport tests and benchmarks share: a channel and a channel
// table of their own (the session sees them only through KV_SshChanIf and
// KV_SshChanMapIf), an SSH manager that opens one such channel per
// connection, and an action that records that it ran.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "datasources/kv_manopts.h"
#include "ssh/kv_sshact.h"
#include "ssh/kv_sshchanif.h"
#include "ssh/kv_sshman.h"

namespace kvtest {

// Window and packet sizes a client channel opens with.
constexpr uint32_t kChanWnd = 0x20000;
constexpr uint32_t kChanPacket = 0x6000;

// A channel that keeps what it receives and sends what the test queues.
// The session's thread calls the interface; the test's thread queues and
// reads under the channel's mutex.
class TestChan : public KV_SshChanIf
{
public:
    explicit TestChan(std::string subsystem) : name_(std::move(subsystem)) {}

    bool is_open() const override { return state_.load() == 1; }
    void set_state(uint32_t s) override { state_.store(s); }
    uint32_t state() const { return state_.load(); }
    void confirm(uint32_t id, uint32_t wnd, uint32_t max_packet) override
    {
        std::lock_guard<std::mutex> g(m_);
        remote_id_ = id;
        remote_wnd_ = wnd;
        remote_max_ = max_packet;
    }
    void remote_wnd_add(uint32_t n) override
    {
        std::lock_guard<std::mutex> g(m_);
        remote_wnd_ += n;
    }
    void local_wnd_add(uint32_t n) override
    {
        std::lock_guard<std::mutex> g(m_);
        local_wnd_ += n;
    }
    uint32_t remote_id() const override
    {
        std::lock_guard<std::mutex> g(m_);
        return remote_id_;
    }
    KV_String name() const override { return KV_String(name_.c_str()); }
    uint32_t local_wnd() const override
    {
        std::lock_guard<std::mutex> g(m_);
        return local_wnd_;
    }
    uint32_t local_max_packet() const override { return kChanPacket; }
    bool data_in(const KV_Stream& data, bool& need_adjust, uint32_t, uint8_t*) override
    {
        std::lock_guard<std::mutex> g(m_);
        if (data.length() > local_wnd_)
            return false;
        if (data.length())
            in_.append(reinterpret_cast<const char*>(static_cast<const unsigned char*>(data)),
                       data.length());
        local_wnd_ -= data.length();
        need_adjust = local_wnd_ < 4097;
        return true;
    }
    uint32_t wnd_refill() const override
    {
        std::lock_guard<std::mutex> g(m_);
        return kChanWnd - local_wnd_;
    }
    bool data_out() override { return true; }
    bool take_out(KV_Stream& dest) override
    {
        std::lock_guard<std::mutex> g(m_);
        uint32_t n = remote_wnd_;
        if (remote_max_ != 0 && remote_max_ < n)
            n = remote_max_;
        if (out_.size() < n)
            n = static_cast<uint32_t>(out_.size());
        if (n == 0)
            return true;
        if (!dest.append(reinterpret_cast<const unsigned char*>(out_.data()), n))
            return false;
        out_.erase(0, n);
        remote_wnd_ -= n;
        return true;
    }
    void end() override { ended_.store(true); }

    void queue(const std::string& bytes)
    {
        std::lock_guard<std::mutex> g(m_);
        out_ += bytes;
    }
    std::string received() const
    {
        std::lock_guard<std::mutex> g(m_);
        return in_;
    }
    bool ended() const { return ended_.load(); }

private:
    const std::string name_;
    mutable std::mutex m_;
    std::atomic<uint32_t> state_{0};
    std::atomic<bool> ended_{false};
    uint32_t remote_id_ = 0;
    uint32_t remote_wnd_ = 0;
    uint32_t remote_max_ = 0;
    uint32_t local_wnd_ = kChanWnd;
    std::string in_;
    std::string out_;
};

class TestChanMap : public KV_SshChanMapIf
{
public:
    KV_SshChanIf* chan(uint32_t n) override
    {
        auto it = chans_.find(n);
        return it == chans_.end() ? nullptr : it->second.get();
    }
    bool drop(uint32_t n) override { return chans_.erase(n) == 1; }
    void numbers(std::vector<uint32_t>& out) const override
    {
        out.clear();
        for (const auto& c : chans_)
            out.push_back(c.first);
    }
    std::map<uint32_t, std::unique_ptr<TestChan>> chans_;
};

// Opens one channel (number 1) with the given subsystem on each connection.
// The newest channel stays reachable through chan() while its session
// lives.
class TestSshMan : public KV_SshMan
{
public:
    explicit TestSshMan(std::string subsystem = "sftp") : subsystem_(std::move(subsystem)) {}
    ~TestSshMan() override { close(); }

    std::unique_ptr<KV_SshChanMapIf> init_channels() override
    {
        auto map = std::make_unique<TestChanMap>();
        if (channels_) {
            auto c = std::make_unique<TestChan>(subsystem_);
            chan_.store(c.get());
            map->chans_[1] = std::move(c);
        }
        return map;
    }
    KV_SshAct* init_act() const override { return make_init ? make_init() : nullptr; }
    void new_conn() override { ++conns; }
    void end_sess() override
    {
        chan_.store(nullptr);
        ++ends;
    }
    KV_SSH_MAN_TYPE type_ssh() const override { return KV_SSH_MAN_SFTP; }
    const KV_SshManOpts& opts() const override { return opts_; }
    uint32_t tmout_open() const override { return tmout_open_ms; }

    TestChan* chan() const { return chan_.load(); }

    KV_SshManOpts opts_;
    // 0 opens no channel at all.
    bool channels_ = true;
    uint32_t tmout_open_ms = 20000;
    KV_SshAct* (*make_init)() = nullptr;
    std::atomic<int> conns{0};
    std::atomic<int> ends{0};

private:
    const std::string subsystem_;
    std::atomic<TestChan*> chan_{nullptr};
};

// Counts its runs; its result is `result`.
class CountAct : public KV_SshActTrans
{
public:
    bool run() override
    {
        ++runs;
        return result;
    }
    int runs = 0;
    bool result = true;
};

} // namespace kvtest
