// vsftpd started on 127.0.0.1 for the FTP peer tests and the FTP benchmark:
// one config of the caller's own, anonymous logins only, over a root folder
// the caller fills. vsftpd drops to the "ftp" user for anonymous sessions,
// so it needs root; the root folder must belong to root and not be
// writable by "ftp" (vsftpd refuses a writable chroot), and a folder below
// it that "ftp" owns takes uploads.
#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <pwd.h>
#include <unistd.h>

#include "support/kv_childproc.h"

namespace kvtest {

// vsftpd is installed, this process runs as root and the "ftp" user
// exists.
inline bool vsftpd_usable()
{
    return !find_program("/usr/sbin/vsftpd").empty() && ::getuid() == 0 &&
           ::getpwnam("ftp") != nullptr;
}

// Writes dir/vsftpd.conf (the base lines: anonymous root `root` with
// uploads, folder creation and overwriting allowed, passive mode, no
// transfer log, then `extra`) and starts vsftpd on 127.0.0.1:port with its
// output in dir/vsftpd.log. `dir` is opened to other users so that "ftp"
// can reach a root inside it. Null when vsftpd is not usable; the caller
// waits for the port (ChildProc::wait_port) and reads the log on failure.
inline std::unique_ptr<ChildProc> start_vsftpd(const std::string& dir, const std::string& root,
                                               uint16_t port, const std::string& extra)
{
    if (!vsftpd_usable())
        return nullptr;
    namespace fs = std::filesystem;
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    fs::create_directories("/var/run/vsftpd/empty");
    const std::string conf =
        "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(port) +
        "\nbackground=NO\nanonymous_enable=YES\nanon_root=" + root +
        "\nno_anon_password=YES\nftp_username=ftp\nseccomp_sandbox=NO\npasv_enable=YES\n"
        "secure_chroot_dir=/var/run/vsftpd/empty\nxferlog_enable=NO\nwrite_enable=YES\n"
        "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\nanon_other_write_enable=YES\n"
        "anon_umask=022\n" +
        extra;
    std::ofstream(dir + "/vsftpd.conf") << conf;
    return std::make_unique<ChildProc>(find_program("/usr/sbin/vsftpd"),
                                       std::vector<std::string>{dir + "/vsftpd.conf"},
                                       dir + "/vsftpd.log");
}

} // namespace kvtest
