// A server program started by a test (openssl s_server, tinyproxy, danted):
// run in the foreground with its output in a log file, stopped by its
// process id when the object goes.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/kv_nettest.h"

namespace kvtest {

// The full path of an executable: `name` itself when it holds a '/', else
// the first match in the usual folders and PATH; empty when none is found.
inline std::string find_program(const std::string& name)
{
    auto runnable = [](const std::string& p) {
        struct stat st
        {
        };
        return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos)
        return runnable(name) ? name : std::string();
    std::string dirs = "/usr/sbin:/usr/bin:/sbin:/bin";
    if (const char* path = std::getenv("PATH"))
        dirs += std::string(":") + path;
    std::stringstream ss(dirs);
    std::string d;
    while (std::getline(ss, d, ':')) {
        if (!d.empty() && runnable(d + "/" + name))
            return d + "/" + name;
    }
    return std::string();
}

class ChildProc
{
public:
    // Starts program with args; stdin from /dev/null, stdout and stderr
    // into log_file.
    ChildProc(const std::string& program, const std::vector<std::string>& args,
              const std::string& log_file)
        : log_(log_file)
    {
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int in = ::open("/dev/null", O_RDONLY);
            const int out = ::open(log_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in >= 0)
                ::dup2(in, 0);
            if (out >= 0) {
                ::dup2(out, 1);
                ::dup2(out, 2);
            }
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
    }
    ~ChildProc() { stop(); }
    ChildProc(const ChildProc&) = delete;
    ChildProc& operator=(const ChildProc&) = delete;

    bool started() const { return pid_ > 0; }
    // Still running (not reaped).
    bool alive()
    {
        if (pid_ <= 0)
            return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        return true;
    }
    // SIGTERM, then SIGKILL after two seconds; reaps the process.
    void stop()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }
    std::string log() const
    {
        std::ifstream f(log_);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    // Waits until something accepts connections on 127.0.0.1:port (or the
    // process has ended).
    bool wait_port(uint16_t port, int ms = kMustComeMs)
    {
        return eventually([&] { return !alive() || plain_connect(port).ok(); }, ms) && alive();
    }

private:
    pid_t pid_ = -1;
    std::string log_;
};

} // namespace kvtest
