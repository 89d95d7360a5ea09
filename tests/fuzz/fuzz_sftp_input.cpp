// The SFTP channel's input: whatever the server sends, cut into whatever
// pieces the transport delivers. The first byte gives the piece size; the
// rest is the byte stream. Every message taken must consume at least its
// five header bytes, the buffer must never hold more than one partial
// message of at most the accepted size plus one piece, and once the stream
// is refused nothing more is taken.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "ssh/kv_sshchannel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t step = data[0] ? data[0] : 1;
    ++data;
    --size;
    KV_Stream in;
    for (size_t pos = 0; pos < size; pos += step) {
        const size_t n = size - pos < step ? size - pos : step;
        if (!in.append(data + pos, static_cast<uint32_t>(n)))
            return 0;
        for (;;) {
            const uint32_t before = in.length();
            std::unique_ptr<KV_SftpMsg> m;
            const KV_SFTP_CUT r = KV_SshChannelSftp::cut_msg(in, m);
            if (r == KV_SFTP_CUT_BAD)
                return 0;
            if (r == KV_SFTP_CUT_MORE) {
                if (m || in.length() != before ||
                    in.length() > KV_SshChannelSftp::max_msg + 4 + step)
                    __builtin_trap();
                break;
            }
            if (!m || before - in.length() < 5)
                __builtin_trap();
            (void)m->describe();
            if (m->type() == KV_SFTP_STATUS)
                (void)static_cast<KV_SftpMsgStatus*>(m.get())->err_text();
        }
    }
    return 0;
}
