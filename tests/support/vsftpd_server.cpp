#include "support/vsftpd_server.h"

#include <unistd.h>

#include <filesystem>
#include <vector>

namespace kestrel::test {

VsFtpServer::VsFtpServer() : m_port(freePort()) {
    if (!std::filesystem::exists("/usr/sbin/vsftpd") || ::geteuid() != 0) {
        m_why = "vsftpd is not installed or the tests do not run as root";
        return;
    }
    namespace stdfs = std::filesystem;
    stdfs::create_directories(m_dir.file("root/upload"));
    stdfs::create_directories(m_dir.file("empty"));
    // The anonymous user (daemon) walks to the root and writes in its upload folder.
    stdfs::permissions(m_dir.path(), stdfs::perms::owner_all | stdfs::perms::group_read |
                                         stdfs::perms::group_exec | stdfs::perms::others_read |
                                         stdfs::perms::others_exec);
    stdfs::permissions(m_dir.file("root/upload"), stdfs::perms::all);
    const int low = m_port + 1;
    m_dir.write("vsftpd.conf",
                "listen=YES\nlisten_ipv6=NO\nbackground=NO\nlisten_address=127.0.0.1\n"
                "listen_port=" +
                    std::to_string(m_port) +
                    "\nanonymous_enable=YES\nlocal_enable=NO\nwrite_enable=YES\n"
                    "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                    "anon_other_write_enable=YES\nanon_root=" +
                    root() + "\nanon_umask=022\nno_anon_password=YES\nftp_username=daemon\n" +
                    "nopriv_user=daemon\nsecure_chroot_dir=" + m_dir.file("empty") +
                    "\npasv_enable=YES\npasv_min_port=" + std::to_string(low) +
                    "\npasv_max_port=" + std::to_string(low + 40) +
                    "\nport_enable=YES\nseccomp_sandbox=NO\nisolate=NO\n"
                    "isolate_network=NO\nxferlog_enable=NO\n");
    m_process = std::make_unique<ServerProcess>(
        std::vector<std::string>{"/usr/sbin/vsftpd", m_dir.file("vsftpd.conf")}, m_port);
    if (!m_process->running()) {
        m_why = "the server did not start";
    }
}

}  // namespace kestrel::test
